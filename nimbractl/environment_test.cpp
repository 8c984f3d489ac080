#include "nimbractl/environment.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <sstream>

#include "tests/test_support.h"

namespace {

const std::string kDirs = "[nimbra_path]\nbase=/opt/n\nramdisk=/tmp/n\ndata=/data/n\ndb=/data/db\nlog=/tmp/log\n";
const std::string kNetwork = "[network]\nifnames=br0, eth1\n";

class environment : public agent_test {
protected:
    int export_with(const std::string &ini) {
        setenv("PATH", "/usr/bin", 1);
        unsetenv("LD_LIBRARY_PATH");
        use_config(dir, ini);
        return capture(export_environment);
    }
};

TEST_F(environment, exports_every_variable) {
    // A configuration, and NAME=value lines of what it exports.
    const struct { std::string ini, variables; } cases[] = {
        {kDirs + kNetwork,
         "NIMBRA_ROOT=/opt/n/shares/usr/bin/\nNIMBRA_BASE=/opt/n/shares/\nNIMBRA_TMP=/tmp/n\nNIMBRA_DATA=/data/n\n"
         "NIMBRA_DB_PATH=/data/db\nNIMBRA_LOG=/tmp/log\nNIMBRA_BRIDGE=br0\nNIMBRA_DNSMASQ_PORT=5300\n"
         "NIMBRA_ROUTER_DNSMASQ_PORT=53\nNIMBRA_PORT_FILTERD=4600\nNIMBRA_PORT_TIMETRACKER_DNS=4601\n"
         "NIMBRA_PORT_DNSMASQ_SAVEDQ=4605\nNIMBRA_PORT_IPADDR_MANAGER=4603\nPATH=/opt/n/shares/usr/bin/:/usr/bin\n"
         "LD_LIBRARY_PATH=/opt/n/shares/usr/lib/\n"},
        {kDirs + "[network]\nbridge_ifname=br-lan\n[nimbra_ports]\nbase_port=65535\ndnsmasq_port=53\n"
                 "router_dnsmasq_port=5353\n",
         "NIMBRA_BRIDGE=br-lan\nNIMBRA_DNSMASQ_PORT=53\nNIMBRA_ROUTER_DNSMASQ_PORT=5353\nNIMBRA_PORT_DNSMASQ_SAVEDQ=4\n"},
        // Without a base the paths are empty; start reports the missing root.
        {"[nimbra_path]\nramdisk=/r\ndata=/d\ndb=/db\nlog=/l\n" + kNetwork, "NIMBRA_ROOT=\nPATH=:/usr/bin\n"},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(export_with(c.ini), 0) << err;
        std::istringstream lines(c.variables);
        for (std::string line; std::getline(lines, line);) {
            const char *value = getenv(line.substr(0, line.find('=')).c_str());
            EXPECT_EQ(line.substr(0, line.find('=') + 1) + (value ? value : "<unset>"), line);
        }
    }
}

}  // namespace

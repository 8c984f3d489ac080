#include "nimbractl/environment.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "tests/test_support.h"
#include "util/files.h"
#include "util/shell_safe.h"

namespace {

const char kDirs[] =
    "[nimbra_path]\nbase=/opt/nimbra\nramdisk=/tmp/nimbra\ndata=/data/nimbra\ndb=/data/db\nlog=/tmp/log\n";

class environment : public agent_test {
protected:
    void SetUp() override {
        agent_test::SetUp();
        setenv("PATH", "/usr/bin", 1);
        unsetenv("LD_LIBRARY_PATH");
    }
    void TearDown() override {
        setenv("PATH", saved_path_.c_str(), 1);
        agent_test::TearDown();
    }
    int export_with(const std::string &ini) {
        use_config(dir, ini);
        return capture(export_environment);
    }
    static std::string env(const char *name) {
        const char *value = getenv(name);
        return value ? value : "<unset>";
    }
    std::string saved_path_ = getenv("PATH");
};

TEST_F(environment, exports_every_variable) {
    ASSERT_EQ(export_with(std::string(kDirs) + "[network]\nifnames=br0, eth1\n"), 0) << err;
    const struct {
        const char *name, *value;
    } expected[] = {
        {"NIMBRA_ROOT", "/opt/nimbra/shares/usr/bin/"}, {"NIMBRA_BASE", "/opt/nimbra/shares/"},
        {"NIMBRA_TMP", "/tmp/nimbra"}, {"NIMBRA_DATA", "/data/nimbra"}, {"NIMBRA_DB_PATH", "/data/db"},
        {"NIMBRA_LOG", "/tmp/log"}, {"NIMBRA_BRIDGE", "br0"}, {"NIMBRA_DNSMASQ_PORT", "5300"},
        {"NIMBRA_ROUTER_DNSMASQ_PORT", "53"}, {"NIMBRA_PORT_FILTERD", "4600"},
        {"NIMBRA_PORT_TIMETRACKER_DNS", "4601"}, {"NIMBRA_PORT_DNSMASQ_SAVEDQ", "4605"},
        {"NIMBRA_PORT_IPADDR_MANAGER", "4603"}, {"PATH", "/opt/nimbra/shares/usr/bin/:/usr/bin"},
        {"LD_LIBRARY_PATH", "/opt/nimbra/shares/usr/lib/"},
    };
    for (const auto &e : expected) EXPECT_EQ(env(e.name), e.value) << e.name;
}

TEST_F(environment, ports_and_bridge_follow_configuration) {
    const std::string ports = "[nimbra_ports]\nbase_port=65535\ndnsmasq_port=53\nrouter_dnsmasq_port=5353\n";
    ASSERT_EQ(export_with(kDirs + ("[network]\nbridge_ifname=br-lan\n" + ports)), 0) << err;
    EXPECT_EQ(env("NIMBRA_BRIDGE") + " " + env("NIMBRA_PORT_DNSMASQ_SAVEDQ") + " " +
                  env("NIMBRA_DNSMASQ_PORT") + " " + env("NIMBRA_ROUTER_DNSMASQ_PORT"),
              "br-lan 4 53 5353");
}

TEST_F(environment, missing_settings) {
    EXPECT_EQ(export_with(kDirs), -1);
    EXPECT_EQ(export_with("[nimbra_path]\nbase=/b\nramdisk=/r\n[network]\nifnames=br0\n"), -1);
    EXPECT_NE(err.find("Warning: 'nimbra_path.data' not found"), std::string::npos) << err;
    // Without a base the paths are empty; start reports the missing root.
    ASSERT_EQ(export_with("[nimbra_path]\nramdisk=/r\ndata=/d\ndb=/db\nlog=/l\n[network]\nifnames=br0\n"), 0);
    EXPECT_EQ(env("NIMBRA_ROOT"), "");
    EXPECT_EQ(env("PATH"), ":/usr/bin");
    // Each of the four compositions looks the base up once and says why it fails.
    const auto count = [this](const std::string &line) {
        size_t n = 0;
        for (size_t at = err.find(line); at != std::string::npos; at = err.find(line, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("Warning: 'nimbra_path.base' not found\n"), 4u) << err;
    EXPECT_EQ(count("nimbrafiles - get_nimbra_path (138): Invalid parameters\n"), 4u) << err;
}

TEST_F(environment, unsafe_values_are_refused_naming_the_key) {
    const struct {
        const char *line, *key;
    } cases[] = {
        {"[network]\nifnames=br0&&touch${IFS}/tmp/x\n", "network.ifnames"},
        {"[network]\nifnames=br0 $(reboot)\n", "network.ifnames"},
        {"[network]\nifnames=`id`\n", "network.ifnames"},
        {"[network]\nbridge_ifname=a&b\n", "network.bridge_ifname"},
        {"[nimbra_path]\nbase=/opt/x|y\n", "nimbra_path.base"},
        {"[nimbra_path]\nbase=/opt/a>b\n", "nimbra_path.base"},
        {"[nimbra_path]\nbase=\"/opt/a\\nb\"\n", "nimbra_path.base"},
        {"[nimbra_path]\nbase=/opt/'a'\n", "nimbra_path.base"},
        {"[nimbra_path]\nbase=/opt/*\n", "nimbra_path.base"},
        {"[nimbra_path]\nbase=/opt/a?[b]\n", "nimbra_path.base"},
        {"[nimbra_path]\nbase=/opt/my dir\n", "nimbra_path.base"},
        {"[nimbra_path]\nlog=/l&&reboot\n", "nimbra_path.log"},
        // stop and reset remove trees below these: only one plain absolute place
        {"[nimbra_path]\nlog=/\n", "nimbra_path.log"},
        {"[nimbra_path]\nlog=//\n", "nimbra_path.log"},
        {"[nimbra_path]\nlog=/var/log/..\n", "nimbra_path.log"},
        {"[nimbra_path]\ndata=/data/../etc\n", "nimbra_path.data"},
        {"[nimbra_path]\nramdisk=/tmp/./nimbra\n", "nimbra_path.ramdisk"},
        {"[nimbra_path]\ndb=data/db\n", "nimbra_path.db"},
        {"[nimbra_path]\nbase=../opt\n", "nimbra_path.base"},
        {"[nimbra_path]\nramdisk=/tmp/0123456789012345678901234567890123456789012345678901234567890123456789012345\n",
         "nimbra_path.ramdisk"},
        {"[network]\nifnames=..\n", "network.ifnames"},
        {"[network]\nifnames=br0 ../net/eth0\n", "network.ifnames"},
    };
    for (const auto &c : cases) {
        // The first match wins, so the hostile line goes before the good ones.
        const bool network = std::string(c.key).rfind("network.", 0) == 0;
        EXPECT_EQ(export_with(c.line + (kDirs + std::string(network ? "" : "[network]\nifnames=br0\n"))), -1)
            << c.line;
        EXPECT_NE(err.find(std::string("Unsafe value for ") + c.key + ": expected "), std::string::npos) << err;
    }
}

TEST_F(environment, plain_directories_pass) {
    EXPECT_EQ(export_with("[nimbra_path]\nlog=/tmp/..log/\n" + (kDirs + std::string("[network]\nifnames=br0\n"))),
              0)
        << err;
    EXPECT_EQ(env("NIMBRA_LOG"), "/tmp/..log/");
}

TEST(mkdir_recursive, creates_missing_levels) {
    temp_dir dir;
    struct stat st;
    EXPECT_EQ(mkdir_recursive((dir / "a/b/c/").c_str(), 0755), 0);
    EXPECT_EQ(stat((dir / "a/b/c").c_str(), &st), 0);
    EXPECT_EQ(mkdir_recursive((dir / "a/b/c").c_str(), 0755), -1);
    EXPECT_EQ(mkdir_recursive("", 0755), -1);
    EXPECT_EQ(mkdir_recursive(nullptr, 0755), -22);
}

}  // namespace

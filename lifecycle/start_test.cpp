#include "lifecycle/start.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "util/files.h"

namespace {

const char kFlows[] = "raise_supported=1\nflush_interval=10\n";

// A complete agent tree in a temporary directory; "lo" stands in for the
// LAN bridge since every host has it.
class start_agent_test : public agent_test {
protected:
    void SetUp() override {
        agent_test::SetUp();
        make_dirs(dir.path, {"base/shares/usr/bin", "data", "ram/status"});
    }
    // Starts afresh, or with the marker named by left in place.
    int start(const std::string &extra, const char *flows = kFlows, const char *left = nullptr) {
        use_config(dir, extra + tree_ini() + "[network]\nifnames=lo\n[hwa_flow]\n" + flows);
        remove(marker("nimbra_running").c_str());
        if (left) write_text(marker(left), "");
        test_events().clear();
        return capture(start_agent);
    }
    std::string marker(const char *name) const { return dir / "ram/status//" + name; }
    const std::string root = dir / "base/shares/usr/bin/";
};

TEST_F(start_agent_test, validation_failures_name_the_problem) {
    const struct {
        std::string extra, message;
        const char *flows = kFlows;
    } cases[] = {
        {"[nimbra_ports]\nbase_port=1023\n", "Invalid base port: 1023\n"},
        {"[nimbra_ports]\nbase_port=65409\n", "Invalid base port: 65409\n"},
        {"[nimbra_ports]\nbase_port=5\n", "Invalid base port: 5\n"},
        {"[network]\nifnames=lo nimbra-none0\n", "Can't find network interface: nimbra-none0\n"},
        {"", "Can't find accelerator flow config\n", "flush_interval=1\n"},
        {"[nimbra_path]\ndata=" + dir / "nodata\n", "Can't find Nimbra data directory: " + dir / "nodata\n"},
        {"[nimbra_path]\nbase=" + dir / "x\n",
         "Can't find Nimbra root directory: " + dir / "x/shares/usr/bin/\n"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(start(c.extra, c.flows), -1) << c.message;
        EXPECT_NE(err.find(c.message + "Failed to start Nimbra: error validating vendor values\n"),
                  std::string::npos) << err;
        EXPECT_FALSE(file_exists(marker("nimbra_starting").c_str())) << c.message;
    }
}

TEST_F(start_agent_test, tproxy_needs_agent_dns_on_53_and_router_dns_elsewhere) {
    const struct {
        const char *ports;
        bool refused;
    } cases[] = {{"dnsmasq_port=53\nrouter_dnsmasq_port=53\n", true},
                 {"dnsmasq_port=5300\nrouter_dnsmasq_port=54\n", true},
                 {"dnsmasq_port=53\nrouter_dnsmasq_port=5300\n", false}};
    for (const auto &c : cases) {
        EXPECT_EQ(start(std::string("[iptables]\nuse_tproxy_ipv6=1\n[nimbra_ports]\n") + c.ports),
                  c.refused ? -1 : 0) << c.ports;
        EXPECT_EQ(out.find("Invalid configuration : IPv6 TPROXY works only with dnsmasq port 53 and the "
                           "router dnsmasq port should be different from 53.\n") != std::string::npos,
                  c.refused) << c.ports;
        EXPECT_FALSE(file_exists(marker("nimbra_starting").c_str()));
        EXPECT_EQ(file_exists(marker("nimbra_running").c_str()), !c.refused);
    }
}

TEST_F(start_agent_test, log_file_size_divides_by_eleven_then_ten) {
    const struct {
        const char *max, *config;  // nullptr: logging disabled
    } cases[] = {{"110", "n10\ns1"}, {"109", "n10\ns0"}, {"220", "n10\ns2"}, {"0", nullptr}};
    for (const auto &c : cases) {
        ASSERT_EQ(start(std::string("[nimbra_log]\nmax_log_size=") + c.max + "\n"), 0);
        const std::string config = std::string("echo -e \"") + (c.config ? c.config : "") + "\" > ";
        EXPECT_EQ(recorder.ran(config + dir / "log/rclient/config"), c.config != nullptr) << c.max;
        EXPECT_EQ(err.find("Nimbra-Agent service logging is disabled\n") != std::string::npos, !c.config);
        EXPECT_EQ(recorder.ran("mkdir -p /var/service/apid/log/"), c.config != nullptr) << c.max;
    }
}

TEST_F(start_agent_test, existing_certificates_and_route_are_kept) {
    write_text(dir / "data/apid.pem", "cert");
    recorder.output["ip route show"] = "224.0.0.0/3 dev lo scope link\n";
    ASSERT_EQ(start(""), 0);
    EXPECT_FALSE(recorder.ran(root + "/apid --makecert"));
    EXPECT_TRUE(recorder.ran(root + "/webd --makecert"));
    EXPECT_FALSE(recorder.ran("route add -net 224.0.0.0 netmask 224.0.0.0 lo"));
}

}  // namespace

#include "lifecycle/start.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "libraries/nimbracfg/nimbrafiles.h"
#include "tests/fake_vendor.h"
#include "tests/test_support.h"
#include "util/files.h"

namespace {

// A complete agent tree in a temporary directory; "lo" stands in for the
// LAN bridge since every host has it.
class start_agent_test : public ::testing::Test {
protected:
    void SetUp() override {
        reset_fake_vendor();
        for (const char *sub : {"base", "base/shares", "base/shares/usr", "base/shares/usr/bin",
                                "data", "ram", "ram/status"})
            mkdir((dir / sub).c_str(), 0755);
    }
    void TearDown() override { reset_nimbra_config_cache(); }
    void configure(const std::string &extra, bool with_flow_config = true) {
        use_config(dir, extra + "[nimbra_path]\nbase=" + dir / "base" + "\nramdisk=" + dir / "ram" +
                            "\ndata=" + dir / "data" + "\ndb=" + dir / "db" + "\nlog=" + dir / "log" +
                            "\n[network]\nifnames=lo\n" +
                            (with_flow_config ? "[hwa_flow]\nraise_supported=1\nflush_interval=10\n"
                                              : ""));
    }
    int run() {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int result = start_agent();
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
        return result;
    }
    bool ran(const std::string &command) const {
        auto runs = recorder.runs();
        return std::find(runs.begin(), runs.end(), command) != runs.end();
    }
    std::string marker(const char *name) const { return dir / "ram/status//" + name; }
    temp_dir dir;
    process_recorder recorder;
    std::string out, err;
};

TEST_F(start_agent_test, validation_failures_name_the_problem) {
    const char kTrailer[] = "Failed to start Nimbra: error validating vendor values\n";
    const struct {
        std::string name, extra, message;
    } cases[] = {
        {"base_port_1023", "[nimbra_ports]\nbase_port=1023\n", "Invalid base port: 1023\n"},
        {"base_port_65409", "[nimbra_ports]\nbase_port=65409\n", "Invalid base port: 65409\n"},
        {"base_port_wraps_low", "[nimbra_ports]\nbase_port=5\n", "Invalid base port: 5\n"},
        {"missing_interface", "[network]\nifnames=lo nimbra-none0\n",
         "Can't find network interface: nimbra-none0\n"},
        {"incomplete_flow_config", "[hwa_flow]\nflush_interval=1\n",
         "Can't find accelerator flow config\n"},
        {"data_directory_not_made", "[nimbra_path]\ndata=" + dir / "nodata\n",
         "Can't find Nimbra data directory: " + dir / "nodata\n"},
    };
    for (const auto &c : cases) {
        configure(c.extra, c.name != "incomplete_flow_config");
        EXPECT_EQ(run(), -1) << c.name;
        EXPECT_NE(err.find(c.message + kTrailer), std::string::npos)
            << c.name << ": " << err;
        EXPECT_FALSE(file_exists(marker("nimbra_starting").c_str())) << c.name;
    }
    remove((dir / "base/shares/usr/bin").c_str());
    configure("");
    EXPECT_EQ(run(), -1);
    EXPECT_NE(err.find("Can't find Nimbra root directory: " + dir / "base/shares/usr/bin/\n" +
                       kTrailer),
              std::string::npos)
        << err;
}

TEST_F(start_agent_test, running_or_starting_marker_stops_it_quietly) {
    for (const char *existing : {"nimbra_running", "nimbra_starting"}) {
        for (const char *base_port : {"1024", "65408"}) {
            configure(std::string("[nimbra_ports]\nbase_port=") + base_port + "\n");
            write_text(marker(existing), "");
            test_events().clear();
            EXPECT_EQ(run(), 0);
            EXPECT_EQ(out, "Starting Nimbra ...\nValidating vendor library paths ...\n");
            EXPECT_EQ(err, "Nimbra already running or starting\n");
            EXPECT_TRUE(test_events().empty());
            remove(marker(existing).c_str());
        }
    }
}

TEST_F(start_agent_test, tproxy_needs_agent_dns_on_53_and_router_dns_elsewhere) {
    const char kInvalid[] =
        "Invalid configuration : IPv6 TPROXY works only with dnsmasq port 53 and the router "
        "dnsmasq port should be different from 53.\n";
    const struct {
        const char *settings;
        bool refused;
    } cases[] = {
        {"use_tproxy_ipv6=1\n[nimbra_ports]\ndnsmasq_port=53\nrouter_dnsmasq_port=53\n", true},
        {"use_tproxy_ipv6=1\n[nimbra_ports]\ndnsmasq_port=5300\nrouter_dnsmasq_port=54\n", true},
        {"use_tproxy_ipv6=1\n[nimbra_ports]\ndnsmasq_port=53\nrouter_dnsmasq_port=5300\n", false},
        {"use_tproxy_ipv6=0\n[nimbra_ports]\ndnsmasq_port=53\nrouter_dnsmasq_port=53\n", false},
    };
    for (const auto &c : cases) {
        configure(std::string("[iptables]\n") + c.settings);
        remove(marker("nimbra_running").c_str());
        EXPECT_EQ(run(), c.refused ? -1 : 0) << c.settings;
        EXPECT_EQ(out.find(kInvalid) != std::string::npos, c.refused) << c.settings;
        EXPECT_FALSE(file_exists(marker("nimbra_starting").c_str()));
        EXPECT_EQ(file_exists(marker("nimbra_running").c_str()), !c.refused);
    }
}

TEST_F(start_agent_test, full_start_runs_every_step_in_order) {
    configure("[nimbra_log]\nmax_log_size=110\n");
    ASSERT_EQ(run(), 0) << err;
    const std::string root = dir / "base/shares/usr/bin/";
    const std::string log = dir / "log";
    std::vector<std::string> runs = recorder.runs();
    // Directories first, then the service tree and its loggers.
    const std::vector<std::string> head = {
        "mkdir -p " + dir / "ram/tracking/",
        "mkdir -p " + dir / "ram/category_data/",
        "mkdir -p " + dir / "ram/localization//en",
        "mkdir -p " + dir / "ram/status/",
        "ln -sf " + root + "/busybox " + root + "/runsvdir",
        "ln -sf " + root + "/busybox " + root + "/runsv",
        "ln -sf " + root + "/busybox " + root + "/sv",
        "ln -sf " + root + "/busybox " + root + "/svlogd",
        "cp -a " + root + "/service /var/",
        "mkdir -p " + log + "/apid/",
        "mkdir -p /var/service/apid/log/",
        "echo -e \"#!/bin/sh\nexec " + root + "/svlogd -tt " + log + "/apid\" > /var/service/apid/log/run",
        "chmod +x /var/service/apid/log/run",
        "echo -e \"n10\ns1\" > " + log + "/apid/config",
    };
    ASSERT_GE(runs.size(), head.size());
    EXPECT_EQ(std::vector<std::string>(runs.begin(), runs.begin() + head.size()), head);
    EXPECT_TRUE(ran("echo -e \"n10\ns1\" > " + log + "/webd/config"));
    const std::vector<std::string> tail = {
        root + "/apid --makecert",
        root + "/webd --makecert",
        root + "/runsvdir /var/service >/dev/null 2>/dev/null &",
        "route add -net 224.0.0.0 netmask 224.0.0.0 lo",
        root + "/scripts//check_nimbradb.sh &",
    };
    EXPECT_EQ(std::vector<std::string>(runs.end() - tail.size(), runs.end()), tail);
    EXPECT_TRUE(file_exists(marker("nimbra_running").c_str()));
    EXPECT_FALSE(file_exists(marker("nimbra_starting").c_str()));
    EXPECT_NE(out.find("Setting up iptables ...\n"), std::string::npos);
    const std::string end = "Nimbra successfully started.\nEnvironment initialized.\nPATH ";
    EXPECT_NE(out.find(end), std::string::npos) << out;
    EXPECT_EQ(out.substr(out.rfind('\n', out.size() - 2) + 1, 30),
              "NIMBRA_PORT_DNSMASQ_SAVEDQ    ");
}

TEST_F(start_agent_test, log_file_size_divides_by_eleven_then_ten) {
    const struct {
        const char *max;
        const char *config;  // nullptr: logging disabled
    } cases[] = {{"110", "n10\ns1"}, {"109", "n10\ns0"}, {"220", "n10\ns2"}, {"0", nullptr}};
    for (const auto &c : cases) {
        configure(std::string("[nimbra_log]\nmax_log_size=") + c.max + "\n");
        remove(marker("nimbra_running").c_str());
        test_events().clear();
        ASSERT_EQ(run(), 0);
        if (c.config) {
            EXPECT_TRUE(ran(std::string("echo -e \"") + c.config + "\" > " + dir / "log/rclient/config"))
                << c.max;
        } else {
            EXPECT_NE(err.find("Nimbra-Agent service logging is disabled\n"), std::string::npos);
            EXPECT_FALSE(ran("mkdir -p /var/service/apid/log/"));
            EXPECT_TRUE(ran(dir / "base/shares/usr/bin/" + "/runsvdir /var/service >/dev/null 2>/dev/null &"));
        }
    }
}

TEST_F(start_agent_test, existing_certificates_and_route_are_kept) {
    configure("");
    mkdir((dir / "data").c_str(), 0755);
    write_text(dir / "data/apid.pem", "cert");
    recorder.output["ip route show"] = "224.0.0.0/3 dev lo scope link\n";
    ASSERT_EQ(run(), 0);
    EXPECT_FALSE(ran(dir / "base/shares/usr/bin/" + "/apid --makecert"));
    EXPECT_TRUE(ran(dir / "base/shares/usr/bin/" + "/webd --makecert"));
    EXPECT_FALSE(ran("route add -net 224.0.0.0 netmask 224.0.0.0 lo"));
}

}  // namespace

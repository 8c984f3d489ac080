#include "lifecycle/start.h"

#include <gtest/gtest.h>

#include <algorithm>

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

// Either marker stops it; the ports are the lowest and highest base ports allowed.
TEST_F(start_agent_test, running_or_starting_marker_stops_it_quietly) {
    for (const auto &c : {std::make_pair("nimbra_running", "1024"), {"nimbra_starting", "65408"}}) {
        EXPECT_EQ(start(std::string("[nimbra_ports]\nbase_port=") + c.second + "\n", kFlows, c.first), 0);
        EXPECT_EQ(out, "Starting Nimbra ...\nValidating vendor library paths ...\n");
        EXPECT_EQ(err, "Nimbra already running or starting\n") << c.first;
        EXPECT_TRUE(test_events().empty());
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

TEST_F(start_agent_test, full_start_runs_every_step_in_order) {
    ASSERT_EQ(start("[nimbra_log]\nmax_log_size=110\n"), 0) << err;
    const std::string log = dir / "log", busybox = "ln -sf " + root + "/busybox " + root;
    const std::vector<std::string> runs = recorder.runs();
    // Directories first, then the service tree and its loggers.
    const std::vector<std::string> head = {
        "mkdir -p " + dir / "ram/tracking/", "mkdir -p " + dir / "ram/category_data/",
        "mkdir -p " + dir / "ram/localization//en", "mkdir -p " + dir / "ram/status/",
        busybox + "/runsvdir", busybox + "/runsv", busybox + "/sv", busybox + "/svlogd",
        "cp -a " + root + "/service /var/",
        "mkdir -p " + log + "/apid/",
        "mkdir -p /var/service/apid/log/",
        "echo -e \"#!/bin/sh\nexec " + root + "/svlogd -tt " + log + "/apid\" > /var/service/apid/log/run",
        "chmod +x /var/service/apid/log/run",
        "echo -e \"n10\ns1\" > " + log + "/apid/config",
    };
    ASSERT_GE(runs.size(), head.size());
    EXPECT_EQ(std::vector<std::string>(runs.begin(), runs.begin() + head.size()), head);
    const std::vector<std::string> tail = {
        root + "/apid --makecert", root + "/webd --makecert",
        root + "/runsvdir /var/service >/dev/null 2>/dev/null &",
        "route add -net 224.0.0.0 netmask 224.0.0.0 lo", root + "/scripts//check_nimbradb.sh &",
    };
    EXPECT_EQ(std::vector<std::string>(runs.end() - tail.size(), runs.end()), tail);
    // Interfaces, then sets and emptied chains before any rule, and the
    // whole packet filter in place before the services start.
    const std::vector<std::string> &events = test_events();
    const auto at = [&](const std::string &prefix) {
        return std::find_if(events.begin(), events.end(),
                            [&](const std::string &e) { return e.rfind(prefix, 0) == 0; }) - events.begin();
    };
    EXPECT_LT(at("system: ifconfig lo:0"), at("vendor: filter -N"));
    EXPECT_LT(at("system: ipset create managedlistv6"), at("vendor: filter -A"));
    EXPECT_LT(at("vendor: filter -F PAUSE"), at("vendor: filter -A"));
    for (size_t i = at("system: " + root + "/runsvdir"); i < events.size(); ++i)
        EXPECT_NE(events[i].rfind("vendor: ", 0), 0u) << events[i];
    EXPECT_TRUE(file_exists(marker("nimbra_running").c_str()));
    EXPECT_FALSE(file_exists(marker("nimbra_starting").c_str()));
    EXPECT_NE(out.find("Nimbra successfully started.\nEnvironment initialized.\nPATH "), std::string::npos);
    EXPECT_EQ(out.substr(out.rfind('\n', out.size() - 2) + 1, 30), "NIMBRA_PORT_DNSMASQ_SAVEDQ    ");
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

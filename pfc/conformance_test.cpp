#include "pfc/conformance.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>

#include "tests/fake_vendor.h"
#include "tests/test_support.h"

namespace {

const char kChain[] = "-N NIMBRA_VENDOR_TEST\n";

class conformance : public agent_test {
protected:
    // The test chain shows in a family's listing once created.
    void show_chain() {
        fake_vendor().on_iptables = [this](const fake_iptables_call &call) {
            recorder.output[call.family ? "ip6tables -t nat -S" : "iptables -t nat -S"] = kChain;
        };
    }
};

TEST_F(conformance, groups_pass_only_what_the_vendor_delivers) {
    const std::string missing = dir / "missing", empty = dir / "empty";
    fake_vendor_state &v = fake_vendor();
    // A group, what setup changes in the vendor's defaults, one bit per
    // passed check, the checks passed of the group's checks, and the log.
    const struct { int (*group)(int *, uint16_t *); std::function<void()> setup; uint16_t flags; int passed, count;
                   std::string log; }
        cases[] = {
        {test_config_file, [&] { v.config_path_null = true; }, 0x0, 0, 3, "    failed to retrieve config file path\n"},
        {test_config_file, [&] { v.config_path = missing; }, 0x1, 1, 3, "    file '" + missing + "' does not exist\n"},
        {test_config_file, [&] { write_text(v.config_path = empty, ""); }, 0x3, 2, 3, "    failed to load file '" + empty},
        {test_router_id, [] {}, 0x1f, 5, 5, "    vendor name: Vendor\n    router model: Model\n    router serial: SN1\n"},
        {test_router_id, [&] { v.identity[0] = ""; }, 0x1e, 4, 5, "    failed to retrieve vendor name\n"},
        {test_router_id, [&] { v.identity[2] = nullptr; }, 0x1b, 4, 5, "    failed to retrieve router serial number\n"},
        {test_iptables, [&] { v.on_iptables = nullptr; }, 0x0, 0, 2, "create NIMBRA_VENDOR_TEST chain in iptables nat"},
        {test_iptables, [&] { v.iptables_result = -1; }, 0x0, 0, 2, "create NIMBRA_VENDOR_TEST chain in ip6tables nat"},
        {test_accelerator, [&] { v.flows_null = true; }, 0x0, 0, 3, "    failed to retrieve flow data\n"},
        {test_accelerator, [] {}, 0x0, 0, 3, "    no active flows found\n"},
        {test_accelerator, [&] { v.flow_count = 1, v.raise_result = -1; }, 0x5, 2, 3, "failed to raise flow\n    flushing"},
        {test_accelerator, [&] { v.flow_count = 1, v.flush_result = -5; }, 0x3, 2, 3, "    failed to flush flows\n"},
    };
    EXPECT_EQ(set_report_level(4), -1);
    set_report_level(kLogLevel);
    for (const auto &c : cases) {
        reset_fake_vendor();
        recorder.output.clear();
        use_config(dir, "[nimbra_path]\nbase=/opt/nimbra\n");
        show_chain();
        c.setup();
        int count = 1;
        uint16_t flags = 0;
        EXPECT_EQ(capture([&] { return c.group(&count, &flags); }), c.passed) << c.log;
        EXPECT_EQ(count, 1 + c.count) << c.log;
        EXPECT_EQ(flags, c.flags) << c.log;
        EXPECT_NE(out.find(c.log), std::string::npos) << out;
    }
    set_report_level(kResultLevel);
}

// The whole report of a vendor library without a vendor name that shows two
// flows: every result line, passed and failed, and the totals.
TEST_F(conformance, report_names_every_check) {
    use_config(dir, "[nimbra_path]\nbase=/opt/nimbra\n");
    fake_vendor().identity[0] = "";
    fake_vendor().flow_count = 2;
    show_chain();
    set_report_level(kLogLevel);
    EXPECT_EQ(capture(run_conformance_tests), -1);
    const size_t date = out.find("    Date: ");
    const std::string line = out.substr(date, out.find('\n', date) + 1 - date);
    EXPECT_TRUE(std::regex_match(line, std::regex(R"(    Date: \w{3} \w{3} [ \d]\d [\d:]{8} \d{4}\n)"))) << line;
    out.erase(date, line.size());
    EXPECT_EQ(out, "*** Nimbra Vendor Library Conformance Tests ***\n\n*** Running config path/file tests ***\n"
                   "    getting path ...\n    file path: " + dir / "nimbra.ini" + "\n    searching for file ...\n"
                   R"(    loading file ...

*** Running router identification tests ***
    failed to retrieve vendor name
    router model: Model
    router serial: SN1
    router FW version: 1.0
    router HW version: A1

*** Running iptables command tests ***
    clearing nat chains prior to test ...
    creating iptables nat chain ...
    creating ip6tables nat chain ...

*** Running accelerator command tests ***
    getting accelerated flows ...
    retrieved 2 flows
    raising 1st flow in list
    flushing all flows

*** Conformance Tests Complete ***
    Passed: 12
    Failed: 1

TEST | CONFIG FILE - FILE PATH: PASS
TEST | CONFIG FILE - FILE EXISTS: PASS
TEST | CONFIG FILE - FILE LOADS: PASS
TEST | ROUTER ID - VENDOR NAME: FAIL
TEST | ROUTER ID - MODEL: PASS
TEST | ROUTER ID - SERIAL: PASS
TEST | ROUTER ID - FW VERSION: PASS
TEST | ROUTER ID - HW VERSION: PASS
TEST | IPTABLES - CREATE NAT CHAIN (IPv4): PASS
TEST | IPTABLES - CREATE NAT CHAIN (IPv6): PASS
* OPTIONAL TESTS  *
* Acclerator tests need to have some traffic to pass through router  *
TEST | ACCELERATOR - GET ACTIVE FLOWS: PASS
TEST | ACCELERATOR - CALL FLOW RAISE: PASS
TEST | ACCELERATOR - CALL FLOW FLUSH: PASS
)");
    // Level 0 prints nothing and gives back every descriptor it took.
    const long descriptors = open_descriptors();
    set_report_level(0);
    capture(run_conformance_tests);
    set_report_level(kResultLevel);
    EXPECT_EQ(out + err, "");
    EXPECT_EQ(open_descriptors(), descriptors);
}

}  // namespace

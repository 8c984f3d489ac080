#include "pfc/conformance.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <functional>

#include "tests/fake_vendor.h"
#include "tests/test_support.h"

namespace {

const char kRequiredPass[] =
    "TEST | CONFIG FILE - FILE PATH: PASS\nTEST | CONFIG FILE - FILE EXISTS: PASS\n"
    "TEST | CONFIG FILE - FILE LOADS: PASS\nTEST | ROUTER ID - VENDOR NAME: PASS\n"
    "TEST | ROUTER ID - MODEL: PASS\nTEST | ROUTER ID - SERIAL: PASS\n"
    "TEST | ROUTER ID - FW VERSION: PASS\nTEST | ROUTER ID - HW VERSION: PASS\n"
    "TEST | IPTABLES - CREATE NAT CHAIN (IPv4): PASS\nTEST | IPTABLES - CREATE NAT CHAIN (IPv6): PASS\n";
const char kAcceleratorFail[] =
    "TEST | ACCELERATOR - GET ACTIVE FLOWS: FAIL\nTEST | ACCELERATOR - CALL FLOW RAISE: FAIL\n"
    "TEST | ACCELERATOR - CALL FLOW FLUSH: FAIL\n";
const char kChain[] = "-N NIMBRA_VENDOR_TEST\n";

class conformance : public agent_test {
protected:
    void SetUp() override {
        agent_test::SetUp();
        set_report_level(2);
        fresh_vendor();
    }
    void TearDown() override {
        set_report_level(1);
        agent_test::TearDown();
    }
    // Defaults, and the test chain shows in a family's listing once created.
    void fresh_vendor() {
        reset_fake_vendor();
        recorder.output.clear();
        use_config(dir, "[nimbra_path]\nbase=/opt/nimbra\n");
        fake_vendor().on_iptables = [this](const fake_iptables_call &call) {
            recorder.output[call.family ? "ip6tables -t nat -S" : "iptables -t nat -S"] = kChain;
        };
    }
    int run_group(int (*group)(int *, uint16_t *)) {
        count = flags = 0;
        return capture([&] { return group(&count, &flags); });
    }
    bool printed(const std::string &text) const { return out.find(text) != std::string::npos; }
    int count = 0;
    uint16_t flags = 0;
};

TEST_F(conformance, required_checks_pass_without_flows) {
    ASSERT_EQ(capture(run_conformance_tests), 0);
    const size_t date = out.find("    Date: ") + 10;
    out.replace(date, out.find('\n', date) - date, "<date>");
    const std::string log =
        "*** Nimbra Vendor Library Conformance Tests ***\n    Date: <date>\n\n"
        "*** Running config path/file tests ***\n    getting path ...\n"
        "    file path: " + dir / "nimbra.ini\n    searching for file ...\n    loading file ...\n"
        "\n*** Running router identification tests ***\n    vendor name: Vendor\n"
        "    router model: Model\n    router serial: SN1\n    router FW version: 1.0\n"
        "    router HW version: A1\n\n*** Running iptables command tests ***\n"
        "    clearing nat chains prior to test ...\n    creating iptables nat chain ...\n"
        "    creating ip6tables nat chain ...\n\n*** Running accelerator command tests ***\n"
        "    getting accelerated flows ...\n    no active flows found\n"
        "\n*** Conformance Tests Complete ***\n    Passed: 10\n    Failed: 3\n\n";
    EXPECT_EQ(out, log + kRequiredPass + "* OPTIONAL TESTS  *\n" +
                       "* Acclerator tests need to have some traffic to pass through router  *\n" +
                       kAcceleratorFail);
    EXPECT_EQ(fake_vendor().raise_calls + fake_vendor().flush_calls, 0);
}

TEST_F(conformance, null_config_path_fails_the_run) {
    fake_vendor().config_path_null = true;
    EXPECT_EQ(capture(run_conformance_tests), -1);
    EXPECT_TRUE(printed("    failed to retrieve config file path\n\n*** Running router"));
    EXPECT_TRUE(printed("    Passed: 7\n    Failed: 6\n\nTEST | CONFIG FILE - FILE PATH: FAIL\n"
                        "TEST | CONFIG FILE - FILE EXISTS: FAIL\nTEST | CONFIG FILE - FILE LOADS: FAIL\n"
                        "TEST | ROUTER ID - VENDOR NAME: PASS\n"));
}

TEST_F(conformance, groups_pass_only_what_the_vendor_delivers) {
    const std::string missing = dir / "missing", empty = dir / "empty";
    fake_vendor_state &v = fake_vendor();
    const struct {
        int (*group)(int *, uint16_t *);
        std::function<void()> setup;
        uint16_t flags;
        std::string message;
    } cases[] = {
        {test_config_file, [&] { v.config_path = missing; }, 0x1,
         "    file '" + missing + "' does not exist\n"},
        {test_config_file, [&] { write_text(v.config_path = empty, ""); }, 0x3,
         "    failed to load file '" + empty + "'\n"},
        {test_router_id, [&] { v.identity[0] = ""; }, 0x1e, "    failed to retrieve vendor name\n"},
        {test_router_id, [&] { v.identity[2] = nullptr; }, 0x1b,
         "    failed to retrieve router serial number\n"},
        {test_iptables, [&] { v.on_iptables = nullptr; }, 0x0,
         "    failed to create NIMBRA_VENDOR_TEST chain in iptables nat table ...\n"},
        {test_iptables, [&] { v.iptables_result = -1; }, 0x0,
         "    failed to create NIMBRA_VENDOR_TEST chain in ip6tables nat table ...\n"},
        {test_accelerator, [&] { v.flows_null = true; }, 0x0, "    failed to retrieve flow data\n"},
        {test_accelerator, [&] { v.flow_count = 2; }, 0x7,
         "    retrieved 2 flows\n    raising 1st flow in list\n    flushing all flows\n"},
        {test_accelerator, [&] { v.flow_count = 1, v.raise_result = -1; }, 0x5,
         "    failed to raise flow\n    flushing all flows\n"},
        {test_accelerator, [&] { v.flow_count = 1, v.flush_result = -5; }, 0x3,
         "    failed to flush flows\n"},
    };
    for (const auto &c : cases) {
        fresh_vendor();
        c.setup();
        EXPECT_EQ(run_group(c.group), __builtin_popcount(c.flags)) << c.message;
        EXPECT_EQ(flags, c.flags) << c.message;
        EXPECT_TRUE(printed(c.message)) << out;
    }
}

TEST_F(conformance, test_chain_is_cleared_before_and_removed_after) {
    recorder.output = {{"iptables -t nat -S", kChain}, {"ip6tables -t nat -S", kChain}};
    ASSERT_EQ(run_group(test_iptables), 2);
    EXPECT_EQ(event_sequence(), "?iptables -t nat -S, $, ?ip6tables -t nat -S, $, nat -N NIMBRA_VENDOR_TEST, "
                                "?iptables -t nat -S, $, nat -N NIMBRA_VENDOR_TEST, ?ip6tables -t nat -S, $");
    const std::string v4 = "iptables -t nat -X NIMBRA_VENDOR_TEST", v6 = "ip6" + v4.substr(2);
    EXPECT_EQ(recorder.runs(), (std::vector<std::string>{v4, v6, v4, v6}));
}

TEST_F(conformance, quiet_levels_print_less_and_give_streams_back) {
    EXPECT_EQ(set_report_level(4), -1);
    set_report_level(1);
    EXPECT_EQ(capture(run_conformance_tests), 0);
    EXPECT_EQ(out, std::string(kRequiredPass) + kAcceleratorFail);
    set_report_level(0);
    EXPECT_EQ(capture([] {
                  const int result = run_conformance_tests();
                  printf("out\n");
                  fputs("err", stderr);
                  return result;
              }),
              0);
    EXPECT_EQ(out + err, "out\nerr");
}

}  // namespace

#include "pfc/conformance.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/fake_vendor.h"
#include "tests/test_support.h"

namespace {

const char kChain[] = "-N NIMBRA_VENDOR_TEST\n";

using conformance = agent_test;

TEST_F(conformance, groups_pass_only_what_the_vendor_delivers) {
    const std::string missing = dir / "missing", empty = dir / "empty";
    fake_vendor_state &v = fake_vendor();
    // A group, what setup changes in the vendor's defaults, one bit per
    // passed check, and the log.
    const struct { int (*group)(int *, uint16_t *); std::function<void()> setup; uint16_t flags; std::string log; }
        cases[] = {
        {test_config_file, [&] { v.config_path_null = true; }, 0x0, "    failed to retrieve config file path\n"},
        {test_config_file, [&] { v.config_path = missing; }, 0x1, "    file '" + missing + "' does not exist\n"},
        {test_config_file, [&] { write_text(v.config_path = empty, ""); }, 0x3, "    failed to load file '" + empty},
        {test_router_id, [] {}, 0x1f, "    vendor name: Vendor\n    router model: Model\n    router serial: SN1\n"},
        {test_router_id, [&] { v.identity[0] = ""; }, 0x1e, "    failed to retrieve vendor name\n"},
        {test_router_id, [&] { v.identity[2] = nullptr; }, 0x1b, "    failed to retrieve router serial number\n"},
        {test_iptables, [&] { v.on_iptables = nullptr; }, 0x0, "create NIMBRA_VENDOR_TEST chain in iptables nat"},
        {test_iptables, [&] { v.iptables_result = -1; }, 0x0, "create NIMBRA_VENDOR_TEST chain in ip6tables nat"},
        {test_accelerator, [&] { v.flows_null = true; }, 0x0, "    failed to retrieve flow data\n"},
        {test_accelerator, [] {}, 0x0, "    no active flows found\n"},
        {test_accelerator, [&] { v.flow_count = 2; }, 0x7,
         "    retrieved 2 flows\n    raising 1st flow in list\n    flushing all flows\n"},
        {test_accelerator, [&] { v.flow_count = 1, v.raise_result = -1; }, 0x5, "failed to raise flow\n    flushing"},
        {test_accelerator, [&] { v.flow_count = 1, v.flush_result = -5; }, 0x3, "    failed to flush flows\n"},
    };
    EXPECT_EQ(set_report_level(4), -1);
    set_report_level(kLogLevel);
    for (const auto &c : cases) {
        // The test chain shows in a family's listing once created.
        reset_fake_vendor();
        recorder.output.clear();
        use_config(dir, "[nimbra_path]\nbase=/opt/nimbra\n");
        v.on_iptables = [this](const fake_iptables_call &call) {
            recorder.output[call.family ? "ip6tables -t nat -S" : "iptables -t nat -S"] = kChain;
        };
        c.setup();
        int count = 0;
        uint16_t flags = 0;
        EXPECT_EQ(capture([&] { return c.group(&count, &flags); }), __builtin_popcount(c.flags)) << c.log;
        EXPECT_EQ(flags, c.flags) << c.log;
        EXPECT_NE(out.find(c.log), std::string::npos) << out;
    }
    set_report_level(kResultLevel);
}

}  // namespace

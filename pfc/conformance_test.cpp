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
    "TEST | IPTABLES - CREATE NAT CHAIN (IPv4): PASS\n"
    "TEST | IPTABLES - CREATE NAT CHAIN (IPv6): PASS\n";
const char kAcceleratorFail[] =
    "TEST | ACCELERATOR - GET ACTIVE FLOWS: FAIL\nTEST | ACCELERATOR - CALL FLOW RAISE: FAIL\n"
    "TEST | ACCELERATOR - CALL FLOW FLUSH: FAIL\n";

class conformance : public ::testing::Test {
protected:
    void SetUp() override {
        set_report_level(2);
        use_config(dir, "[nimbra_path]\nbase=/opt/nimbra\n");
        fresh_vendor();
    }
    void TearDown() override { set_report_level(1); }
    // Defaults, and the test chain shows in a family's listing once created.
    void fresh_vendor() {
        std::string path = fake_vendor().config_path;
        reset_fake_vendor();
        fake_vendor().config_path = path;
        fake_vendor().on_iptables = [this](const fake_iptables_call &call) {
            recorder.output[call.family ? "ip6tables -t nat -S" : "iptables -t nat -S"] =
                "-N NIMBRA_VENDOR_TEST\n";
        };
    }
    // One group, or the whole run with its date and temp dir texts replaced.
    int run(int (*group)(int *, uint16_t *) = nullptr) {
        count = 0;
        flags = 0;
        testing::internal::CaptureStdout();
        int result = group ? group(&count, &flags) : run_conformance_tests();
        out = testing::internal::GetCapturedStdout();
        if (group) return result;
        size_t at = out.find("    Date: ");
        if (at != std::string::npos) out.replace(at + 10, out.find('\n', at) - at - 9, "<date>\n");
        at = out.find(dir.path);
        if (at != std::string::npos) out.replace(at, dir.path.size(), "<dir>");
        return result;
    }
    bool printed(const std::string &text) const { return out.find(text) != std::string::npos; }
    temp_dir dir;
    process_recorder recorder;
    std::string out;
    int count = 0;
    uint16_t flags = 0;
};

TEST_F(conformance, required_checks_pass_without_flows) {
    ASSERT_EQ(run(), 0);
    const std::string log =
        "*** Nimbra Vendor Library Conformance Tests ***\n    Date: <date>\n\n"
        "*** Running config path/file tests ***\n    getting path ...\n"
        "    file path: <dir>/nimbra.ini\n    searching for file ...\n    loading file ...\n"
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
    EXPECT_EQ(run(), -1);
    EXPECT_TRUE(printed("    failed to retrieve config file path\n\n*** Running router"));
    EXPECT_TRUE(
        printed("    Passed: 7\n    Failed: 6\n\nTEST | CONFIG FILE - FILE PATH: FAIL\n"
                "TEST | CONFIG FILE - FILE EXISTS: FAIL\nTEST | CONFIG FILE - FILE LOADS: FAIL\n"
                "TEST | ROUTER ID - VENDOR NAME: PASS\n"));
}

TEST_F(conformance, groups_pass_only_what_the_vendor_delivers) {
    const std::string missing = dir / "missing", empty = dir / "empty";
    write_text(empty, "");
    const struct {
        int (*group)(int *, uint16_t *);
        std::function<void()> setup;
        int count;
        uint16_t flags;
        std::string message;
    } cases[] = {
        {test_config_file, [&] { fake_vendor().config_path = missing; }, 3, 0x1,
         "    file '" + missing + "' does not exist\n"},
        {test_config_file, [&] { fake_vendor().config_path = empty; }, 3, 0x3,
         "    failed to load file '" + empty + "'\n"},
        {test_router_id, [] { fake_vendor().identity[0] = ""; }, 5, 0x1e,
         "    failed to retrieve vendor name\n"},
        {test_router_id, [] { fake_vendor().identity[2] = nullptr; }, 5, 0x1b,
         "    failed to retrieve router serial number\n"},
        {test_iptables, [] { fake_vendor().on_iptables = nullptr; }, 2, 0x0,
         "    failed to create NIMBRA_VENDOR_TEST chain in iptables nat table ...\n"},
        {test_iptables, [] { fake_vendor().iptables_result = -1; }, 2, 0x0,
         "    failed to create NIMBRA_VENDOR_TEST chain in ip6tables nat table ...\n"},
        {test_accelerator, [] { fake_vendor().flows_null = true; }, 3, 0x0,
         "    failed to retrieve flow data\n"},
        {test_accelerator, [] { fake_vendor().flow_count = 2; }, 3, 0x7,
         "    retrieved 2 flows\n    raising 1st flow in list\n    flushing all flows\n"},
        {test_accelerator, [] { fake_vendor().flow_count = 1, fake_vendor().raise_result = -1; }, 3,
         0x5, "    failed to raise flow\n    flushing all flows\n"},
        {test_accelerator, [] { fake_vendor().flow_count = 1, fake_vendor().flush_result = -5; }, 3,
         0x3, "    failed to flush flows\n"},
    };
    for (const auto &c : cases) {
        fresh_vendor();
        recorder.output.clear();
        c.setup();
        EXPECT_EQ(run(c.group), __builtin_popcount(c.flags)) << c.message;
        EXPECT_EQ(count, c.count) << c.message;
        EXPECT_EQ(flags, c.flags) << c.message;
        EXPECT_TRUE(printed(c.message)) << out;
    }
}

TEST_F(conformance, test_chain_is_cleared_before_and_removed_after) {
    recorder.output["iptables -t nat -S"] = recorder.output["ip6tables -t nat -S"] =
        "-N NIMBRA_VENDOR_TEST\n";
    ASSERT_EQ(run(test_iptables), 2);
    EXPECT_EQ(test_events(),
              (std::vector<std::string>{
                  "popen: iptables -t nat -S", "system: iptables -t nat -X NIMBRA_VENDOR_TEST",
                  "popen: ip6tables -t nat -S", "system: ip6tables -t nat -X NIMBRA_VENDOR_TEST",
                  "vendor: nat -N NIMBRA_VENDOR_TEST [0]", "popen: iptables -t nat -S",
                  "system: iptables -t nat -X NIMBRA_VENDOR_TEST",
                  "vendor: nat -N NIMBRA_VENDOR_TEST [1]", "popen: ip6tables -t nat -S",
                  "system: ip6tables -t nat -X NIMBRA_VENDOR_TEST"}));
}

TEST_F(conformance, quiet_levels_give_standard_streams_back) {
    const struct {
        unsigned level;
        std::string shown;
    } cases[] = {{1, std::string(kRequiredPass) + kAcceleratorFail}, {0, ""}};
    EXPECT_EQ(set_report_level(4), -1);
    for (const auto &c : cases) {
        set_report_level(c.level);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(run_conformance_tests(), 0);
        printf("stdout after\n");
        fputs("stderr after", stderr);
        // Unbuffered again: the text is in the file before any flush.
        EXPECT_EQ(read_text("/proc/self/fd/2"), "stderr after") << c.level;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "stderr after");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.shown + "stdout after\n") << c.level;
    }
}

}  // namespace

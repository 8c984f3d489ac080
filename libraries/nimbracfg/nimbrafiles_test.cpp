#include "libraries/nimbracfg/nimbrafiles.h"

#include <gtest/gtest.h>

#include "tests/fake_vendor.h"
#include "tests/test_support.h"

namespace {

class nimbrafiles : public ::testing::Test {
protected:
    void SetUp() override { reset_fake_vendor(); }
    void TearDown() override { reset_nimbra_config_cache(); }
    temp_dir dir;
};

TEST_F(nimbrafiles, ports_wrap_modulo_65536_and_default_when_zero) {
    const struct {
        const char *base;
        uint16_t port0, port1;
    } cases[] = {
        {"70000", 4464, 4465},  {"65536", 4600, 4601}, {"abc", 4600, 4601},
        {"-1", 65535, 0},       {"1024", 1024, 1025},  {nullptr, 4600, 4601},
    };
    for (const auto &c : cases) {
        use_config(dir, c.base ? std::string("[nimbra_ports]\nbase_port=") + c.base + "\n"
                               : "[x]\ny=1\n");
        testing::internal::CaptureStderr();
        EXPECT_EQ(get_nimbra_port(PORT_FILTERD), c.port0) << (c.base ? c.base : "unset");
        EXPECT_EQ(get_nimbra_port(PORT_TIMETRACKER_DNS), c.port1);
        testing::internal::GetCapturedStderr();
    }
}

TEST_F(nimbrafiles, defaults_without_configuration_file) {
    fake_vendor().config_path = dir / "absent.ini";
    reset_nimbra_config_cache();
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_nimbra_base_path(), nullptr);
    EXPECT_EQ(get_nimbra_ifnames(), nullptr);
    EXPECT_EQ(get_hwa_flow_config(), nullptr);
    EXPECT_EQ(*get_nimbra_max_log_size(), 0);
    EXPECT_EQ(get_dnsmasq_port(), 5300);
    EXPECT_EQ(get_router_dnsmasq_port(), 53);
    EXPECT_EQ(get_chains_handled_by_router(), 0);
    EXPECT_STREQ(get_nimbra_certfile(), "");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("tkvs_init: File '" + dir / "absent.ini" + "' does not exist\n"),
              std::string::npos);
    EXPECT_NE(err.find("nimbrafiles - get_nimbra_path (138): Invalid parameters\n"),
              std::string::npos);
}

TEST_F(nimbrafiles, settings_are_parsed_and_cached) {
    use_config(dir,
               "[nimbra_path]\nbase=/opt/n\nramdisk=/tmp/r\n"
               "[nimbra_log]\nmax_log_size=220\n"
               "[network]\nifnames=br0 eth1\n"
               "[hwa_flow]\nraise_supported=70001\nflush_interval=5\n"
               "[iptables]\nuse_tproxy_ipv6=yes\nchains_handled_by_router=2x\n");
    EXPECT_STREQ(get_nimbra_base_path(), "/opt/n");
    char **ifnames = get_nimbra_ifnames();
    ASSERT_NE(ifnames, nullptr);
    EXPECT_STREQ(ifnames[0], "br0");
    EXPECT_STREQ(ifnames[1], "eth1");
    EXPECT_EQ(ifnames[2], nullptr);
    EXPECT_EQ(*get_nimbra_max_log_size(), 220);
    hwa_flow_config *hwa = get_hwa_flow_config();
    ASSERT_NE(hwa, nullptr);
    EXPECT_EQ(hwa->raise_supported, 70001 % 65536);
    EXPECT_EQ(hwa->flush_interval, 5);
    EXPECT_EQ(get_use_tproxy_ipv6(), 0);
    EXPECT_EQ(get_chains_handled_by_router(), 2);
    EXPECT_STREQ(nimbra_file(SLOT_ROOT), "/opt/n/shares/usr/bin/");
    EXPECT_STREQ(nimbra_file(SLOT_SCRIPTS), "/opt/n/shares/usr/bin//scripts/");
    EXPECT_STREQ(nimbra_file(SLOT_RUNNING), "/tmp/r/status//nimbra_running");
    EXPECT_STREQ(get_nimbra_certfile(), "/opt/n/shares/usr/bin//trusted-US-cas.pem");

    // Cached: a changed file is not read again.
    write_text(dir / "nimbra.ini", "[nimbra_path]\nbase=/other\n");
    EXPECT_STREQ(get_nimbra_base_path(), "/opt/n");
    EXPECT_STREQ(get_nimbra_ifnames()[0], "br0");
}

TEST_F(nimbrafiles, bridge_ifname_is_the_fallback_with_warning) {
    use_config(dir, "[network]\nbridge_ifname=br-lan\n");
    testing::internal::CaptureStderr();
    char **ifnames = get_nimbra_ifnames();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Warning: 'network.ifnames' not found\n");
    ASSERT_NE(ifnames, nullptr);
    EXPECT_STREQ(ifnames[0], "br-lan");
    EXPECT_EQ(ifnames[1], nullptr);
    EXPECT_STREQ(get_nimbra_ifnames_key(), "network.bridge_ifname");
}

TEST_F(nimbrafiles, incomplete_flow_config_reloads_every_call) {
    use_config(dir, "[hwa_flow]\nraise_supported=1\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_hwa_flow_config(), nullptr);
    write_text(dir / "nimbra.ini", "[hwa_flow]\nraise_supported=1\nflush_interval=3\n");
    hwa_flow_config *hwa = get_hwa_flow_config();
    testing::internal::GetCapturedStderr();
    ASSERT_NE(hwa, nullptr);
    EXPECT_EQ(hwa->flush_interval, 3);
}

TEST_F(nimbrafiles, path_slots_are_fixed_by_first_call_and_bounded) {
    EXPECT_STREQ(get_nimbra_path(122, "/a", "/b"), "/a/b");
    EXPECT_STREQ(get_nimbra_path(122, "/c", "/d"), "/a/b");
    const struct {
        unsigned slot;
        const char *dir, *suffix;
    } invalid[] = {{123, "/a", "/b"}, {1, nullptr, "/b"}, {1, "/a", nullptr}, {1, "", "/b"},
                   {1, "/a", ""}};
    for (const auto &c : invalid) {
        testing::internal::CaptureStderr();
        EXPECT_STREQ(get_nimbra_path(c.slot, c.dir, c.suffix), "");
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "nimbrafiles - get_nimbra_path (138): Invalid parameters\n");
    }
    std::string long_dir(2000, 'x');
    EXPECT_EQ(strlen(get_nimbra_path(100, long_dir.c_str(), "/y")), 1023u);
}

}  // namespace

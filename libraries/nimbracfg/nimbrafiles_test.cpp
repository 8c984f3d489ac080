#include "libraries/nimbracfg/nimbrafiles.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

using nimbrafiles = agent_test;

TEST_F(nimbrafiles, ports_wrap_modulo_65536_and_default_when_zero) {
    const struct { const char *base; uint16_t port0, port1; } cases[] = {
        {"70000", 4464, 4465}, {"65536", 4600, 4601}, {"abc", 4600, 4601},
        {"-1", 65535, 0},      {"1024", 1024, 1025},  {"", 4600, 4601}};
    for (const auto &c : cases) {
        use_config(dir, std::string("[nimbra_ports]\nbase_port=") + c.base + "\n");
        EXPECT_EQ(capture([] { return get_nimbra_port(PORT_FILTERD); }), c.port0) << c.base;
        EXPECT_EQ(get_nimbra_port(PORT_TIMETRACKER_DNS), c.port1) << c.base;
    }
}

TEST_F(nimbrafiles, settings_are_parsed_once_and_cached) {
    use_config(dir, "[nimbra_path]\nbase=/opt/n\n[network]\nifnames=br0 eth1\n[hwa_flow]\nraise_supported=70001\n"
                    "[iptables]\nuse_tproxy_ipv6=yes\nchains_handled_by_router=2x\n");
    EXPECT_EQ(capture(get_hwa_flow_config), nullptr);  // no flush_interval yet: read again next time
    EXPECT_EQ(get_use_tproxy_ipv6(), 0);               // only leading digits count
    EXPECT_EQ(get_chains_handled_by_router(), 2);
    EXPECT_EQ(std::filesystem::path(capture(get_nimbra_certfile)).lexically_normal(), "/opt/n/shares/usr/bin/trusted-US-cas.pem");
    ASSERT_NE(get_nimbra_ifnames(), nullptr);
    write_text(dir / "nimbra.ini", "[nimbra_path]\nbase=/other\n[hwa_flow]\nraise_supported=70001\nflush_interval=3\n");
    EXPECT_STREQ(get_nimbra_base_path(), "/opt/n");
    EXPECT_STREQ(get_nimbra_ifnames()[1], "eth1");
    ASSERT_NE(get_hwa_flow_config(), nullptr);
    EXPECT_EQ(get_hwa_flow_config()->raise_supported, 70001 % 65536);
    EXPECT_EQ(get_hwa_flow_config()->flush_interval, 3);
}

TEST_F(nimbrafiles, path_slots_are_fixed_by_first_call_and_bounded) {
    EXPECT_STREQ(get_nimbra_path(122, "/a", "/b"), "/a/b");
    EXPECT_STREQ(get_nimbra_path(122, "/c", "/d"), "/a/b");
    EXPECT_EQ(strlen(get_nimbra_path(100, std::string(2000, 'x').c_str(), "/y")), 1023u);
    const struct { unsigned slot; const char *dir, *suffix; } invalid[] = {
        {123, "/a", "/b"}, {1, nullptr, "/b"}, {1, "/a", nullptr}, {1, "", "/b"}, {1, "/a", ""}};
    for (const auto &c : invalid) {
        EXPECT_STREQ(capture([&] { return get_nimbra_path(c.slot, c.dir, c.suffix); }), "");
        EXPECT_EQ(err, "nimbrafiles - get_nimbra_path (138): Invalid parameters\n");
    }
}

}  // namespace

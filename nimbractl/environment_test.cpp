#include "nimbractl/environment.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "libraries/nimbracfg/nimbrafiles.h"
#include "tests/fake_vendor.h"
#include "tests/test_support.h"

namespace {

const char kDirs[] =
    "[nimbra_path]\nbase=/opt/nimbra\nramdisk=/tmp/nimbra\ndata=/data/nimbra\n"
    "db=/data/db\nlog=/tmp/log\n";

class environment : public ::testing::Test {
protected:
    void SetUp() override {
        reset_fake_vendor();
        setenv("PATH", "/usr/bin", 1);
        unsetenv("LD_LIBRARY_PATH");
    }
    void TearDown() override {
        setenv("PATH", saved_path_.c_str(), 1);
        reset_nimbra_config_cache();
    }
    int export_with(const std::string &ini) {
        use_config(dir, ini);
        testing::internal::CaptureStderr();
        int result = export_environment();
        err = testing::internal::GetCapturedStderr();
        return result;
    }
    static std::string env(const char *name) {
        const char *value = getenv(name);
        return value ? value : "<unset>";
    }
    temp_dir dir;
    std::string err;
    std::string saved_path_ = getenv("PATH");
};

TEST_F(environment, exports_every_variable_with_defaults) {
    ASSERT_EQ(export_with(std::string(kDirs) + "[network]\nifnames=br0, eth1\n"), 0) << err;
    const struct {
        const char *name, *value;
    } expected[] = {
        {"NIMBRA_ROOT", "/opt/nimbra/shares/usr/bin/"},
        {"NIMBRA_BASE", "/opt/nimbra/shares/"},
        {"NIMBRA_TMP", "/tmp/nimbra"},
        {"NIMBRA_DATA", "/data/nimbra"},
        {"NIMBRA_DB_PATH", "/data/db"},
        {"NIMBRA_LOG", "/tmp/log"},
        {"NIMBRA_BRIDGE", "br0"},
        {"NIMBRA_DNSMASQ_PORT", "5300"},
        {"NIMBRA_ROUTER_DNSMASQ_PORT", "53"},
        {"NIMBRA_PORT_FILTERD", "4600"},
        {"NIMBRA_PORT_TIMETRACKER_DNS", "4601"},
        {"NIMBRA_PORT_DNSMASQ_SAVEDQ", "4605"},
        {"NIMBRA_PORT_IPADDR_MANAGER", "4603"},
        {"PATH", "/opt/nimbra/shares/usr/bin/:/usr/bin"},
        {"LD_LIBRARY_PATH", "/opt/nimbra/shares/usr/lib/"},
    };
    for (const auto &e : expected) EXPECT_EQ(env(e.name), e.value) << e.name;
}

TEST_F(environment, ports_follow_configuration) {
    ASSERT_EQ(export_with(std::string(kDirs) +
                          "[network]\nbridge_ifname=br-lan\n"
                          "[nimbra_ports]\nbase_port=65535\ndnsmasq_port=53\n"
                          "router_dnsmasq_port=5353\n"),
              0)
        << err;
    EXPECT_EQ(env("NIMBRA_BRIDGE"), "br-lan");
    EXPECT_EQ(env("NIMBRA_PORT_FILTERD"), "65535");
    EXPECT_EQ(env("NIMBRA_PORT_TIMETRACKER_DNS"), "0");
    EXPECT_EQ(env("NIMBRA_PORT_DNSMASQ_SAVEDQ"), "4");
    EXPECT_EQ(env("NIMBRA_DNSMASQ_PORT"), "53");
    EXPECT_EQ(env("NIMBRA_ROUTER_DNSMASQ_PORT"), "5353");
}

TEST_F(environment, fails_without_interfaces_or_directories) {
    EXPECT_EQ(export_with(kDirs), -1);
    EXPECT_EQ(export_with("[nimbra_path]\nbase=/b\nramdisk=/r\n[network]\nifnames=br0\n"), -1);
    EXPECT_NE(err.find("Warning: 'nimbra_path.data' not found"), std::string::npos) << err;
}

TEST_F(environment, missing_base_exports_empty_paths) {
    ASSERT_EQ(export_with("[nimbra_path]\nramdisk=/r\ndata=/d\ndb=/db\nlog=/l\n"
                          "[network]\nifnames=br0\n"),
              0);
    EXPECT_EQ(env("NIMBRA_ROOT"), "");
    EXPECT_EQ(env("PATH"), ":/usr/bin");
    EXPECT_EQ(env("LD_LIBRARY_PATH"), "");
}

TEST_F(environment, unsafe_values_are_refused_naming_the_key) {
    const struct {
        const char *key_line, *key;
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
    };
    for (const auto &c : cases) {
        // The first match wins, so the hostile line goes before the good ones.
        std::string ini = std::string(c.key_line) + kDirs;
        if (strncmp(c.key, "network.", 8) != 0) ini += "[network]\nifnames=br0\n";
        EXPECT_EQ(export_with(ini), -1) << c.key_line;
        EXPECT_NE(err.find(std::string("Unsafe value for ") + c.key + "\n"), std::string::npos)
            << err;
    }
}

TEST(append_env_path, puts_directory_first) {
    unsetenv("NIMBRA_TEST_PATH");
    EXPECT_EQ(append_env_path("NIMBRA_TEST_PATH", "/a"), 0);
    EXPECT_STREQ(getenv("NIMBRA_TEST_PATH"), "/a");
    EXPECT_EQ(append_env_path("NIMBRA_TEST_PATH", "/b"), 0);
    EXPECT_EQ(append_env_path("NIMBRA_TEST_PATH", "/a"), 0);
    EXPECT_STREQ(getenv("NIMBRA_TEST_PATH"), "/a:/b:/a");
    EXPECT_EQ(append_env_path("NIMBRA_TEST_PATH", nullptr), -22);
    unsetenv("NIMBRA_TEST_PATH");
}

TEST(mkdir_recursive, creates_missing_levels) {
    temp_dir dir;
    struct stat st;
    EXPECT_EQ(mkdir_recursive((dir / "a/b/c").c_str(), 0755), 0);
    EXPECT_EQ(stat((dir / "a/b/c").c_str(), &st), 0);
    EXPECT_EQ(mkdir_recursive((dir / "a/b/c").c_str(), 0755), -1);
    EXPECT_EQ(mkdir_recursive((dir / "x/y/").c_str(), 0755), 0);
    EXPECT_EQ(stat((dir / "x/y").c_str(), &st), 0);
    EXPECT_EQ(mkdir_recursive("", 0755), -1);
    EXPECT_EQ(mkdir_recursive(nullptr, 0755), -22);
}

}  // namespace

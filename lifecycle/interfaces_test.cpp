#include "lifecycle/interfaces.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "libraries/nimbracfg/nimbrafiles.h"
#include "tests/fake_vendor.h"
#include "tests/test_support.h"
#include "util/files.h"

namespace {

class init_interfaces_test : public ::testing::Test {
protected:
    void SetUp() override {
        reset_fake_vendor();
        mkdir((dir / "sys").c_str(), 0755);
        mkdir((dir / "sys/br0").c_str(), 0755);
        mkdir((dir / "ram").c_str(), 0755);
        mkdir((dir / "base").c_str(), 0755);
        use_config(dir, "[nimbra_path]\nbase=" + dir / "base" + "\nramdisk=" + dir / "ram" +
                            "\n[network]\nifnames=br0 eth1\n");
    }
    void TearDown() override { reset_nimbra_config_cache(); }
    int run(const std::string &sys) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int result = init_interfaces_in(sys.c_str());
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
        return result;
    }
    temp_dir dir;
    process_recorder recorder;
    std::string out, err;
};

TEST_F(init_interfaces_test, prepares_first_interface_and_records_mac) {
    write_text(dir / "sys/br0/address", "aa:bb:cc:dd:ee:ff\n");
    mkdir((dir / "base/shares").c_str(), 0755);
    mkdir((dir / "base/shares/usr").c_str(), 0755);
    mkdir((dir / "base/shares/usr/bin").c_str(), 0755);
    write_text(dir / "base/shares/usr/bin/hosts", "127.0.0.1 x\n");
    ASSERT_EQ(run(dir / "sys"), 0) << err;
    const std::string root = dir / "base/shares/usr/bin/";
    EXPECT_EQ(test_events(), (std::vector<std::string>{
                                 "system: ifconfig br0:0 10.123.234.1 netmask 255.255.255.0",
                                 "popen: ip -6 addr show dev br0",
                                 "system: ip addr add fd22:9464:dfb8::1/64 dev br0",
                                 "system: cp -f " + root + "/hosts " + dir / "ram/nimbra_hosts",
                                 "system: " + root + "/scripts//resolv_safesearch.sh &",
                             }));
    EXPECT_EQ(out, "Initializing interfaces ...\n");
    EXPECT_EQ(read_text(dir / "ram/MAC"), "aa:bb:cc:dd:ee:ff");
}

TEST_F(init_interfaces_test, keeps_existing_address_and_mac) {
    write_text(dir / "ram/MAC", "old");
    recorder.output["ip -6 addr show dev br0"] = "    inet6 fd22:9464:dfb8::10/64 scope global\n";
    ASSERT_EQ(run(dir / "sys"), 0) << err;
    EXPECT_EQ(recorder.runs().size(), 2u);  // alias and safe-search script only
    EXPECT_EQ(read_text(dir / "ram/MAC"), "old");
}

TEST_F(init_interfaces_test, refuses_what_it_cannot_prepare) {
    const struct {
        const char *name;
        const char *config_network;  // replaces the [network] section
        const char *address;         // contents of sys/br0/address, nullptr: missing
        const char *sys;             // relative to the temp dir
        const char *message;
    } cases[] = {
        {"no_list", "", "aa:bb:cc:dd:ee:ff", "sys", "Error: No network interface found\n"},
        {"first_missing", "ifnames=eth9 br0", "aa:bb:cc:dd:ee:ff", "sys",
         "Error: Interface eth9 not found\n"},
        {"mac_16", "ifnames=br0", "aa:bb:cc:dd:ee:f\n", "sys",
         "Failed to get MAC for interface br0\n"},
        {"mac_18", "ifnames=br0", "aa:bb:cc:dd:ee:ff0 x", "sys",
         "Failed to get MAC for interface br0\n"},
        {"no_sysfs_no_mac", "ifnames=eth9", nullptr, "nosys",
         "Failed to get MAC for interface eth9\n"},
    };
    for (const auto &c : cases) {
        use_config(dir, "[nimbra_path]\nramdisk=" + dir / "ram" + "\n[network]\n" +
                            c.config_network + "\n");
        remove((dir / "sys/br0/address").c_str());
        if (c.address) write_text(dir / "sys/br0/address", c.address);
        EXPECT_EQ(run(dir / c.sys), -1) << c.name;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.name << ": " << err;
        EXPECT_FALSE(file_exists((dir / "ram/MAC").c_str())) << c.name;
    }
}

}  // namespace

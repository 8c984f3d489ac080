#include "lifecycle/interfaces.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "util/files.h"

namespace {

class init_interfaces_test : public agent_test {
protected:
    int run(const std::string &network, const char *sys = "sys") {
        std::filesystem::create_directories(dir / "sys/br0");
        std::filesystem::create_directories(dir / "ram");
        use_config(dir, tree_ini() + "[network]\n" + network + "\n");
        return capture([&] { return init_interfaces_in((dir / sys).c_str()); });
    }
};

TEST_F(init_interfaces_test, refuses_what_it_cannot_prepare) {
    // The network section, sys/br0/address (nullptr: none), the sysfs tree
    // and the refusal.
    const struct { const char *network, *address, *sys, *message; } cases[] = {
        {"", "aa:bb:cc:dd:ee:ff", "sys", "Error: No network interface found\n"},
        {"ifnames=eth9 br0", "aa:bb:cc:dd:ee:ff", "sys", "Error: Interface eth9 not found\n"},
        {"ifnames=br0", "aa:bb:cc:dd:ee:f\n", "sys", "Failed to get MAC for interface br0\n"},
        {"ifnames=br0", "aa:bb:cc:dd:ee:ff0 x", "sys", "Failed to get MAC for interface br0\n"},
        {"ifnames=eth9", nullptr, "nosys", "Failed to get MAC for interface eth9\n"},
    };
    for (const auto &c : cases) {
        remove((dir / "sys/br0/address").c_str());
        if (c.address) write_text(dir / "sys/br0/address", c.address);
        EXPECT_EQ(run(c.network, c.sys), -1) << c.network;
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
        EXPECT_FALSE(file_exists((dir / "ram/MAC").c_str()));
    }
}

// An empty MAC file is what a write cut short leaves: recorded again, whole.
TEST_F(init_interfaces_test, records_the_mac_unless_a_whole_one_is_there) {
    for (const std::string before : {"", "11:22:33:44:55:66"}) {
        std::filesystem::create_directories(dir / "ram");
        write_text(dir / "ram/MAC", before);
        write_text(dir / "sys/br0/address", "aa:bb:cc:dd:ee:ff\n");
        EXPECT_EQ(run("ifnames=br0"), 0) << err;
        EXPECT_EQ(read_text(dir / "ram/MAC"), before.empty() ? "aa:bb:cc:dd:ee:ff" : before);
    }
}

// A repair names each address it could not add; the alias of an interface
// that does not exist is missing, like a flushed one.
TEST_F(init_interfaces_test, repair_names_the_addresses_it_cannot_add) {
    recorder.status = {{"ifconfig nimbra-none0:0 10.123.234.1 netmask 255.255.255.0", 2},
                       {"ip addr add fd22:9464:dfb8::1/64 dev nimbra-none0", 2}};
    EXPECT_EQ(capture([] { return add_redirect_addresses("nimbra-none0", true); }), -1);
    EXPECT_EQ(err, "Can't add 10.123.234.1 to nimbra-none0\nCan't add fd22:9464:dfb8::1/64 to nimbra-none0\n");
}

}  // namespace

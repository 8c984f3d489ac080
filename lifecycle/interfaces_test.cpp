#include "lifecycle/interfaces.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "util/files.h"

namespace {

class init_interfaces_test : public agent_test {
protected:
    int run(const std::string &network, const char *sys = "sys") {
        make_dirs(dir.path, {"sys/br0", "ram"});
        use_config(dir, tree_ini() + "[network]\n" + network + "\n");
        return capture([&] { return init_interfaces_in((dir / sys).c_str()); });
    }
};

TEST_F(init_interfaces_test, prepares_first_interface_and_records_mac) {
    write_text(dir / "sys/br0/address", "aa:bb:cc:dd:ee:ff\n");
    write_text(dir / "base/shares/usr/bin/hosts", "127.0.0.1 x\n");
    ASSERT_EQ(run("ifnames=br0 eth1"), 0) << err;
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

TEST_F(init_interfaces_test, refuses_what_it_cannot_prepare) {
    const struct {
        const char *network, *address;  // contents of sys/br0/address, nullptr: none
        const char *sys, *message;
    } cases[] = {
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

// The alias of an interface that does not exist is missing, like a flushed one.
TEST_F(init_interfaces_test, repair_adds_only_missing_addresses_and_names_failures) {
    const std::string alias = "ifconfig nimbra-none0:0 10.123.234.1 netmask 255.255.255.0";
    const std::string ipv6 = "ip addr add fd22:9464:dfb8::1/64 dev nimbra-none0";
    const struct {
        const char *ipv6_listing;
        int status, result;
        std::vector<std::string> runs;
        const char *err;
    } cases[] = {
        {"    inet6 fd22:9464:dfb8::1/64 scope global\n", 0, 0, {alias}, ""},
        {"", 0, 0, {alias, ipv6}, ""},
        {"", 2, -1, {alias, ipv6},
         "Can't add 10.123.234.1 to nimbra-none0\nCan't add fd22:9464:dfb8::1/64 to nimbra-none0\n"},
    };
    for (const auto &c : cases) {
        recorder.output = {{"ip -6 addr show dev nimbra-none0", c.ipv6_listing}};
        recorder.status = {{alias, c.status}, {ipv6, c.status}};
        test_events().clear();
        EXPECT_EQ(capture([] { return add_redirect_addresses("nimbra-none0", true); }), c.result);
        EXPECT_EQ(recorder.runs(), c.runs);
        EXPECT_EQ(err, c.err);
    }
}

}  // namespace

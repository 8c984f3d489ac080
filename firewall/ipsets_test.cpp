#include "firewall/ipsets.h"

#include <gtest/gtest.h>

#include "firewall/batch.h"
#include "tests/fake_vendor.h"
#include "tests/test_support.h"

namespace {

class ip_sets : public agent_test {
protected:
    // The echo of one list, which is the same whichever way it runs.
    std::string run(void (*list)()) {
        capture(list);
        return out;
    }
};

TEST_F(ip_sets, batching_vendor_gets_one_restore_that_falls_back_on_failure) {
    const std::string one_by_one = run(create_ip_sets);
    set_vendor_iptables_batch(fake_iptables_batch);
    test_events().clear();
    EXPECT_EQ(run(create_ip_sets), one_by_one);
    ASSERT_EQ(recorder.runs().size(), 1u);
    const std::string restore = recorder.runs()[0];
    EXPECT_EQ(restore.substr(0, restore.find('\n')), "ipset -exist restore <<'EOF'");
    EXPECT_NE(restore.find("\ncreate torlist hash:ip hashsize 2048 maxelem 65536\n"), std::string::npos);
    recorder.status[restore] = 1;
    test_events().clear();
    EXPECT_EQ(run(create_ip_sets), one_by_one);
    EXPECT_EQ(recorder.runs().size(), 14u);
    EXPECT_EQ(err, "ipset restore failed; running its commands one at a time\n");
    test_events().clear();
    run(destroy_ip_sets);
    EXPECT_NE(recorder.runs()[0].find("\ndestroy managedlistv6\nEOF"), std::string::npos);
}

}  // namespace

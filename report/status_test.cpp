#include "report/status.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <time.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <thread>

#include "tests/test_support.h"
#include "util/files.h"
#include "util/lock_file.h"

namespace {

const std::map<std::string, std::string> kProvisioned = {
    {"data/apptoken", ""}, {"data/cloudhost", "cloud.ex"}, {"data/nimbraid", "0123456789"},
    {"data/cloudtoken", "0123456789"}, {"data/refreshtoken", "-"}};

class status_report : public agent_test {
protected:
    void SetUp() override {
        agent_test::SetUp();
        use_config(dir, tree_ini() + "[network]\nifnames=br0\n");
        write(kProvisioned);
        write({{"ram/status/rclient_connected", ""}});
    }
    // Writes each file under dir, "@" replaced by the time offset seconds
    // from now; "-" removes it.
    void write(const std::map<std::string, std::string> &files, long offset = 0) {
        for (auto file : files) {
            const size_t at = file.second.find('@');
            if (at != std::string::npos) file.second.replace(at, 1, std::to_string(time(nullptr) + offset));
            file.second == "-" ? (void)remove((dir / file.first).c_str()) : write_text(dir / file.first, file.second);
        }
    }
};

// An age is now minus the recorded time, or the number itself when it is
// not above 0; a ping counts from one second on.
TEST_F(status_report, cloud_records_give_result_and_age) {
    const long after_2038 = static_cast<long>(INT32_MAX + 100LL - time(nullptr));  // its age fits a long
    // A file in ram/status, its text ("@": now plus offset) and the line it gives.
    const struct { const char *file, *text; long offset; std::string line; } cases[] = {
        {"rclient_connected", "", 0, "rclient:   connected\n"},
        {"rclient_last_ping", " \t+@\n", -7, "           last ping: 7s\n"},
        {"rclient_last_ping", "@", 0, "           last ping: none\n"},
        {"configd_last_auth", "SUCCESS:@", -4, "configd:   last auth: fail, 4s\n"},
        {"configd_last_auth", "", 0, "configd:   last auth: none\n"},
        {"configd_last_settings", "success:-3", 0, "           last settings (down): success, -3s\n"},
        {"configd_last_settings", "success", 0, "           last settings (down): success, -1s\n"},
        {"configd_last_logs", "success:@", after_2038, "last logs (up): success, " + std::to_string(-after_2038)},
    };
    for (const auto &c : cases) {
        const std::string file = std::string("ram/status/") + c.file;
        for (time_t now = 0; now != time(nullptr);) {  // again if the clock moved on meanwhile
            now = time(nullptr);
            write({{file, c.text}}, c.offset);
            capture([] { print_cloud_status(0, nullptr, 0); });
        }
        EXPECT_NE(out.find(c.line), std::string::npos) << c.line << out;
        write({{file, "-"}});
    }
}

TEST_F(status_report, provisioning_needs_identity_and_a_usable_token_and_waits_for_the_lock) {
    // Changes from kProvisioned, and the state they give.
    const struct { std::map<std::string, std::string> files; int state; } cases[] = {
        {{{"data/cloudtoken", "012345678"}, {"data/refreshtoken", "0123456789"}}, 1},
        {{{"data/cloudtoken", "012345678"}}, -1},
        {{{"data/nimbraid", "012345678"}}, 0},
        {{{"data/cloudhost", "cloud.e"}}, 0},
        {{{"data/apptoken", "-"}}, 0},
    };
    for (const auto &c : cases) {
        write(kProvisioned);
        write(c.files);
        EXPECT_EQ(get_provisioning_state(), c.state) << c.files.begin()->first;
        EXPECT_FALSE(file_exists((dir / "ram/provisioning.lock").c_str()));
    }
    write(kProvisioned);
    const int held = lock_file_open((dir / "ram/provisioning.lock").c_str());
    std::atomic<int> state{2};
    std::atomic<long> task{0};
    std::thread check([&] {
        task = syscall(SYS_gettid);
        state = get_provisioning_state();
    });
    // Until the check sleeps (in flock: nothing else it does can block)
    // or is done.
    auto sleeping = [&] {
        const std::string stat = read_text("/proc/self/task/" + std::to_string(task) + "/stat");
        return task && stat.size() > stat.rfind(')') + 2 && stat[stat.rfind(')') + 2] == 'S';
    };
    while (state == 2 && !sleeping()) std::this_thread::yield();
    EXPECT_EQ(state, 2);
    lock_file_close(held);
    check.join();
    EXPECT_EQ(state, 1);
}

// The whole text report of a running, provisioned agent on two interfaces,
// then its JSON form.
TEST_F(status_report, whole_report) {
    use_config(dir, tree_ini() + "[network]\nifnames=br0 br1\n");
    write({{"ram/status/nimbra_running", ""}, {"ram/status/rclient_connected", "-"}});
    recorder.answer = [](const std::string &command) {
        return command.find("sv status /var/service/*") != std::string::npos ? "run: apid\nrun: webd\n" : "";
    };
    const std::string dashes(49, '-');
    capture([] { print_status(0); });
    EXPECT_EQ(out, dashes + "\nNimbra Running: true\n    Nimbra running on interface br0\n    Nimbra running on interface br1\n"
                   "Nimbra Provisioned: true\n" + dashes + "\nNimbra Processes:\nrun: apid\nrun: webd\n" + dashes +
                   "\nNimbra Cloud Connectivity:\nrclient:   disconnected\n           last ping: none\n"
                   "configd:   last auth: none\n           last settings (down): none\n"
                   "           last logs (up): none\n" + dashes + "\n");
    capture([] { print_status(1); });
    EXPECT_EQ(out, R"({"nimbra-running":"true","nimbra-provisioned":"true","rclient":"disconnected"})" "\n");
}

}  // namespace

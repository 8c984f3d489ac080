#include "report/status.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdint.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "tests/test_support.h"
#include "util/files.h"
#include "util/lock_file.h"

namespace {

const std::string kDash = "-------------------------------------------------\n";
const char kStoppedJson[] =
    R"({"nimbra-running":"false","nimbra-provisioned":"false","rclient":"disconnected"})" "\n";

std::string cloud_text(const std::string &link, const std::string &ping, const std::string &auth,
                       const std::string &settings = "none", const std::string &logs = "none") {
    return "rclient:   " + link + "\n           last ping: " + ping + "\nconfigd:   last auth: " + auth +
           "\n           last settings (down): " + settings + "\n           last logs (up): " + logs + "\n";
}

void text_status() { print_status(0); }
void json_status() { print_status(1); }
void cloud_status() { print_cloud_status(0, nullptr, 0); }

class status_report : public agent_test {
protected:
    void SetUp() override {
        agent_test::SetUp();
        make_dirs(dir.path, {"ram/status", "data"});
        use_config(dir, tree_ini() + "[network]\nifnames=br0 eth1\n");
    }
    void provision(const std::string &cloud_token) {
        write_text(dir / "data/apptoken", "");
        write_text(dir / "data/cloudhost", "cloud.example.net");
        write_text(dir / "data/nimbraid", "0123456789");
        write_text(dir / "data/cloudtoken", cloud_token);
    }
    // Writes each status file, "@" replaced by the current time plus offset, then reports;
    // again if the clock moved on meanwhile, so that ages come out exact.
    std::string run(void (*report)(), const std::map<std::string, std::string> &files = {}, long offset = 0) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            const time_t now = time(nullptr);
            for (auto file : files) {
                const size_t at = file.second.find('@');
                if (at != std::string::npos) file.second.replace(at, 1, std::to_string(now + offset));
                write_text(dir / "ram/status/" + file.first, file.second);
            }
            capture(report);
            if (time(nullptr) == now) break;
        }
        return out;
    }
};

TEST_F(status_report, stopped_agent_without_records) {
    EXPECT_EQ(run(text_status), kDash + "Nimbra Running: false\nNimbra Provisioned: false\n" + kDash +
                                    "Nimbra Cloud Connectivity:\n" +
                                    cloud_text("disconnected", "none", "none") + kDash);
    EXPECT_TRUE(recorder.reads().empty());
    EXPECT_EQ(run(json_status), kStoppedJson);
}

TEST_F(status_report, running_provisioned_agent) {
    const std::string sv = dir / "base/shares/usr/bin//sv status /var/service/*";
    recorder.output[sv] = "run: /var/service/apid: (pid 41) 9s\nrun: /var/service/webd: (pid 42) 9s\n";
    provision("0123456789");
    const std::map<std::string, std::string> files = {
        {"nimbra_running", ""}, {"rclient_connected", ""}, {"rclient_last_ping", "@"},
        {"configd_last_auth", "success:@"}, {"configd_last_settings", "success"},
        {"configd_last_logs", "timeout:@\n"}};
    EXPECT_EQ(run(text_status, files, -30),
              kDash + "Nimbra Running: true\n    Nimbra running on interface br0\n"
                      "    Nimbra running on interface eth1\nNimbra Provisioned: true\n" +
                  kDash + "Nimbra Processes:\n" + recorder.output[sv] + kDash +
                  "Nimbra Cloud Connectivity:\n" +
                  cloud_text("connected", "30s", "success, 30s", "success, -1s", "fail, 30s") + kDash);
    EXPECT_EQ(run(json_status),
              R"({"nimbra-running":"true","nimbra-provisioned":"true","rclient":"connected"})" "\n");
    EXPECT_FALSE(file_exists((dir / "ram/provisioning.lock").c_str()));
}

TEST_F(status_report, record_ages) {
    // A time after January 2038 does not fit a 32-bit long; its age does.
    const long after_2038 = static_cast<long>(INT32_MAX + 100LL - time(nullptr));
    const struct {
        const char *file, *text;  // "@": the current time plus offset
        long offset;
        std::string ping, auth;
    } cases[] = {
        {"rclient_last_ping", " \t+@\n", -7, "7s", "none"},
        {"rclient_last_ping", "0", 0, "none", "none"},
        {"rclient_last_ping", "-3", 0, "none", "none"},
        {"rclient_last_ping", "@", 0, "none", "none"},
        {"rclient_last_ping", "@", 100, "none", "none"},
        {"configd_last_auth", "SUCCESS:@", -4, "none", "fail, 4s"},
        {"configd_last_auth", "success:0", 0, "none", "success, 0s"},
        {"configd_last_auth", "success:@", 10, "none", "success, -10s"},
        {"configd_last_auth", "", 0, "none", "none"},
        {"configd_last_auth", "success:@", after_2038, "none", "success, " + std::to_string(-after_2038) + "s"},
        // A daemon's garbage must neither wrap nor trap.
        {"configd_last_auth", "fail:-999999999999999999999999", 0, "none",
         "fail, " + std::to_string(LONG_MIN) + "s"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(run(cloud_status, {{c.file, c.text}}, c.offset), cloud_text("disconnected", c.ping, c.auth))
            << c.text;
        unlink((dir / "ram/status/" + c.file).c_str());
    }
}

TEST_F(status_report, provisioning_state) {
    const struct {
        const char *app_token, *host, *id, *cloud_token, *refresh_token;  // nullptr: no file
        int state;
    } cases[] = {
        {"", "cloud.ex", "0123456789", "0123456789", nullptr, 1},
        {"", "cloud.ex", "0123456789", "012345678", "0123456789", 1},
        {"", "cloud.ex", "012345678", "0123456789", nullptr, 0},
        {"", "cloud.e", "0123456789", "0123456789", nullptr, 0},
        {nullptr, "cloud.ex", "0123456789", "0123456789", nullptr, 0},
        {"", "cloud.ex", "0123456789", "012345678", "012345678", -1},
    };
    for (const auto &c : cases) {
        const char *const files[] = {"apptoken", "cloudhost", "nimbraid", "cloudtoken", "refreshtoken"};
        const char *const texts[] = {c.app_token, c.host, c.id, c.cloud_token, c.refresh_token};
        for (int i = 0; i < 5; ++i) {
            unlink((dir / "data/" + files[i]).c_str());
            if (texts[i]) write_text(dir / "data/" + files[i], texts[i]);
        }
        EXPECT_EQ(get_provisioning_state(), c.state) << "case " << &c - cases;
        EXPECT_FALSE(file_exists((dir / "ram/provisioning.lock").c_str()));
    }
    // Only a usable token counts as provisioned in the report (the last case has none).
    EXPECT_EQ(run(json_status), kStoppedJson);
}

TEST_F(status_report, provisioning_check_waits_for_the_lock) {
    provision("0123456789");
    const int held = lock_file_open((dir / "ram/provisioning.lock").c_str());
    ASSERT_GE(held, 0);
    std::atomic<int> state{2};
    std::thread check([&] { state = get_provisioning_state(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(state, 2);
    lock_file_close(held);
    check.join();
    EXPECT_EQ(state, 1);
    // Without a ram directory there is no lock file, and the check goes on.
    use_config(dir, "[nimbra_path]\nramdisk=" + dir / "no_ram" + "\n" + tree_ini());
    EXPECT_EQ(capture(get_provisioning_state), 1);
    EXPECT_EQ(err, "open: No such file or directory\n");
}

}  // namespace

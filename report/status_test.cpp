#include "report/status.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "libraries/nimbracfg/nimbrafiles.h"
#include "tests/fake_vendor.h"
#include "tests/test_support.h"
#include "util/files.h"
#include "util/lock_file.h"

namespace {

const std::string kDash = "-------------------------------------------------\n";

std::string cloud_text(const std::string &link, const std::string &ping, const std::string &auth,
                       const std::string &settings, const std::string &logs) {
    return "rclient:   " + link + "\n           last ping: " + ping + "\nconfigd:   last auth: " + auth +
           "\n           last settings (down): " + settings + "\n           last logs (up): " + logs + "\n";
}

class status_report : public ::testing::Test {
protected:
    void SetUp() override {
        reset_fake_vendor();
        for (const char *sub : {"ram", "ram/status", "data", "base"}) mkdir((dir / sub).c_str(), 0755);
        configure("ram");
    }
    void TearDown() override { reset_nimbra_config_cache(); }
    void configure(const std::string &ram) {
        use_config(dir, "[nimbra_path]\nbase=" + dir / "base" + "\nramdisk=" + dir / ram + "\ndata=" +
                            dir / "data" + "\n[network]\nifnames=br0 eth1\n");
    }
    std::string status_file(const std::string &name) const { return dir / "ram/status/" + name; }
    void provision(const std::string &cloud_token) {
        write_text(dir / "data/apptoken", "");
        write_text(dir / "data/cloudhost", "cloud.example.net");
        write_text(dir / "data/nimbraid", "0123456789");
        write_text(dir / "data/cloudtoken", cloud_token);
    }
    // Runs report with stdout captured; prepare writes files stamped with
    // the current second, and the run is repeated if the clock moved on
    // meanwhile, so that ages come out exact.
    std::string run(const std::function<void(time_t)> &prepare, const std::function<void()> &report) {
        std::string out;
        for (int attempt = 0; attempt < 3; ++attempt) {
            const time_t now = time(nullptr);
            prepare(now);
            testing::internal::CaptureStdout();
            report();
            out = testing::internal::GetCapturedStdout();
            if (time(nullptr) == now) break;
        }
        return out;
    }
    std::string run(const std::function<void()> &report) {
        return run([](time_t) {}, report);
    }
    temp_dir dir;
    process_recorder recorder;
};

TEST_F(status_report, stopped_agent_without_records) {
    EXPECT_EQ(run([] { print_status(0); }),
              kDash + "Nimbra Running: false\nNimbra Provisioned: false\n" + kDash + "Nimbra Cloud Connectivity:\n" +
                  cloud_text("disconnected", "none", "none", "none", "none") + kDash);
    EXPECT_TRUE(recorder.reads().empty());
    EXPECT_EQ(run([] { print_status(1); }),
              R"({"nimbra-running":"false","nimbra-provisioned":"false","rclient":"disconnected"})"
              "\n");
}

TEST_F(status_report, running_provisioned_agent) {
    const std::string sv = dir / "base/shares/usr/bin//sv status /var/service/*";
    recorder.output[sv] = "run: /var/service/apid: (pid 41) 9s\nrun: /var/service/webd: (pid 42) 9s\n";
    write_text(status_file("nimbra_running"), "");
    write_text(status_file("rclient_connected"), "");
    provision("0123456789");
    const auto prepare = [&](time_t now) {
        write_text(status_file("rclient_last_ping"), std::to_string(now - 5));
        write_text(status_file("configd_last_auth"), "success:" + std::to_string(now - 30));
        write_text(status_file("configd_last_settings"), "success");
        write_text(status_file("configd_last_logs"), "timeout:" + std::to_string(now - 60) + "\n");
    };
    EXPECT_EQ(run(prepare, [] { print_status(0); }),
              kDash +
                  "Nimbra Running: true\n"
                  "    Nimbra running on interface br0\n"
                  "    Nimbra running on interface eth1\n"
                  "Nimbra Provisioned: true\n" +
                  kDash + "Nimbra Processes:\n" + recorder.output[sv] + kDash + "Nimbra Cloud Connectivity:\n" +
                  cloud_text("connected", "5s", "success, 30s", "success, -1s", "fail, 60s") + kDash);
    EXPECT_EQ(recorder.reads(), std::vector<std::string>{sv});
    EXPECT_EQ(run([] { print_status(1); }),
              R"({"nimbra-running":"true","nimbra-provisioned":"true","rclient":"connected"})"
              "\n");
    EXPECT_FALSE(file_exists((dir / "ram/provisioning.lock").c_str()));
}

TEST_F(status_report, ping_age) {
    const struct {
        const char *name;
        const char *prefix;  // nullptr: no file
        bool stamped;        // the current time plus offset follows prefix
        long offset;
        const char *suffix;
        const char *line;
    } cases[] = {
        {"five_seconds_ago", "", true, -5, "", "5s"},
        {"blanks_sign_and_newline", " \t+", true, -7, "\n", "7s"},
        {"now", "", true, 0, "", "none"},
        {"future", "", true, 100, "", "none"},
        {"zero", "0", false, 0, "", "none"},
        {"negative", "-3", false, 0, "", "none"},
        {"not_a_number", "soon", false, 0, "", "none"},
        {"empty", "", false, 0, "", "none"},
        {"absent", nullptr, false, 0, "", "none"},
        {"beyond_long", "999999999999999999999999", false, 0, "", "none"},
        {"beyond_long_negative", "-999999999999999999999999", false, 0, "", "none"},
    };
    for (const auto &c : cases) {
        const std::string path = status_file("rclient_last_ping");
        unlink(path.c_str());
        const auto prepare = [&](time_t now) {
            if (!c.prefix) return;
            write_text(path, c.prefix + (c.stamped ? std::to_string(now + c.offset) : "") + c.suffix);
        };
        EXPECT_EQ(run(prepare, [] { print_cloud_status(0, nullptr, 0); }),
                  cloud_text("disconnected", c.line, "none", "none", "none"))
            << c.name;
    }
}

TEST_F(status_report, configd_record) {
    const struct {
        const char *name;
        const char *prefix;  // nullptr: no file
        bool stamped;
        long offset;
        const char *suffix;
        const char *line;
    } cases[] = {
        {"success_30s", "success:", true, -30, "", "success, 30s"},
        {"success_without_time", "success", false, 0, "", "success, -1s"},
        {"success_prefix", "successful:", true, -2, "", "success, 2s"},
        {"other_word", "error:", true, -4, "\n", "fail, 4s"},
        {"upper_case", "SUCCESS:", true, -4, "", "fail, 4s"},
        {"time_zero", "success:0", false, 0, "", "success, 0s"},
        {"time_negative", "fail:-5", false, 0, "", "fail, -5s"},
        {"time_future", "success:", true, 10, "", "success, -10s"},
        {"second_colon", "fail:", true, -3, ":42", "fail, 3s"},
        {"empty", "", false, 0, "", "none"},
        {"absent", nullptr, false, 0, "", "none"},
    };
    for (const auto &c : cases) {
        const std::string path = status_file("configd_last_auth");
        unlink(path.c_str());
        const auto prepare = [&](time_t now) {
            if (!c.prefix) return;
            write_text(path, c.prefix + (c.stamped ? std::to_string(now + c.offset) : "") + c.suffix);
        };
        EXPECT_EQ(run(prepare, [] { print_cloud_status(0, nullptr, 0); }),
                  cloud_text("disconnected", "none", c.line, "none", "none"))
            << c.name;
    }
    // A daemon's garbage must neither wrap nor trap.
    write_text(status_file("configd_last_auth"), "fail:-999999999999999999999999");
    EXPECT_EQ(run([] { print_cloud_status(0, nullptr, 0); }),
              cloud_text("disconnected", "none", "fail, " + std::to_string(LONG_MIN) + "s", "none", "none"));
}

TEST_F(status_report, provisioning_state) {
    const struct {
        const char *name;
        bool app_token;
        const char *host, *id, *cloud_token, *refresh_token;  // nullptr: no file
        int state;
    } cases[] = {
        {"cloud_token", true, "cloud.ex", "0123456789", "0123456789", nullptr, 1},
        {"refresh_token", true, "cloud.ex", "0123456789", "012345678", "0123456789", 1},
        {"short_tokens", true, "cloud.ex", "0123456789", "012345678", "012345678", -1},
        {"no_tokens", true, "cloud.ex", "0123456789", nullptr, nullptr, -1},
        {"short_id", true, "cloud.ex", "012345678", "0123456789", nullptr, 0},
        {"short_host", true, "cloud.e", "0123456789", "0123456789", nullptr, 0},
        {"no_app_token", false, "cloud.ex", "0123456789", "0123456789", nullptr, 0},
        {"no_host", true, nullptr, "0123456789", "0123456789", nullptr, 0},
        {"no_id", true, "cloud.ex", nullptr, "0123456789", nullptr, 0},
    };
    for (const auto &c : cases) {
        const std::pair<const char *, const char *> files[] = {
            {"apptoken", c.app_token ? "" : nullptr}, {"cloudhost", c.host},        {"nimbraid", c.id},
            {"cloudtoken", c.cloud_token},           {"refreshtoken", c.refresh_token},
        };
        for (const auto &file : files) {
            unlink((dir / "data/" + file.first).c_str());
            if (file.second) write_text(dir / "data/" + file.first, file.second);
        }
        EXPECT_EQ(get_provisioning_state(), c.state) << c.name;
        EXPECT_FALSE(file_exists((dir / "ram/provisioning.lock").c_str())) << c.name;
    }
    // Only a usable token counts as provisioned in the report.
    provision("012345678");
    ASSERT_EQ(get_provisioning_state(), -1);
    EXPECT_EQ(run([] { print_status(1); }),
              R"({"nimbra-running":"false","nimbra-provisioned":"false","rclient":"disconnected"})"
              "\n");
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
}

TEST_F(status_report, provisioning_check_goes_on_without_lock) {
    provision("0123456789");
    configure("no_ram");
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_provisioning_state(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "open: No such file or directory\n");
}

}  // namespace

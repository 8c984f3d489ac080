#include "lifecycle/reset.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "util/files.h"

namespace {

class factory_reset_test : public agent_test {
protected:
    void configure(const std::string &paths) {
        make_dirs(dir.path, {"ram/status", "data"});
        use_config(dir, "[nimbra_path]\nramdisk=" + dir / "ram" + "\n" + paths + "[network]\nifnames=br0\n");
    }
};

TEST_F(factory_reset_test, second_reset_does_nothing) {
    configure("data=/d\ndb=/db\nlog=/l\n");
    write_text(dir / "ram/nimbra_resetting", "");
    capture(factory_reset);
    EXPECT_EQ(out, "Resetting Nimbra ...\nnimbra agent is resetting, no op\n");
    EXPECT_TRUE(recorder.runs().empty());
    EXPECT_TRUE(file_exists((dir / "ram/nimbra_resetting").c_str()));
}

TEST_F(factory_reset_test, stopped_agent_is_wiped_and_stays_stopped) {
    configure("data=" + dir / "data" + "\ndb=/db\nlog=/l\n");
    capture(factory_reset);
    EXPECT_EQ(out.find("Starting Nimbra"), std::string::npos);
    const std::string ram = dir / "ram";
    for (const std::string &command : std::vector<std::string>{
             "rm -rf " + dir / "data/*", "rm -rf " + ram + "/tracking//*", "rm -rf /db/*",
          "rm -rf " + ram + "/category_data//*", "rm -rf /l/apid/", "rm -rf /var/service/webd",
          "rm -rf " + ram + "/localization", "rm -rf " + ram + "/urls.tmp"})
        EXPECT_TRUE(recorder.ran(command)) << command;
    // Two emptied ram subdirectories, sixteen removals, and stop's status directory.
    EXPECT_EQ(events_with("system: rm -rf " + ram + "/").size(), 2u + 16u + 1u);
    EXPECT_FALSE(file_exists((dir / "ram/nimbra_resetting").c_str()));
}

TEST_F(factory_reset_test, unset_directories_are_never_removed_from_root) {
    configure("");
    capture(factory_reset);
    for (const std::string &run : recorder.runs()) {
        EXPECT_NE(run.rfind("rm -rf /*", 0), 0u) << run;
        EXPECT_NE(run.rfind("rm -rf /apid", 0), 0u) << run;
    }
    EXPECT_NE(err.find("nimbra_path.data is not set: its files are not removed\n"), std::string::npos) << err;
    EXPECT_NE(err.find("nimbra_path.log is not set"), std::string::npos);
}

}  // namespace

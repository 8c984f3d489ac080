#include "lifecycle/reset.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"
#include "util/files.h"

namespace {

using factory_reset_test = agent_test;

// A stopped agent loses what it learned and stays stopped; an unset
// directory is never taken for "/".
TEST_F(factory_reset_test, wipes_configured_places_only_and_keeps_a_stopped_agent_stopped) {
    const std::string ram = dir / "ram";
    make_dirs(dir.path, {"ram/status", "data"});
    use_config(dir, "[nimbra_path]\nramdisk=" + ram + "\ndata=" + dir / "data" + "\n[network]\nifnames=br0\n");
    capture(factory_reset);
    for (const std::string &command : {"rm -rf " + dir / "data/*", "rm -rf " + ram + "/tracking//*",
                                       "rm -rf " + ram + "/category_data//*", std::string("rm -rf /var/service/webd"),
                                       "rm -rf " + ram + "/localization", "rm -rf " + ram + "/urls.tmp"})
        EXPECT_TRUE(recorder.ran(command)) << command;
    for (const std::string &run : recorder.runs()) {
        EXPECT_NE(run.rfind("rm -rf /*", 0), 0u) << run;
        EXPECT_NE(run.rfind("rm -rf /apid", 0), 0u) << run;
    }
    EXPECT_EQ(out.find("Starting Nimbra"), std::string::npos);
    EXPECT_NE(err.find("nimbra_path.db is not set: its files are not removed\n"), std::string::npos) << err;
    EXPECT_NE(err.find("nimbra_path.log is not set: its files are not removed\n"), std::string::npos) << err;
    EXPECT_FALSE(file_exists((ram + "/nimbra_resetting").c_str()));
}

}  // namespace

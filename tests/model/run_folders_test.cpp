// The run folder tree: names from the multipliers' default text, one folder for a single
// point, spectrum folders, and distinct folders for repeated multiplier texts.
#include "model/run_folders.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "test_util.h"

namespace {

void set_points(model& md, std::vector<double> mults, int method = 0) {
    md.nCalib = static_cast<int>(mults.size());
    md.multipliers = {1.0};
    md.multipliers.insert(md.multipliers.end(), mults.begin(), mults.end());
    md.method = method;
}

}  // namespace

TEST(RunFolders, PointFoldersAreNamedByTheMultiplierText) {
    testutil::ScratchDir dir;
    model md;
    md.inputName = "b";
    set_points(md, {10, 0.5, 0.00001, 1000000});
    testing::internal::CaptureStdout();
    make_run_folders(md, dir.str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const std::string run = dir.str() + "/b";
    EXPECT_EQ(md.folders, (std::vector<std::string>{run, run + "/10", run + "/0.5", run + "/1e-05",
                                                    run + "/1e+06"}));
    for (const auto& f : md.folders) EXPECT_TRUE(std::filesystem::is_directory(f)) << f;
    EXPECT_FALSE(std::filesystem::exists(run + "/10/spectrum"));
}

TEST(RunFolders, SinglePointWritesIntoTheRunFolderWithItsSpectrum) {
    testutil::ScratchDir dir;
    model md;
    md.inputName = "b";
    set_points(md, {10}, 1);
    make_run_folders(md, dir.str());
    EXPECT_EQ(md.folders, (std::vector<std::string>{dir.str() + "/b", dir.str() + "/b"}));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "b" / "spectrum"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "b" / "10"));
}

TEST(RunFolders, RepeatedMultiplierTextsGetDistinctFolders) {
    testutil::ScratchDir dir;
    model md;
    md.inputName = "b";
    set_points(md, {1, 10, 1, 1.0000001, 1.0000002}, 2);
    testing::internal::CaptureStdout();
    make_run_folders(md, dir.str());
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string run = dir.str() + "/b";
    EXPECT_EQ(md.folders, (std::vector<std::string>{run, run + "/1", run + "/10", run + "/1_3",
                                                    run + "/1_4", run + "/1_5"}));
    EXPECT_NE(out.find("Calibration point 3 has the same multiplier text 1 as an earlier point; "
                       "its results go to " +
                       run + "/1_3\n"),
              std::string::npos)
        << out;
    for (int i = 1; i <= 5; ++i)
        EXPECT_TRUE(std::filesystem::is_directory(md.folders[i] + "/spectrum")) << i;
}

// The input name is a folder name and nothing else, whatever characters it holds.
TEST(RunFolders, InputNamesWithShellCharactersAreJustNames) {
    testutil::ScratchDir dir;
    for (const std::string name : {"a;touch pwned", "my run", "$(touch pwned)"}) {
        model md;
        md.inputName = name;
        set_points(md, {10, 100});
        make_run_folders(md, dir.str());
        EXPECT_TRUE(std::filesystem::is_directory(dir.path() / name / "100")) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "pwned"));
    EXPECT_FALSE(std::filesystem::exists("pwned"));
}

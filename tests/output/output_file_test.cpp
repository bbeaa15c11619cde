// A result table is written whole or not at all: its rewrite goes to a temporary file that
// replaces the earlier table only when complete. A rewrite that fails (here the temporary
// is /dev/full, which takes no byte) leaves the earlier table, removes the temporary, and
// enters the file in the run's unwrittenFiles with the reason; a later complete write
// takes it out again.
#include "output/output_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "output/table_file.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

bool write_table(model& md, RunFiles& files, const std::string& path, const std::string& rows) {
    open_table(md, files, path, " ");
    files.outFile << rows;
    return close_table(files);
}

}  // namespace

TEST(ResultTable, FailedRewriteKeepsTheEarlierTableAndIsRecordedUntilRewritten) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    testutil::ScratchDir dir("table");
    const std::string path = (dir.path() / "ccurve.dat").string();
    model md;
    RunFiles files;
    ASSERT_TRUE(write_table(md, files, path, "1 2\n"));

    fs::create_symlink("/dev/full", temporary_name(path));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(write_table(md, files, path, "1 2\n3 4\n"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "File " + path + " cannot be written. (No space left on device)\n");
    EXPECT_EQ(testutil::read_file(path), "1 2\n");
    EXPECT_FALSE(fs::exists(fs::symlink_status(temporary_name(path))));
    ASSERT_EQ(files.unwrittenFiles.size(), 1u);
    EXPECT_EQ(files.unwrittenFiles.begin()->second, "No space left on device");

    EXPECT_TRUE(write_table(md, files, path, "1 2\n3 4\n"));
    EXPECT_EQ(testutil::read_file(path), "1 2\n3 4\n");
    EXPECT_TRUE(files.unwrittenFiles.empty());
}

// One run per run folder: a lock file held by one owner turns every other attempt away,
// naming the holder's process, whether the attempt comes from another process or from
// another open of the file in the same one (flock locks belong to the open file). Releasing
// removes the file and frees the name for the next run. (A whole run refused this way:
// tests/slow/stops_and_names_test.cpp.)
#include "model/folder_lock.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "test_util.h"

namespace fs = std::filesystem;

TEST(FolderLock, SecondTakerIsTurnedAwayWithTheHoldersIdUntilReleased) {
    testutil::ScratchDir dir("lock");
    const std::string file = (dir.path() / ".b.lock").string();
    FolderLock::Attempt attempt{};
    long holder = -1;
    std::string reason;
    {
        FolderLock first = FolderLock::try_take(file, attempt, holder, reason);
        ASSERT_EQ(attempt, FolderLock::Attempt::taken) << reason;
        const FolderLock moved = std::move(first);  // the lock goes with the object
        EXPECT_FALSE(first.held());
        EXPECT_TRUE(moved.held());
        const FolderLock second = FolderLock::try_take(file, attempt, holder, reason);
        EXPECT_EQ(attempt, FolderLock::Attempt::busy);
        EXPECT_FALSE(second.held());
        EXPECT_EQ(holder, static_cast<long>(getpid()));
    }
    EXPECT_FALSE(fs::exists(file));
    const FolderLock again = FolderLock::try_take(file, attempt, holder, reason);
    EXPECT_EQ(attempt, FolderLock::Attempt::taken);

    const FolderLock nowhere =
        FolderLock::try_take((dir.path() / "absent/.b.lock").string(), attempt, holder, reason);
    EXPECT_EQ(attempt, FolderLock::Attempt::no_file);
    EXPECT_FALSE(reason.empty());
}

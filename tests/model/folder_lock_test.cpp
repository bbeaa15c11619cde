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

    // Nothing but a plain file of its own holds the lock: a dangling symbolic link, one to
    // /dev/null and a folder in its place are refused, and left as they were.
    const fs::path odd = dir.path() / ".c.lock";
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        fs::remove_all(odd);
        if (k == 0) fs::create_symlink(dir.path() / "absent", odd);
        if (k == 1) fs::create_symlink("/dev/null", odd);
        if (k == 2) fs::create_directory(odd);
        const FolderLock refused = FolderLock::try_take(odd.string(), attempt, holder, reason);
        EXPECT_FALSE(refused.held());
        EXPECT_EQ(attempt, FolderLock::Attempt::no_file);
        EXPECT_TRUE(fs::exists(fs::symlink_status(odd)));
    }
}

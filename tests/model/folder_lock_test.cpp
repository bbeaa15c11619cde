// One run per run folder: a lock file held by one owner turns every other attempt away,
// naming the holder's process, whether the attempt comes from another process or from
// another open of the file in the same one (flock locks belong to the open file). Releasing
// removes the file and frees the name for the next run.
#include "model/folder_lock.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "model/errors.h"
#include "model/run_folders.h"
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

TEST(FolderLock, RunOfTheSameInputIsRefusedNamingTheRunningProcess) {
    testutil::ScratchDir dir("runlock");
    EXPECT_EQ(run_lock_file("b"), ".b.lock");
    EXPECT_EQ(run_lock_file("sub/-q"), "sub/.-q.lock");
    const std::string name = (dir.path() / "b").string();
    const FolderLock running = lock_run_folder(name);
    try {
        lock_run_folder(name);
        ADD_FAILURE() << "a second run of the same input was let in";
    } catch (const InputError& e) {
        EXPECT_NE(std::string(e.what()).find("(process " + std::to_string(getpid()) + ", "),
                  std::string::npos)
            << e.what();
    }
    // Another input of the same folder runs alongside.
    EXPECT_TRUE(lock_run_folder((dir.path() / "c").string()).held());
}

// One run per run folder at a time: an exclusive lock (flock) on a small file beside the
// folder it guards, held as long as the object lives. The file holds the process id of its
// holder, so that a run turned away can name the one under way. The lock goes with the
// process however it ends (the kernel releases it), so a crashed run never blocks the next.
#pragma once

#include <string>

class FolderLock {
  public:
    FolderLock() = default;  // holds nothing
    FolderLock(FolderLock&& other) noexcept;
    FolderLock& operator=(FolderLock&& other) noexcept;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    // Removes the lock file, then releases the lock.
    ~FolderLock();

    bool held() const { return fd_ >= 0; }

    // What became of an attempt to take a lock.
    enum class Attempt {
        taken,
        busy,     // another process holds it; `holder` is its id (0 before it wrote it)
        no_file,  // the file cannot be made or opened as a plain file (a folder that may
                  // not be written, a symbolic link, a folder or a device in its place)
        failed,   // the file system refuses the lock itself
    };

    // Takes the lock on `path` (created when missing) without waiting and writes this
    // process's id into it. Otherwise returns a lock that holds nothing, with `attempt`
    // saying why and, for no_file and failed, `reason` the system's words.
    static FolderLock try_take(const std::string& path, Attempt& attempt, long& holder,
                               std::string& reason);

  private:
    int fd_ = -1;
    std::string path_;
    void release();
};

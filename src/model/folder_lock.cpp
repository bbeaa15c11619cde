#include "model/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

// The holder's process id as it wrote it, 0 while the file is still empty.
long read_holder(int fd) {
    char text[32] = {};
    const ssize_t n = pread(fd, text, sizeof text - 1, 0);
    return n > 0 ? std::strtol(text, nullptr, 10) : 0;
}

}  // namespace

FolderLock::FolderLock(FolderLock&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)) {
    other.fd_ = -1;
}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

FolderLock::~FolderLock() { release(); }

void FolderLock::release() {
    if (fd_ < 0) return;
    // Removed while still held: a process that opened the file meanwhile finds, once it
    // has the lock, that the name no longer leads to its file and starts over (try_take).
    unlink(path_.c_str());
    close(fd_);
    fd_ = -1;
}

FolderLock FolderLock::try_take(const std::string& path, Attempt& attempt, long& holder,
                                std::string& reason) {
    holder = 0;
    reason.clear();
    for (int round = 0; round < 100; ++round) {
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) {
            reason = std::strerror(errno);
            attempt = Attempt::no_file;
            return FolderLock();
        }
        // Only a plain file of its own can hold the lock (O_NOFOLLOW refuses a symbolic link;
        // a device or a pipe put in its place would lock nothing that another run sees).
        struct stat kind = {};
        if (fstat(fd, &kind) != 0 || !S_ISREG(kind.st_mode)) {
            reason = "it is not a plain file";
            close(fd);
            attempt = Attempt::no_file;
            return FolderLock();
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            attempt = err == EWOULDBLOCK ? Attempt::busy : Attempt::failed;
            if (err == EWOULDBLOCK) {
                // The holder writes its id right after taking the lock; give it a moment.
                for (int wait = 0; wait < 20 && (holder = read_holder(fd)) == 0; ++wait)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
            } else {
                reason = std::strerror(err);
            }
            close(fd);
            return FolderLock();
        }
        // The process that held the lock may have removed the file between our open and our
        // lock; then the lock guards nothing and the name is taken anew.
        struct stat opened = {}, named = {};
        if (fstat(fd, &opened) == 0 && stat(path.c_str(), &named) == 0 &&
            opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) {
            FolderLock lock;
            lock.fd_ = fd;
            lock.path_ = path;
            const std::string id = std::to_string(static_cast<long>(getpid())) + "\n";
            // Without its id the lock still stands; a run turned away then names no process.
            if (ftruncate(fd, 0) == 0 && pwrite(fd, id.data(), id.size(), 0) < 0) holder = 0;
            attempt = Attempt::taken;
            return lock;
        }
        close(fd);
    }
    reason = "its lock file keeps being replaced";
    attempt = Attempt::failed;
    return FolderLock();
}

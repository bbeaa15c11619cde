#include "numeric/helper_thread.h"

HelperThread::HelperThread() : thread_([this] { loop(); }) {}

HelperThread::~HelperThread() {
    {
        std::unique_lock lock(mutex_);
        finished_.wait(lock, [this] { return !busy_; });
        stop_ = true;
    }
    posted_.notify_one();
    thread_.join();
}

void HelperThread::post(void (*run)(void*), void* task) {
    {
        std::lock_guard lock(mutex_);
        run_ = run;
        task_ = task;
        busy_ = true;
    }
    posted_.notify_one();
}

void HelperThread::wait() {
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [this] { return !busy_; });
}

void HelperThread::loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        posted_.wait(lock, [this] { return busy_ || stop_; });
        if (busy_) {
            void (*run)(void*) = run_;
            void* task = task_;
            lock.unlock();
            run(task);
            lock.lock();
            busy_ = false;
            finished_.notify_one();
        } else {
            return;
        }
    }
}

// A second thread of execution owned by one integrator: it runs one task at a time, handed
// over by the owner, while the owner works on something independent, and the owner waits
// for the task before it reads what the task wrote. Start and wait synchronise through a
// mutex, so everything the owner wrote before start() is visible to the task and everything
// the task wrote is visible to the owner after wait().
//
// A sleeping helper starts a task some 40 us after start(). Polling for the next task
// instead (as short a delay as 1 us) was measured on whole runs and gained nothing: in an
// integration step the owner is the thread with more to do, so the helper's delay is
// hidden behind the owner's own part.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

class HelperThread {
  public:
    HelperThread();
    // Waits for a task still running, then ends the thread.
    ~HelperThread();

    HelperThread(const HelperThread&) = delete;
    HelperThread& operator=(const HelperThread&) = delete;

    // Runs task() on the helper thread. The task must not throw and must outlive the call
    // of wait() that follows; one task at a time (start, wait, start, wait, ...).
    template <class Task>
    void start(Task& task) {
        post(&HelperThread::call<Task>, &task);
    }
    // Returns once the task handed to start() has finished.
    void wait();

  private:
    template <class Task>
    static void call(void* task) {
        (*static_cast<Task*>(task))();
    }
    void post(void (*run)(void*), void* task);
    void loop();

    std::mutex mutex_;
    std::condition_variable posted_;
    std::condition_variable finished_;
    void (*run_)(void*) = nullptr;
    void* task_ = nullptr;
    bool busy_ = false;  // a task was posted and has not finished
    bool stop_ = false;
    std::thread thread_;  // last: starts once the members above exist
};

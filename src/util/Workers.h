// A few worker threads for one call: jobs go in with Post, and the calling
// thread waits for each by its ticket. The waiting thread works too: a job
// that nobody has started when its ticket is waited for runs there, and while
// a worker runs it, the waiting thread runs the next queued ones. A pool
// without workers (one thread, or a system that gave none) thus runs every
// job in Wait, in ticket order.
//
// Jobs must touch only what the caller lends them (buffers, files opened for
// them); they never call a component or the host. The pool lives inside one
// call: its destructor drops the jobs nobody started and joins the workers,
// so declare it after everything its jobs use.
//
// Threads: Post and Wait from the thread that made the pool only.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace nuva {

class TWorkerPool {
  public:
    // `threads` counts the calling thread: 1 starts no worker.
    explicit TWorkerPool(int threads);
    ~TWorkerPool();
    TWorkerPool(const TWorkerPool&) = delete;
    TWorkerPool& operator=(const TWorkerPool&) = delete;

    // The threads that run jobs, the calling thread included.
    int Threads() const { return static_cast<int>(workers_.size()) + 1; }
    // Queues `job` and returns its ticket (0, 1, 2, ... in posting order).
    size_t Post(std::function<void()> job);
    // Returns when the ticket's job has run; raises what it raised. Tickets
    // are waited for in posting order, each once.
    void Wait(size_t ticket);
    // Jobs posted and not yet waited for.
    size_t Pending() const { return jobs_.size(); }
    // Waits for every job posted; raises what the first of them by ticket
    // raised, after all have ended.
    void WaitAll();
    // The ticket Wait takes next.
    size_t Oldest() const { return first_; }

  private:
    enum class TState { Queued, Running, Done };
    struct TJob {
        std::function<void()> run;
        TState state = TState::Queued;
        std::exception_ptr error;
    };

    void Work();
    // Takes the oldest job nobody started, under the lock.
    bool TakeQueued(size_t& ticket);
    // Runs the ticket's job (taken by this thread) with the lock released;
    // jobs_ keeps every job from the oldest one not waited for.
    void Run(std::unique_lock<std::mutex>& lock, size_t ticket);

    std::mutex mutex_;
    std::condition_variable wake_;  // workers: a job queued, or the end
    std::condition_variable done_;  // the caller: a job ended
    // Grown and shrunk (under the lock) by the calling thread only, which
    // therefore reads the size and first_ without it.
    std::deque<TJob> jobs_;         // tickets first_ ... first_ + size - 1
    size_t first_ = 0;              // the ticket of jobs_.front()
    size_t next_ = 0;               // the next ticket a worker takes
    bool stop_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace nuva

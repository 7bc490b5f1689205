#include "util/Workers.h"

#include <stdexcept>
#include <system_error>
#include <utility>

namespace nuva {

TWorkerPool::TWorkerPool(int threads) {
    try {
        for (int i = 1; i < threads; ++i) workers_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
        // The system gave fewer threads: those that started help, and with
        // none every job runs on the calling thread.
    }
}

TWorkerPool::~TWorkerPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_) t.join();
}

size_t TWorkerPool::Post(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.emplace_back();
        jobs_.back().run = std::move(job);
    }
    if (!workers_.empty()) wake_.notify_one();
    return first_ + jobs_.size() - 1;
}

void TWorkerPool::Run(std::unique_lock<std::mutex>& lock, size_t ticket) {
    jobs_[ticket - first_].state = TState::Running;
    std::function<void()> run = std::move(jobs_[ticket - first_].run);
    std::exception_ptr error;
    lock.unlock();
    try {
        run();
    } catch (...) {
        error = std::current_exception();
    }
    run = nullptr;  // what the job held goes before the caller hears of it
    lock.lock();
    // Meanwhile jobs_ may have grown, and lost waited jobs at its front
    // (never this one: it is not done).
    TJob& job = jobs_[ticket - first_];
    job.error = std::move(error);
    job.state = TState::Done;
}

bool TWorkerPool::TakeQueued(size_t& ticket) {
    // Jobs another thread took are passed by.
    if (next_ < first_) next_ = first_;
    while (next_ < first_ + jobs_.size() && jobs_[next_ - first_].state != TState::Queued) ++next_;
    if (next_ == first_ + jobs_.size()) return false;
    ticket = next_++;
    return true;
}

void TWorkerPool::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (stop_) return;
        size_t ticket;
        if (TakeQueued(ticket)) {
            Run(lock, ticket);
            done_.notify_all();
            continue;
        }
        wake_.wait(lock);
    }
}

void TWorkerPool::Wait(size_t ticket) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (ticket != first_ || jobs_.empty()) throw std::logic_error("TWorkerPool::Wait out of order");
    if (jobs_.front().state == TState::Queued) Run(lock, ticket);
    // While a worker runs it, the waiting thread takes the next queued jobs
    // rather than sleep.
    while (jobs_.front().state != TState::Done) {
        size_t other;
        if (TakeQueued(other))
            Run(lock, other);
        else
            done_.wait(lock);
    }
    std::exception_ptr error = std::move(jobs_.front().error);
    jobs_.pop_front();
    ++first_;
    lock.unlock();
    if (error) std::rethrow_exception(error);
}

void TWorkerPool::WaitAll() {
    std::exception_ptr first;
    while (Pending() > 0) {
        try {
            Wait(first_);
        } catch (...) {
            if (!first) first = std::current_exception();
        }
    }
    if (first) std::rethrow_exception(first);
}

}  // namespace nuva

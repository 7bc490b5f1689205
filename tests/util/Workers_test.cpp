// The worker pool: jobs run once each, on the workers or on the waiting
// thread; errors come back at their own ticket; the pool ends without running
// what nobody started.
#include "util/Workers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <stdexcept>
#include <string>
#include <vector>

namespace nuva {
namespace {

TEST(TWorkerPool, EveryJobRunsOnceAndWaitsFollowTickets) {
    for (int threads : {1, 2, 5}) {
        TWorkerPool pool(threads);
        EXPECT_EQ(pool.Threads(), threads);
        std::vector<int> runs(200, 0);
        for (size_t i = 0; i < runs.size(); ++i) {
            EXPECT_EQ(pool.Post([&runs, i] { ++runs[i]; }), i);
            // The caller waits with a few jobs in flight, as the engine does.
            if (pool.Pending() > 3) pool.Wait(pool.Oldest());
        }
        pool.WaitAll();
        EXPECT_EQ(pool.Pending(), 0u);
        EXPECT_EQ(runs, std::vector<int>(200, 1)) << threads << " threads";
    }
}

TEST(TWorkerPool, AJobsErrorComesBackAtItsTicket) {
    for (int threads : {1, 3}) {
        TWorkerPool pool(threads);
        std::atomic<int> ran{0};
        for (int i = 0; i < 6; ++i)
            pool.Post([&ran, i] {
                ++ran;
                if (i == 2 || i == 4) throw std::runtime_error("job " + std::to_string(i));
            });
        pool.Wait(0);
        pool.Wait(1);
        try {
            pool.Wait(2);
            ADD_FAILURE() << "job 2's error was lost";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "job 2");
        }
        // WaitAll raises the first error of the rest, after every job ended.
        try {
            pool.WaitAll();
            ADD_FAILURE() << "job 4's error was lost";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "job 4");
        }
        EXPECT_EQ(ran.load(), 6);
    }
}

TEST(TWorkerPool, EndsWithoutRunningWhatNobodyStarted) {
    std::atomic<int> ran{0};
    {
        TWorkerPool pool(1);  // no worker: only Wait runs jobs
        for (int i = 0; i < 10; ++i) pool.Post([&ran] { ++ran; });
        pool.Wait(0);
    }
    EXPECT_EQ(ran.load(), 1);
    {
        // A job a worker runs ends before the pool does: what it uses may
        // go right after.
        std::atomic<bool> started{false}, finished{false};
        {
            TWorkerPool pool(2);
            pool.Post([&] {
                started = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
                finished = true;
            });
            while (!started) std::this_thread::yield();
        }
        EXPECT_TRUE(finished.load());
    }
}

}  // namespace
}  // namespace nuva

// Fault sweeps: run one whole operation again and again with the N-th
// file-system operation failing (N = 1, 2, 3, ...), until a run completes
// without reaching the fault. The caller's check decides, for each N, whether
// the outcome is an allowed one.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "platform/FaultInjection.h"

namespace nuva::test {

// Installs a plan for the lifetime of the object.
class TFaultScope {
  public:
    TFaultScope(int64_t failAt, TFaultError error) {
        plan_.failAt = failAt;
        plan_.error = error;
        installed_ = InstallFaultPlan(&plan_);
    }
    ~TFaultScope() { InstallFaultPlan(nullptr); }
    TFaultScope(const TFaultScope&) = delete;
    TFaultScope& operator=(const TFaultScope&) = delete;

    bool Installed() const { return installed_; }
    bool Reached() const { return plan_.seen.load() >= plan_.failAt; }
    int64_t Seen() const { return plan_.seen.load(); }
    // The operation that failed (its name), or "" when none did.
    const char* FailedOp() const {
        const int op = plan_.failedOp.load();
        return op < 0 ? "" : FaultOpName(static_cast<TFaultOp>(op));
    }

  private:
    TFaultPlan plan_;
    bool installed_ = false;
};

// True when the build can inject faults; sweeps skip otherwise:
//   if (!FaultInjectionBuilt()) GTEST_SKIP() << kNoFaultInjection;
inline bool FaultInjectionBuilt() {
    TFaultPlan probe;
    const bool built = InstallFaultPlan(&probe);
    InstallFaultPlan(nullptr);
    return built;
}
inline constexpr const char kNoFaultInjection[] = "built without fault injection";

inline const char* FaultErrorName(TFaultError error) {
    return error == TFaultError::DiskFull ? "disk full" : "I/O error";
}

// What one run under a fault reports to the sweep.
struct TFaultRun {
    int64_t failAt;
    TFaultError error;
    const char* failedOp;  // "" when the fault was not reached
};

// Runs `act` with the fault at N = 1, 2, ... until a run does not reach it,
// and after each run (the plan removed, so that the check's own file
// operations neither count nor fail) `check`, which judges the outcome and
// restores the scene for the next run. Returns how many fault points were
// swept, 0 when the build has no fault injection. Stops at the first failed
// check, so that one fault does not bury the report under hundreds.
inline int64_t SweepFaults(const char* what, TFaultError error, const std::function<void()>& act,
                           const std::function<void(const TFaultRun&)>& check,
                           int64_t limit = 5000) {
    int64_t n = 1;
    for (; n <= limit; ++n) {
        TFaultRun info{n, error, ""};
        bool reached;
        {
            TFaultScope scope(n, error);
            if (!scope.Installed()) return 0;
            act();
            reached = scope.Reached();
            info.failedOp = scope.FailedOp();
        }
        check(info);
        if (!reached) break;
        if (::testing::Test::HasFailure()) {
            ADD_FAILURE() << what << ", " << FaultErrorName(error) << ": fault at operation " << n
                          << " (" << info.failedOp << ")";
            break;
        }
    }
    EXPECT_LE(n, limit) << what << ": the operation never completed without the fault";
    std::printf("[  sweep   ] %s, %s: %lld fault points swept\n", what, FaultErrorName(error),
                static_cast<long long>(n - 1));
    std::fflush(stdout);
    return n - 1;
}

}  // namespace nuva::test

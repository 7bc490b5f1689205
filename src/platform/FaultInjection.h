// Fault injection for tests: makes the N-th file-system operation of the
// process fail with a chosen error, so that a test can fail every operation
// of a whole transaction in turn and check how each failure ends.
//
// Built only where the build sets NUVA_FAULT_INJECTION (the test presets);
// elsewhere every operation runs as written, no check is compiled in, and
// `InstallFaultPlan` returns false.
//
// The library and every component keep their own static copy of the platform
// code, so the plan cannot live in a variable of this code: `InstallFaultPlan`
// publishes its address in the process environment ("NUVA_FAULT_PLAN"), and
// each copy counts into the same plan. The plan must outlive its
// installation. Operations are counted from any thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace nuva {

// The operations that count, each at the point where the system is asked.
enum class TFaultOp : int {
    Open,        // open or create a file (streams, unique temporary files)
    Read,        // one read of a file stream
    Write,       // one write of a file stream
    Flush,       // write through, truncate, set a stream's time
    Rename,      // move or rename a file
    Delete,      // delete a file or remove a directory
    MakeDir,     // create one directory
    Attributes,  // set a file's attributes or its time by name
};
const char* FaultOpName(TFaultOp op);

// The error a failed operation reports: an I/O error (EIO, ERROR_IO_DEVICE)
// or a full disk (ENOSPC, ERROR_DISK_FULL).
enum class TFaultError : int { IoError, DiskFull };

struct TFaultPlan {
    int64_t failAt = 0;  // the operation that fails, counted from 1; 0: none
    TFaultError error = TFaultError::IoError;
    std::atomic<int64_t> seen{0};  // operations counted so far
    std::atomic<int> failedOp{-1};  // the TFaultOp that failed, or -1
};

// Installs `plan` for the whole process (nullptr removes it). False when the
// build has no fault injection.
bool InstallFaultPlan(TFaultPlan* plan);

namespace internal {
#if defined(NUVA_FAULT_INJECTION)
// Counts one operation; true when it must fail, with the system's last error
// set to the plan's error.
bool FaultHit(TFaultOp op);
#else
constexpr bool FaultHit(TFaultOp) {
    return false;
}
#endif
}  // namespace internal

}  // namespace nuva

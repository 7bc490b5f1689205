#include "platform/FaultInjection.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/PlatformInternal.h"

namespace nuva {

namespace {
constexpr const char kPlanVariable[] = "NUVA_FAULT_PLAN";
}

const char* FaultOpName(TFaultOp op) {
    switch (op) {
        case TFaultOp::Open:
            return "open";
        case TFaultOp::Read:
            return "read";
        case TFaultOp::Write:
            return "write";
        case TFaultOp::Flush:
            return "flush";
        case TFaultOp::Rename:
            return "rename";
        case TFaultOp::Delete:
            return "delete";
        case TFaultOp::MakeDir:
            return "mkdir";
        case TFaultOp::Attributes:
            return "attributes";
    }
    return "?";
}

#if defined(NUVA_FAULT_INJECTION)

bool InstallFaultPlan(TFaultPlan* plan) {
    char text[32] = "";
    if (plan)
        std::snprintf(text, sizeof text, "%llx",
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(plan)));
    internal::SetProcessVariable(kPlanVariable, text);
    return true;
}

namespace internal {

bool FaultHit(TFaultOp op) {
    const AnsiString text = GetProcessVariable(kPlanVariable);
    if (text.empty()) return false;
    // Every module of the process reads the address its installer wrote.
    const unsigned long long address = std::strtoull(text.c_str(), nullptr, 16);
    if (address == 0) return false;
    TFaultPlan* plan = reinterpret_cast<TFaultPlan*>(static_cast<uintptr_t>(address));
    const int64_t n = plan->seen.fetch_add(1) + 1;
    if (n != plan->failAt) return false;
    plan->failedOp.store(static_cast<int>(op));
    SetFaultError(plan->error == TFaultError::DiskFull);
    return true;
}

}  // namespace internal

#else

bool InstallFaultPlan(TFaultPlan*) {
    return false;
}

#endif

}  // namespace nuva

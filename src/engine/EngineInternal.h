// What the engine's files share; not part of its interface.
#pragma once

#include "engine/Main.h"

namespace nuva {

// Marks the engine busy for one call; a second call while the first runs
// finds it taken and is refused.
class TSender::TBusy {
  public:
    explicit TBusy(TSender& engine);
    ~TBusy();
    TBusy(const TBusy&) = delete;
    TBusy& operator=(const TBusy&) = delete;
    bool Acquired() const { return acquired_; }

  private:
    TSender& engine_;
    bool acquired_;
};

namespace engine {

// "系统调用出现异常[" + message + "],可能原因[" + reason + "]!".
WideString ErrorFrame(const WideString& message, const char16_t* reason);

}  // namespace engine
}  // namespace nuva

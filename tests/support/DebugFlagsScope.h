// Gives a test its own DebugFlags and a clean log capture, and puts the
// flags back afterwards. Unit tests only: the word lives in the product code.
#pragma once

#include <cstdint>

#include "common/Logging.h"
#include "tests/support/LogCapture.h"

namespace vpltest {

class DebugFlagsScope {
 public:
  // Keeps the current flags.
  DebugFlagsScope() : saved_(DebugFlags.load()) { LogCapture::Clear(); }
  explicit DebugFlagsScope(uint32_t flags) : DebugFlagsScope() {
    DebugFlags.store(flags);
  }
  DebugFlagsScope(const DebugFlagsScope&) = delete;
  DebugFlagsScope& operator=(const DebugFlagsScope&) = delete;
  ~DebugFlagsScope() { DebugFlags.store(saved_); }

 private:
  uint32_t saved_;
};

}  // namespace vpltest

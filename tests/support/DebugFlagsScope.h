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
  DebugFlagsScope() : m_saved(NTarn::DebugFlags.load()) { LogCapture::Clear(); }
  explicit DebugFlagsScope(uint32_t flags) : DebugFlagsScope() {
    NTarn::DebugFlags.store(flags);
  }
  DebugFlagsScope(const DebugFlagsScope&) = delete;
  DebugFlagsScope& operator=(const DebugFlagsScope&) = delete;
  ~DebugFlagsScope() { NTarn::DebugFlags.store(m_saved); }

 private:
  uint32_t m_saved;
};

}  // namespace vpltest

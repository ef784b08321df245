// Pins what the process-wide system capabilities answer for the lifetime of
// the object: the chassis kind and the battery state. Unit tests only: the
// instance lives in the product code.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>

#include "common/SystemCapabilities.h"

namespace vpltest {

class SystemCapabilitiesScope {
 public:
  enum class Power { kAcWithBattery, kAcWithoutBattery, kBattery, kUnreadable };

  SystemCapabilitiesScope(bool portable, Power power) {
    power_ = power;
    NTarn::SystemCapabilities& system = NTarn::TheSystemCapabilities();
    savedPortable_ = system.ReplacePortableStateForTesting(
        portable ? NTarn::SystemCapabilities::kPortable
                 : NTarn::SystemCapabilities::kNotPortable);
    savedQuery_ = system.ReplaceBatteryStateQueryForTesting(&BatteryState);
  }
  SystemCapabilitiesScope(const SystemCapabilitiesScope&) = delete;
  SystemCapabilitiesScope& operator=(const SystemCapabilitiesScope&) = delete;
  ~SystemCapabilitiesScope() {
    NTarn::SystemCapabilities& system = NTarn::TheSystemCapabilities();
    system.ReplacePortableStateForTesting(savedPortable_);
    system.ReplaceBatteryStateQueryForTesting(savedQuery_);
  }

 private:
  // SYSTEM_BATTERY_STATE: "AC on line" and "battery present" lead.
  static LONG BatteryState(void* state, ULONG size) {
    if (power_ == Power::kUnreadable) return 0xC0000022L;  // access denied
    std::memset(state, 0, size);
    BYTE* bytes = static_cast<BYTE*>(state);
    bytes[0] = power_ != Power::kBattery;
    bytes[1] = power_ != Power::kAcWithoutBattery;
    return 0;
  }

  static inline Power power_ = Power::kAcWithBattery;
  uint32_t savedPortable_;
  NTarn::SystemCapabilities::BatteryStateQuery savedQuery_;
};

}  // namespace vpltest

// Pins what the process-wide system capabilities answer while the object
// lives: the chassis kind and the battery state. Unit tests only.
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/SystemCapabilities.h"

namespace vpltest {

class SystemCapabilitiesScope {
 public:
  enum class Power { kAcWithBattery, kAcWithoutBattery, kBattery, kUnreadable };

  SystemCapabilitiesScope(bool portable, Power power) {
    power_ = power;
    m_portable = NTarn::TheSystemCapabilities().ReplacePortableStateForTesting(
        portable ? NTarn::SystemCapabilities::kPortable
                 : NTarn::SystemCapabilities::kNotPortable);
    m_query = NTarn::TheSystemCapabilities().ReplaceBatteryStateQueryForTesting(
        &BatteryState);
  }
  SystemCapabilitiesScope(const SystemCapabilitiesScope&) = delete;
  SystemCapabilitiesScope& operator=(const SystemCapabilitiesScope&) = delete;
  ~SystemCapabilitiesScope() {
    NTarn::TheSystemCapabilities().ReplacePortableStateForTesting(m_portable);
    NTarn::TheSystemCapabilities().ReplaceBatteryStateQueryForTesting(m_query);
  }

 private:
  // SYSTEM_BATTERY_STATE begins with "AC on line" and "battery present".
  static LONG BatteryState(void* state, ULONG) {
    if (power_ == Power::kUnreadable) return 0xC0000022L;
    static_cast<BYTE*>(state)[0] = power_ != Power::kBattery;
    static_cast<BYTE*>(state)[1] = power_ != Power::kAcWithoutBattery;
    return 0;
  }

  static inline Power power_ = Power::kAcWithBattery;
  uint32_t m_portable;
  NTarn::SystemCapabilities::BatteryStateQuery m_query;
};

}  // namespace vpltest

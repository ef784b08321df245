// What the power-down observer needs to know about the machine: whether its
// chassis is a portable kind and whether it runs on AC power with a battery.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace NTarn {

class SystemCapabilities {
 public:
  SystemCapabilities() = default;
  SystemCapabilities(const SystemCapabilities&) = delete;
  SystemCapabilities& operator=(const SystemCapabilities&) = delete;

  // Asks WMI once per object; a failed determination is final and counts as
  // not portable.
  bool IsPortableChassis();
  // True when on AC with a battery present, and when the battery state
  // cannot be read. Not cached.
  bool IsOnAcWithBattery() const;

  // Test seams, set while no question runs and put back afterwards: the
  // battery state read from `query` instead of the power manager (null
  // restores it), and the chassis answer replaced outright.
  using BatteryStateQuery = LONG (*)(void* state, ULONG size);
  BatteryStateQuery ReplaceBatteryStateQueryForTesting(
      BatteryStateQuery query) {
    return m_batteryStateQuery.exchange(query);
  }
  uint32_t ReplacePortableStateForTesting(uint32_t state) {
    return m_portableChassis.exchange(state);
  }

  static constexpr uint32_t kUndetermined = 255;
  static constexpr uint32_t kNotPortable = 0;
  static constexpr uint32_t kPortable = 1;

 private:
  void DeterminePortableChassis();

  // Written without a lock: racing first calls write the same answer.
  std::atomic<uint32_t> m_portableChassis{kUndetermined};
  std::atomic<BatteryStateQuery> m_batteryStateQuery{nullptr};
};

// The process-wide instance, constructed when the library loads.
SystemCapabilities& TheSystemCapabilities();

}  // namespace NTarn

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

  // Asks WMI until a read succeeds, then keeps the answer for the object's
  // life. A read that fails or does not answer counts as not portable for
  // that call only; the next call reads again. Concurrent first calls each
  // read for themselves, at most once per call, and answer from their own
  // read: none sees another's answer half made.
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
  // kPortable or kNotPortable from a read that came to an end, or
  // kUndetermined when it failed.
  uint32_t ReadPortableChassis();

  // Left undetermined until a read succeeds; only a whole answer is stored.
  std::atomic<uint32_t> m_portableChassis{kUndetermined};
  std::atomic<BatteryStateQuery> m_batteryStateQuery{nullptr};
};

// The process-wide instance, constructed when the library loads.
SystemCapabilities& TheSystemCapabilities();

}  // namespace NTarn

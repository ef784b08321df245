#include "tools/vplhost/StatedBattery.h"

#include <powrprof.h>

#include <atomic>
#include <cstring>

namespace vplhost {
namespace {

using PowerInformationFunction = LONG(WINAPI*)(POWER_INFORMATION_LEVEL, PVOID,
                                               ULONG, PVOID, ULONG);

std::atomic<PowerInformationFunction> g_real{nullptr};
std::atomic<StatedBattery::State> g_state{StatedBattery::State::kAc};

constexpr LONG kStatusBufferTooSmall = static_cast<LONG>(0xC0000023);

// What the power manager reports for each state; capacities in mWh. A
// discharging battery has a negative rate and an estimated time left.
SYSTEM_BATTERY_STATE Describe(StatedBattery::State state) {
  SYSTEM_BATTERY_STATE battery{};
  battery.AcOnLine = state != StatedBattery::State::kDischarging;
  battery.BatteryPresent = state != StatedBattery::State::kNone;
  battery.Discharging = state == StatedBattery::State::kDischarging;
  if (battery.BatteryPresent) {
    battery.MaxCapacity = 50000;
    battery.RemainingCapacity = battery.Discharging ? 30000 : 50000;
    battery.Rate = battery.Discharging ? static_cast<ULONG>(-10000) : 0;
    battery.EstimatedTime = battery.Discharging ? 3 * 60 * 60 : ~0UL;
  }
  return battery;
}

LONG WINAPI StatedPowerInformation(POWER_INFORMATION_LEVEL level, PVOID input,
                                   ULONG inputSize, PVOID output,
                                   ULONG outputSize) {
  if (level != SystemBatteryState) {
    const PowerInformationFunction real = g_real.load();
    return real ? real(level, input, inputSize, output, outputSize)
                : static_cast<LONG>(0xC0000002);  // STATUS_NOT_IMPLEMENTED
  }
  if (outputSize < sizeof(SYSTEM_BATTERY_STATE)) return kStatusBufferTooSmall;
  if (!output) return static_cast<LONG>(0xC0000005);  // an access violation
  const SYSTEM_BATTERY_STATE battery = Describe(g_state.load());
  std::memcpy(output, &battery, sizeof(battery));
  return 0;
}

}  // namespace

HRESULT StatedBattery::Install(HMODULE module, State state) {
  g_state.store(state);
  void* original = nullptr;
  const HRESULT hr = m_patch.Install(
      module, "powrprof.dll", "CallNtPowerInformation",
      reinterpret_cast<void*>(&StatedPowerInformation), &original);
  if (FAILED(hr)) return hr;
  g_real.store(reinterpret_cast<PowerInformationFunction>(original));
  void* ownOriginal = nullptr;
  const HRESULT own = m_ownPatch.Install(
      ::GetModuleHandleW(nullptr), "powrprof.dll", "CallNtPowerInformation",
      reinterpret_cast<void*>(&StatedPowerInformation), &ownOriginal);
  if (FAILED(own)) {
    m_patch.Restore();
    return own;
  }
  m_installed = true;
  return S_OK;
}

void StatedBattery::Change(State state) { g_state.store(state); }

const char* BatteryStateName(StatedBattery::State state) {
  switch (state) {
    case StatedBattery::State::kAc:
      return "ac";
    case StatedBattery::State::kDischarging:
      return "discharging";
    case StatedBattery::State::kNone:
      return "none";
  }
  return "unknown";
}

}  // namespace vplhost

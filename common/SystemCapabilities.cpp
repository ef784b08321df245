#include "common/SystemCapabilities.h"

#include <powrprof.h>
#include <wbemcli.h>
#include <wrl/client.h>

#include <optional>

#include "common/GuardedCall.h"
#include "common/HResultException.h"
#include "common/wmi/ConnectToNamespace.h"
#include "common/wmi/WbemInstanceList.h"
#include "common/wmi/WbemProperty.h"
#include "common/wmi/WbemQuestion.h"

namespace NTarn {
namespace {

constexpr LONG kPortableChassisTypes[] = {8, 9, 10, 11, 12, 14, 18, 21};
constexpr CallSite kCallSite{".\\SystemCapabilities", 54};

bool IsPortableType(LONG type) {
  for (LONG portable : kPortableChassisTypes) {
    if (type == portable) return true;
  }
  return false;
}

// Whether any element of a ChassisTypes value is a portable kind; every
// element is looked at.
bool HasPortableType(const WbemProperty& chassisTypes) {
  if (!chassisTypes.IsArray()) return false;
  bool found = false;
  for (const std::optional<LONG>& type : chassisTypes.IntegerArray()) {
    if (type && IsPortableType(*type)) found = true;
  }
  return found;
}

// Reads every enclosure's ChassisTypes: `portable` when any is a portable
// kind, `complete` cleared when an enclosure could not be read. Raises what
// the connection and the query raise.
void ReadEnclosures(bool& portable, bool& complete) {
  Microsoft::WRL::ComPtr<IWbemServices> services;
  ConnectToNamespace(services, L".", L"root\\cimv2", nullptr, nullptr,
                     RPC_C_AUTHN_LEVEL_PKT, RPC_C_IMP_LEVEL_IMPERSONATE);
  CWbemInstanceList enclosures(services);
  // Semisynchronous: a hung provider costs the question one wait, not the
  // question itself.
  enclosures.ExecQuery(L"SELECT * FROM Win32_SystemEnclosure",
                       WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY);
  for (const CWbemInstance& enclosure : enclosures) {
    WbemProperty chassisTypes;
    const HRESULT hr = chassisTypes.Read(enclosure.Object(), L"ChassisTypes");
    // One enclosure that cannot be read does not hide the others, but
    // leaves a "not portable" unsure.
    if (FAILED(hr)) {
      LogCaughtHResult(kCallSite, hr);
      complete = false;
      continue;
    }
    if (HasPortableType(chassisTypes)) portable = true;
  }
}

}  // namespace

bool SystemCapabilities::IsPortableChassis() {
  const uint32_t known = m_portableChassis.load();
  if (known != kUndetermined) return known == kPortable;
  const uint32_t read = ReadPortableChassis();
  if (read == kUndetermined) return false;
  uint32_t undetermined = kUndetermined;
  m_portableChassis.compare_exchange_strong(undetermined, read);
  return read == kPortable;
}

uint32_t SystemCapabilities::ReadPortableChassis() {
  const WbemWalk walk("SystemCapabilities::IsPortableChassis");
  if (WbemQuestionIsOver()) return kUndetermined;
  bool portable = false;
  bool complete = true;
  const bool ended = GuardedCall(kCallSite, false, [&] {
    try {
      ReadEnclosures(portable, complete);
    } catch (const HResultException&) {
      // A question out of time says so in its own line.
      if (WbemQuestionIsOver()) return false;
      throw;
    }
    return true;
  });
  // A portable enclosure stands whatever else failed; a walk cut short by
  // the question's time is no answer.
  if (portable) return kPortable;
  return ended && complete && !WbemQuestionIsOver() ? kNotPortable
                                                    : kUndetermined;
}

bool SystemCapabilities::IsOnAcWithBattery() const {
  // SYSTEM_BATTERY_STATE is 32 bytes; its first two bytes are "AC on line"
  // and "battery present".
  BYTE state[32] = {};
  const BatteryStateQuery query = m_batteryStateQuery.load();
  const LONG status =
      query ? query(state, sizeof(state))
            : ::CallNtPowerInformation(SystemBatteryState, nullptr, 0, state,
                                       sizeof(state));
  if (status != 0) return true;
  return state[0] == 1 && state[1] == 1;
}

namespace {
// Constant-initialised, so it exists before any code of the library runs.
SystemCapabilities g_systemCapabilities;
}  // namespace

SystemCapabilities& TheSystemCapabilities() { return g_systemCapabilities; }

}  // namespace NTarn

#include "common/SystemCapabilities.h"

#include <powrprof.h>
#include <wbemcli.h>
#include <wrl/client.h>

#include <iterator>
#include <string>

#include "common/Logging.h"
#include "common/ScopedVariant.h"
#include "common/wmi/ConnectToNamespace.h"
#include "common/wmi/WbemErrors.h"
#include "common/wmi/WbemExceptions.h"
#include "common/wmi/WbemInstanceList.h"

namespace NTarn {
namespace {

constexpr LONG kPortableChassisTypes[] = {8, 9, 10, 11, 12, 14, 18, 21};
constexpr char kSourceName[] = ".\\SystemCapabilities";
constexpr int kSourceLine = 54;

bool IsPortableType(LONG type) {
  for (LONG portable : kPortableChassisTypes) {
    if (type == portable) return true;
  }
  return false;
}

// Reads one element as a 32-bit integer, sized by the array's own element
// type so that a 16-bit array is not over-read.
bool ReadElement(SAFEARRAY* array, VARTYPE elementType, LONG index,
                 LONG& value) {
  value = 0;
  switch (elementType) {
    case VT_I2:
    case VT_UI2: {
      SHORT shortValue = 0;
      if (FAILED(::SafeArrayGetElement(array, &index, &shortValue)))
        return false;
      value =
          elementType == VT_I2 ? shortValue : static_cast<USHORT>(shortValue);
      return true;
    }
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
      return SUCCEEDED(::SafeArrayGetElement(array, &index, &value));
    default:
      return false;
  }
}

// Whether any element of a ChassisTypes value is a portable kind; every
// element is looked at.
bool HasPortableType(const VARIANT& value) {
  if (!(V_VT(&value) & VT_ARRAY) || !V_ARRAY(&value)) return false;
  SAFEARRAY* array = V_ARRAY(&value);
  VARTYPE elementType = VT_EMPTY;
  if (FAILED(::SafeArrayGetVartype(array, &elementType))) return false;
  LONG lower = 0;
  LONG upper = -1;
  if (FAILED(::SafeArrayGetLBound(array, 1, &lower)) ||
      FAILED(::SafeArrayGetUBound(array, 1, &upper))) {
    return false;
  }
  bool found = false;
  for (LONG index = lower; index <= upper; ++index) {
    LONG type = 0;
    if (ReadElement(array, elementType, index, type) && IsPortableType(type)) {
      found = true;
    }
  }
  return found;
}

}  // namespace

bool SystemCapabilities::IsPortableChassis() {
  if (m_portableChassis.load() == kUndetermined) DeterminePortableChassis();
  return m_portableChassis.load() == kPortable;
}

void SystemCapabilities::DeterminePortableChassis() {
  m_portableChassis.store(kNotPortable);
  try {
    Microsoft::WRL::ComPtr<IWbemServices> services;
    ConnectToNamespace(services, L".", L"root\\cimv2", nullptr, nullptr,
                       RPC_C_AUTHN_LEVEL_PKT, RPC_C_IMP_LEVEL_IMPERSONATE);
    CWbemInstanceList enclosures(services);
    enclosures.ExecQuery(L"SELECT * FROM Win32_SystemEnclosure", 0);
    for (const CWbemInstance& enclosure : enclosures) {
      ScopedVariant chassisTypes;
      CIMTYPE type = CIM_EMPTY;
      const HRESULT hr = enclosure.Object()->Get(
          L"ChassisTypes", 0, chassisTypes.Receive(), &type, nullptr);
      if (FAILED(hr)) ThrowHResult(hr);
      if ((type & CIM_FLAG_ARRAY) && HasPortableType(chassisTypes.Get())) {
        m_portableChassis.store(kPortable);
      }
    }
  } catch (const HResultException& error) {
    std::string text;
    try {
      GetWbemStatusText(error.Error(), text);
    } catch (...) {
      text.clear();
    }
    LogMessage(
        "%T INFO: Catching and handling HRESULT exception %s:%d (0x%X)\n\t%s\n",
        kSourceName, kSourceLine, static_cast<unsigned>(error.Error()),
        text.c_str());
  } catch (...) {
    LogMessage("%T WARNING: Caught and handled general exception %s:%d\n",
               kSourceName, kSourceLine);
  }
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

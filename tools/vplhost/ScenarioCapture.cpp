#include "tools/vplhost/ScenarioCapture.h"

#include <windows.h>
#include <powrprof.h>
#include <wbemcli.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <vector>

#include "common/ScopedBstr.h"
#include "common/ScopedHandle.h"
#include "common/ScopedVariant.h"
#include "common/wmi/WbemConnection.h"
#include "common/wmi/WbemErrors.h"
#include "common/wmi/WbemProperty.h"
#include "common/wmi/WbemResults.h"
#include "jobs/Clock.h"
#include "tools/vplhost/ConsoleText.h"
#include "tools/vplhost/IsoTime.h"
#include "tools/vplhost/StatedBattery.h"

namespace vplhost {
namespace {

using Microsoft::WRL::ComPtr;
using nlohmann::ordered_json;

// What the plug-in reads, namespace by namespace: each class with the
// properties it reads, its key properties first (so that instances stay
// distinct in a replay). Nothing else of the machine goes into a capture.
// A subclass the plug-in also asks for by name comes after its superclass,
// whose listing then leaves its instances to it.
struct CapturedClass {
  const wchar_t* wmiNamespace;
  const wchar_t* className;
  std::vector<const wchar_t*> properties;
};

const CapturedClass kClasses[] = {
    {L"root\\cimv2", L"Win32_SystemEnclosure", {L"Tag", L"ChassisTypes"}},
    // Only its presence counts.
    {L"root\\ccm", L"CCM_Client", {}},
    {L"root\\ccm\\SoftMgmtAgent",
     L"CCM_ExecutionRequestEx",
     {L"RequestID", L"ContentID", L"AdvertID", L"State", L"RunningState",
      L"ReceivedTime"}},
    {L"root\\ccm\\SoftMgmtAgent",
     L"CCM_ExecutionRequest",
     {L"RequestID", L"ContentID", L"AdvertID", L"State", L"RunningState",
      L"ReceivedTime"}},
    {L"root\\ccm\\SoftMgmtAgent",
     L"ExecutionRequest",
     {L"RequestID", L"ContentID", L"AdvertID", L"State", L"RunningState",
      L"ReceivedTime"}},
    {L"root\\ccm\\SoftMgmtAgent",
     L"CCM_TSExecutionRequest",
     {L"RequestID", L"ContentID", L"AdvertID", L"State", L"RunningState",
      L"ReceivedTime"}},
    {L"root\\ccm\\SoftwareUpdates\\DeploymentAgent",
     L"CCM_TargetedUpdateEx1",
     {L"UpdateId", L"UpdateState", L"UpdateStatus"}},
    {L"root\\ccm\\Scheduler",
     L"CCM_Scheduler_History",
     {L"ScheduleID", L"UserSID", L"LastTriggerTime"}},
    {L"root\\ccm\\Policy\\Machine\\ActualConfig",
     L"CCM_Scheduler_ScheduledMessage",
     {L"ScheduledMessageID", L"TriggerMessage", L"Triggers"}},
    {L"root\\ccm\\Policy\\Machine\\ActualConfig",
     L"CCM_SoftwareDistribution",
     {L"ADV_AdvertisementID", L"PKG_PackageID", L"PRG_ProgramID",
      L"ADV_ExpirationTime", L"ADV_ExpirationTimeIsGMT", L"PRG_PRF_Disabled",
      L"PRG_Requirements"}},
    {L"root\\ccm\\Policy\\Machine\\ActualConfig",
     L"CCM_SoftwareUpdatesClientConfig",
     {L"SiteSettingsKey", L"ServiceWindowManagement"}},
    {L"root\\ccm\\ClientSDK",
     L"CCM_ServiceWindow",
     {L"ID", L"StartTime", L"EndTime", L"Duration", L"Type"}},
    {L"root\\ccm\\ClientSDK",
     L"CCM_SoftwareUpdate",
     {L"UpdateID", L"EvaluationState"}},
    {L"root\\ccm\\ClientSDK",
     L"CCM_Application",
     {L"Id", L"Revision", L"IsMachineTarget", L"Name", L"EvaluationState"}},
    {L"root\\ccm\\Policy\\Machine\\ActualConfig",
     L"CCM_TaskSequence",
     {L"ADV_AdvertisementID", L"PKG_PackageID", L"PRG_ProgramID",
      L"ADV_ExpirationTime", L"ADV_ExpirationTimeIsGMT", L"PRG_PRF_Disabled",
      L"PRG_Requirements"}},
};

// Whether instances of `className` are captured under a listing of their
// own in `wmiNamespace`.
bool HasOwnListing(const wchar_t* wmiNamespace, const std::wstring& className) {
  for (const CapturedClass& entry : kClasses) {
    if (_wcsicmp(entry.wmiNamespace, wmiNamespace) == 0 &&
        _wcsicmp(entry.className, className.c_str()) == 0)
      return true;
  }
  return false;
}

constexpr char kSettingsKey[] = "Software\\Tarn\\Vesperline";
constexpr char kPolicyKey[] = "Software\\Policies\\Tarn\\Vesperline";

const char* CimTypeName(CIMTYPE type) {
  switch (type & ~CIM_FLAG_ARRAY) {
    case CIM_SINT8:
      return "sint8";
    case CIM_UINT8:
      return "uint8";
    case CIM_SINT16:
      return "sint16";
    case CIM_UINT16:
      return "uint16";
    case CIM_SINT32:
      return "sint32";
    case CIM_UINT32:
      return "uint32";
    case CIM_SINT64:
      return "sint64";
    case CIM_UINT64:
      return "uint64";
    case CIM_REAL32:
      return "real32";
    case CIM_REAL64:
      return "real64";
    case CIM_BOOLEAN:
      return "boolean";
    case CIM_DATETIME:
      return "datetime";
    case CIM_REFERENCE:
      return "reference";
    case CIM_CHAR16:
      return "char16";
    default:
      return "string";
  }
}

// One element of the property's value as JSON, by its CIM type. WMI hands
// 64-bit numbers over as text.
long long OfCimWidth(long long number, CIMTYPE type) {
  switch (type) {
    case CIM_SINT8:
      return static_cast<int8_t>(number);
    case CIM_UINT8:
      return static_cast<uint8_t>(number);
    case CIM_SINT16:
      return static_cast<int16_t>(number);
    case CIM_UINT16:
      return static_cast<uint16_t>(number);
    case CIM_SINT32:
      return static_cast<int32_t>(number);
    default:
      return static_cast<uint32_t>(number);
  }
}

ordered_json Element(const VARIANT& value, CIMTYPE type) {
  const CIMTYPE base = type & ~CIM_FLAG_ARRAY;
  NTarn::ScopedVariant converted;
  const auto as = [&](VARTYPE vt) {
    return SUCCEEDED(::VariantChangeType(converted.Receive(),
                                         const_cast<VARIANT*>(&value), 0, vt));
  };
  switch (base) {
    case CIM_BOOLEAN:
      return as(VT_BOOL)
                 ? ordered_json(converted.Get().boolVal != VARIANT_FALSE)
                 : ordered_json();
    case CIM_REAL32:
    case CIM_REAL64:
      return as(VT_R8) ? ordered_json(converted.Get().dblVal) : ordered_json();
    case CIM_UINT64:
      return as(VT_UI8) ? ordered_json(converted.Get().ullVal) : ordered_json();
    case CIM_SINT64:
      return as(VT_I8) ? ordered_json(converted.Get().llVal) : ordered_json();
    case CIM_SINT8:
    case CIM_UINT8:
    case CIM_SINT16:
    case CIM_UINT16:
    case CIM_SINT32:
    case CIM_UINT32:
      // Cut to the CIM type's width: Wine's WMI hands a uint16 array over
      // as VT_I4 elements whose upper halves are not zero.
      return as(VT_I8) ? ordered_json(OfCimWidth(converted.Get().llVal, base))
                       : ordered_json();
    default:
      return as(VT_BSTR)
                 ? ordered_json(Narrow(
                       converted.Get().bstrVal ? converted.Get().bstrVal : L""))
                 : ordered_json();
  }
}

ordered_json Value(const VARIANT& value, CIMTYPE type) {
  if (value.vt == VT_NULL || value.vt == VT_EMPTY) return nullptr;
  if (!(type & CIM_FLAG_ARRAY) || !(value.vt & VT_ARRAY)) {
    return Element(value, type);
  }
  ordered_json elements = ordered_json::array();
  SAFEARRAY* array = value.parray;
  LONG lower = 0;
  LONG upper = -1;
  if (!array || FAILED(::SafeArrayGetLBound(array, 1, &lower)) ||
      FAILED(::SafeArrayGetUBound(array, 1, &upper)))
    return elements;
  VARTYPE vt = static_cast<VARTYPE>(value.vt & ~VT_ARRAY);
  if (FAILED(::SafeArrayGetVartype(array, &vt))) return elements;
  for (LONG i = lower; i <= upper; ++i) {
    NTarn::ScopedVariant item;
    VARIANT* slot = item.Receive();
    if (vt == VT_VARIANT) {
      ::SafeArrayGetElement(array, &i, slot);
    } else {
      // The element lands in the variant's value, whatever its type.
      slot->llVal = 0;
      if (SUCCEEDED(::SafeArrayGetElement(array, &i, &slot->llVal)))
        slot->vt = vt;
    }
    elements.push_back(Element(item.Get(), type));
  }
  return elements;
}

// The class `object` belongs to (WMI's __CLASS); empty when not told.
std::wstring ClassOf(IWbemClassObject* object) {
  NTarn::ScopedVariant value;
  if (FAILED(object->Get(L"__CLASS", 0, value.Receive(), nullptr, nullptr)) ||
      value.Get().vt != VT_BSTR || !value.Get().bstrVal)
    return std::wstring();
  return value.Get().bstrVal;
}

// The listed properties of `object` with their CIM types; one the instance
// does not have is left out.
ordered_json Instance(IWbemClassObject* object,
                      const std::vector<const wchar_t*>& properties) {
  ordered_json instance = ordered_json::object();
  for (const wchar_t* name : properties) {
    NTarn::ScopedVariant value;
    CIMTYPE type = CIM_EMPTY;
    if (FAILED(object->Get(name, 0, value.Receive(), &type, nullptr))) continue;
    std::string cimType = CimTypeName(type);
    if (type & CIM_FLAG_ARRAY) cimType += "[]";
    instance[Narrow(name)] = {{"cimType", cimType},
                              {"value", Value(value.Get(), type)}};
  }
  return instance;
}

// The query for the listed properties (every one for a class of which none
// is read, which asks only whether an instance exists).
std::wstring CaptureQuery(const CapturedClass& entry) {
  std::wstring selected;
  for (const wchar_t* name : entry.properties)
    selected += (selected.empty() ? L"" : L", ") + std::wstring(name);
  return L"SELECT " + (selected.empty() ? std::wstring(L"*") : selected) +
         L" FROM " + entry.className;
}

// The instances of one class; none when the class cannot be asked for,
// which a replay reproduces by leaving it out. `absent` says whether the
// namespace itself is missing. A class the machine holds but would not give
// (a provider that failed or did not answer) is warned about, since the
// capture then says less than the machine.
std::optional<ordered_json> ClassInstances(const CapturedClass& entry,
                                           bool* absent) {
  const wchar_t* wmiNamespace = entry.wmiNamespace;
  const wchar_t* className = entry.className;
  *absent = false;
  NTarn::CWbemConnection connection;
  NTarn::CWbemResults objects;
  const std::wstring query = CaptureQuery(entry);
  const HRESULT hr = connection.ExecQuery(wmiNamespace, query.c_str(), objects);
  if (hr == static_cast<HRESULT>(WBEM_E_INVALID_NAMESPACE)) *absent = true;
  if (FAILED(hr) && !*absent &&
      hr != static_cast<HRESULT>(WBEM_E_INVALID_CLASS)) {
    fprintf(stderr,
            "vplhost: warning: %ls %ls could not be read (%s); the capture "
            "leaves it out\n",
            wmiNamespace, className,
            hr == static_cast<HRESULT>(WBEM_E_TIMED_OUT)
                ? objects.FailureText().c_str()
                : NTarn::GetWbemErrorName(hr));
  }
  if (hr != S_OK || !objects) return std::nullopt;
  ordered_json instances = ordered_json::array();
  for (;;) {
    ComPtr<IWbemClassObject> object;
    const HRESULT next = objects.Next(object);
    if (next == WBEM_S_FALSE && !object) break;
    if (FAILED(next) || !object) {
      fprintf(stderr,
              "vplhost: warning: %ls %ls stopped answering after %zu objects "
              "(%s); the capture holds those\n",
              wmiNamespace, className, instances.size(),
              NTarn::GetWbemErrorName(next));
      break;
    }
    // A query reaches the subclasses' instances too: one whose class has a
    // listing of its own goes there, another names its class.
    const std::wstring own = ClassOf(object.Get());
    const bool subclass = !own.empty() && _wcsicmp(own.c_str(), className) != 0;
    if (subclass && HasOwnListing(wmiNamespace, own)) continue;
    ordered_json instance = Instance(object.Get(), entry.properties);
    if (subclass) {
      ordered_json named = {{"__CLASS", Narrow(own)}};
      named.update(instance);
      instance = std::move(named);
    }
    instances.push_back(std::move(instance));
  }
  return instances;
}

// The texts and numbers of a settings key, as a scenario states them.
ordered_json KeyValues(const char* path) {
  ordered_json values = ordered_json::object();
  NTarn::ScopedRegKey key;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key.Receive()) !=
      ERROR_SUCCESS)
    return values;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameSize = static_cast<DWORD>(std::size(name));
    BYTE data[2048];
    DWORD size = sizeof(data) - sizeof(wchar_t);
    DWORD type = 0;
    const LSTATUS status = ::RegEnumValueW(key.Get(), i, name, &nameSize,
                                           nullptr, &type, data, &size);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) continue;
    if (type == REG_DWORD && size == sizeof(DWORD)) {
      DWORD number = 0;
      memcpy(&number, data, sizeof(number));
      values[Narrow(name)] = number;
    } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
      data[size] = 0;
      data[size + 1] = 0;
      values[Narrow(name)] = Narrow(reinterpret_cast<wchar_t*>(data));
    }
  }
  return values;
}

std::optional<vpltest::sim::HostFacts::Battery> MachineBattery() {
  SYSTEM_BATTERY_STATE state{};
  if (::CallNtPowerInformation(SystemBatteryState, nullptr, 0, &state,
                               sizeof(state)) != 0)
    return std::nullopt;
  using Battery = vpltest::sim::HostFacts::Battery;
  if (!state.AcOnLine) return Battery::kDischarging;
  return state.BatteryPresent ? Battery::kAc : Battery::kNone;
}

std::string TimeZoneText() {
  TIME_ZONE_INFORMATION zone{};
  const DWORD which = ::GetTimeZoneInformation(&zone);
  const wchar_t* name =
      which == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightName : zone.StandardName;
  return Narrow(name);
}

}  // namespace

ordered_json CaptureScenario(
    const std::string& comment,
    const std::optional<vpltest::sim::HostFacts::Battery>& battery) {
  ordered_json scenario;
  scenario["comment"] =
      comment + "Captured by vplhost at " + IsoLocalTime(CurrentTime()) +
      ", time zone " + TimeZoneText() +
      ". It holds only the classes and properties the plug-in reads (with "
      "each instance's key properties) and the plug-in's settings.";
  ordered_json namespaces = ordered_json::object();
  ordered_json absent = ordered_json::array();
  for (const auto& entry : kClasses) {
    const std::string wmiNamespace = Narrow(entry.wmiNamespace);
    bool missing = false;
    const std::optional<ordered_json> instances =
        ClassInstances(entry, &missing);
    if (missing && !namespaces.contains(wmiNamespace) &&
        std::find(absent.begin(), absent.end(), wmiNamespace) == absent.end())
      absent.push_back(wmiNamespace);
    if (!instances) continue;
    namespaces[wmiNamespace][Narrow(entry.className)] = *instances;
  }
  scenario["namespaces"] = std::move(namespaces);
  if (!absent.empty()) scenario["absentNamespaces"] = std::move(absent);

  ordered_json local = KeyValues(kSettingsKey);
  ordered_json policy = KeyValues(kPolicyKey);
  // A replay turns monitoring on unless told; the plug-in's default is off.
  if (!local.contains("MonitorJobs") && !policy.contains("MonitorJobs"))
    local["MonitorJobs"] = "OFF";
  scenario["registry"] = {{kSettingsKey, std::move(local)}};
  if (!policy.empty()) scenario["policy"] = std::move(policy);
  const auto state = battery ? battery : MachineBattery();
  if (state) scenario["host"] = {{"battery", BatteryStateName(*state)}};
  return scenario;
}

DWORD WriteScenario(const std::wstring& path, const ordered_json& scenario) {
  FILE* file = _wfopen(path.c_str(), L"wb");
  if (!file) return ::GetLastError() ? ::GetLastError() : ERROR_OPEN_FAILED;
  const std::string text =
      scenario.dump(2, ' ', false, ordered_json::error_handler_t::replace) +
      "\n";
  const bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
  const bool closed = fclose(file) == 0;
  return written && closed ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

}  // namespace vplhost

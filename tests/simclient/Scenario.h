// The data of a simulated ConfigMgr client: namespaces holding classes
// holding instances, read from a JSON scenario.
//
// {
//   "namespaces": {
//     "root\\ccm": { "CCM_Client": { "ClientId": "GUID:..." } },
//     "root\\ccm\\Scheduler": { "CCM_Scheduler_History": [ {...}, {...} ] }
//   },
//   "absentNamespaces": [ "root\\cimv2" ],
//   "registry": { "Software\\Tarn\\Vesperline": { "MonitorJobs": "ON" } },
//   "policy": { "PendingSMSJobWindowMins": 30 },
//   "host": { "idleMilliseconds": 60000, "portable": true,
//             "battery": "discharging" }
// }
//
// A class holds an array of instances or a single one, as PowerShell's
// ConvertTo-Json writes them. Like WMI's, classes inherit: an instance may be
// listed under any class of its chain and names its own with "__CLASS" (or
// PowerShell's "CimSystemProperties": {"ClassName": ...}); two instances of a
// class hierarchy with the same key values are an error. A namespace or class
// the plug-in never reads draws a warning. Values take their CIM type from the
// built-in schema, else from the JSON value; {"cimType": "uint16[]", "value":
// [...]} gives any type explicitly. Dates may be CIM_DATETIME text, ISO 8601,
// "/Date(ms)/", or "now+MINUTES" / "now-MINUTES": that far from when the
// scenario is read, in local clock digits (a sample that stays current).
//
// "registry" holds values below HKEY_LOCAL_MACHINE by key, "policy" the
// plug-in's policy values; a text is REG_SZ, a number REG_DWORD. The WMI
// simulation ignores both and the host facts; a host such as vplhost writes
// and offers them. "portable" stands for a Win32_SystemEnclosure in
// root\cimv2 (Notebook or Desktop), so it cannot go with one of its own.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/simclient/SimKeyIndex.h"
#include "tests/simclient/SimValue.h"

namespace vpltest::sim {

// A malformed scenario; what() names the source, the position and the
// problem.
class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct SimInstance {
  std::wstring className;
  std::vector<std::pair<std::wstring, SimValue>> properties;

  // Case-insensitive lookup; null when the instance has no such property.
  const SimValue* Find(const std::wstring& name) const;
};

struct SimClass {
  std::wstring name;
  std::vector<SimInstance> instances;
  // Built once the instances are in; unusable for classes without a key.
  SimKeyIndex keyIndex;
};

struct SimNamespace {
  std::wstring name;
  std::map<std::wstring, SimClass> classes;  // by lower-case name

  const SimClass* FindClass(const std::wstring& name) const;
  // The class and those the namespace holds that derive from it, the class
  // first: what a query or an object path on the class reaches, as WMI's
  // deep operations do. Empty when the namespace holds none of them.
  std::vector<const SimClass*> FindClassAndSubclasses(
      const std::wstring& name) const;
};

// A registry value the scenario sets: REG_SZ when `text` holds one, else
// REG_DWORD `number`.
struct RegistryValue {
  std::wstring key;  // below HKEY_LOCAL_MACHINE
  std::wstring name;
  std::optional<std::wstring> text;
  unsigned long number = 0;
};

// What the scenario states about the machine beyond WMI.
struct HostFacts {
  enum class Battery { kAc, kDischarging, kNone };
  std::optional<unsigned long> idleMilliseconds;
  std::optional<bool> portable;
  // "ac": on AC with a battery present; "discharging": running on the
  // battery; "none": on AC without a battery.
  std::optional<Battery> battery;
};

class Scenario {
 public:
  static constexpr char kPolicyKey[] = "Software\\Policies\\Tarn\\Vesperline";

  // Parses JSON text; `sourceName` names it in error messages.
  static Scenario Parse(const std::string& json, const std::string& sourceName);
  // Reads the file at `path` (UTF-8, opened by its wide form) in UTF-8, with
  // or without a byte-order mark, or UTF-16 LE with one.
  static Scenario Load(const std::string& path);
  // The file opened by its wide path; messages name it in UTF-8.
  static Scenario Load(const std::wstring& path);

  // Null when the scenario does not hold `name` (normalised, case-insensitive).
  const SimNamespace* FindNamespace(const std::wstring& name) const;
  // Whether the scenario says `name` does not exist on the machine.
  bool IsAbsent(const std::wstring& name) const;

  static std::wstring Normalize(const std::wstring& name);

  // "registry" values, then "policy" values, in file order within each key.
  const std::vector<RegistryValue>& RegistryValues() const {
    return m_registry;
  }
  const HostFacts& Host() const { return m_host; }
  // One line for each namespace or class the plug-in never reads.
  const std::vector<std::string>& Warnings() const { return m_warnings; }

 private:
  std::map<std::wstring, SimNamespace> m_namespaces;  // by lower-case name
  std::set<std::wstring> m_absent;
  std::vector<RegistryValue> m_registry;
  HostFacts m_host;
  std::vector<std::string> m_warnings;
};

// Lower-case copy, for case-insensitive keys.
std::wstring ToLower(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

}  // namespace vpltest::sim

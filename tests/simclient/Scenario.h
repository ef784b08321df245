// The data of a simulated ConfigMgr client: namespaces holding classes
// holding instances, read from a JSON scenario.
//
// {
//   "namespaces": {
//     "root\\ccm": { "CCM_Client": { "ClientId": "GUID:..." } },
//     "root\\ccm\\Scheduler": { "CCM_Scheduler_History": [ {...}, {...} ] }
//   },
//   "absentNamespaces": [ "root\\cimv2" ]
// }
//
// A class holds an array of instances or a single one, as PowerShell's
// ConvertTo-Json writes them. Values take their CIM type from the built-in
// schema, else from the JSON value; {"cimType": "uint16[]", "value": [...]}
// gives any type explicitly. Dates may be CIM_DATETIME text, ISO 8601 or
// "/Date(ms)/".
#pragma once

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

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
};

struct SimNamespace {
  std::wstring name;
  std::map<std::wstring, SimClass> classes;  // by lower-case name

  const SimClass* FindClass(const std::wstring& name) const;
};

class Scenario {
 public:
  // Parses JSON text; `sourceName` names it in error messages.
  static Scenario Parse(const std::string& json, const std::string& sourceName);
  static Scenario Load(const std::string& path);

  // Null when the scenario does not hold `name` (normalised, case-insensitive).
  const SimNamespace* FindNamespace(const std::wstring& name) const;
  // Whether the scenario says `name` does not exist on the machine.
  bool IsAbsent(const std::wstring& name) const;

  static std::wstring Normalize(const std::wstring& name);

 private:
  std::map<std::wstring, SimNamespace> m_namespaces;  // by lower-case name
  std::set<std::wstring> m_absent;
};

// Lower-case copy, for case-insensitive keys.
std::wstring ToLower(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

}  // namespace vpltest::sim

#include "tests/simclient/Scenario.h"

#include <windows.h>
#include <wbemcli.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using vpltest::sim::HostFacts;
using vpltest::sim::Scenario;
using vpltest::sim::ScenarioError;
using vpltest::sim::SimInstance;
using vpltest::sim::SimValue;

std::string ErrorOf(const std::string& json) {
  try {
    Scenario::Parse(json, "case.json");
  } catch (const ScenarioError& error) {
    return error.what();
  }
  return "no error";
}

const SimInstance& Only(const Scenario& scenario, const wchar_t* ns,
                        const wchar_t* cls) {
  const auto* simNamespace = scenario.FindNamespace(ns);
  EXPECT_NE(simNamespace, nullptr);
  const auto* simClass = simNamespace->FindClass(cls);
  EXPECT_NE(simClass, nullptr);
  EXPECT_EQ(simClass->instances.size(), 1u);
  return simClass->instances.front();
}

TEST(ScenarioTest, NamespacesAreCaseAndSlashInsensitiveWithParents) {
  const Scenario scenario = Scenario::Parse(
      R"({"namespaces": {"ROOT\\CCM\\Scheduler": {"CCM_Scheduler_History": []}},
          "absentNamespaces": ["root/cimv2"]})",
      "s");
  EXPECT_NE(scenario.FindNamespace(L"root\\ccm\\scheduler"), nullptr);
  EXPECT_NE(scenario.FindNamespace(L"root/ccm/Scheduler"), nullptr);
  EXPECT_NE(scenario.FindNamespace(L"\\root\\ccm\\"), nullptr);
  // Parents exist, "root" itself stays the platform's.
  EXPECT_NE(scenario.FindNamespace(L"root\\ccm"), nullptr);
  EXPECT_EQ(scenario.FindNamespace(L"root"), nullptr);
  EXPECT_EQ(scenario.FindNamespace(L"root\\ccm\\Policy"), nullptr);
  EXPECT_TRUE(scenario.IsAbsent(L"ROOT\\CIMV2"));
  EXPECT_NE(scenario.FindNamespace(L"root\\ccm\\scheduler")
                ->FindClass(L"ccm_scheduler_history"),
            nullptr);
}

TEST(ScenarioTest, ValuesTakeSchemaTypesOrTheirOwn) {
  const Scenario scenario = Scenario::Parse(R"({"namespaces": {"root\\x": {
    "CCM_Scheduler_ScheduledMessage": {
      "ScheduledMessageID": "ADV-1", "Triggers": ["SMSSchedule=A", "B"],
      "TriggerMessage": null, "Extra": 5, "Flag": true, "Big": 5000000000,
      "Ratio": 0.5, "Names": ["a"], "Forced": {"cimType": "uint8", "value": 200},
      "PSComputerName": "HOST", "CimClass": "root/x:C"
    }}}})",
                                            "s");
  const SimInstance& instance =
      Only(scenario, L"root\\x", L"CCM_Scheduler_ScheduledMessage");
  EXPECT_EQ(instance.properties.size(), 9u);  // PowerShell's additions dropped
  EXPECT_EQ(instance.Find(L"scheduledmessageid")->cimType, CIM_STRING);
  EXPECT_EQ(instance.Find(L"Triggers")->cimType, CIM_STRING | CIM_FLAG_ARRAY);
  EXPECT_EQ(instance.Find(L"Triggers")->texts.size(), 2u);
  EXPECT_TRUE(instance.Find(L"TriggerMessage")->isNull);
  EXPECT_EQ(instance.Find(L"TriggerMessage")->cimType, CIM_STRING);
  EXPECT_EQ(instance.Find(L"Extra")->cimType, CIM_SINT32);
  EXPECT_EQ(instance.Find(L"Flag")->cimType, CIM_BOOLEAN);
  EXPECT_EQ(instance.Find(L"Big")->cimType, CIM_SINT64);
  EXPECT_EQ(instance.Find(L"Big")->texts[0], L"5000000000");
  EXPECT_EQ(instance.Find(L"Ratio")->cimType, CIM_REAL64);
  EXPECT_EQ(instance.Find(L"Names")->cimType, CIM_STRING | CIM_FLAG_ARRAY);
  EXPECT_EQ(instance.Find(L"Forced")->cimType, CIM_UINT8);
  EXPECT_EQ(instance.Find(L"Forced")->numbers[0], 200);
  EXPECT_EQ(instance.Find(L"PSComputerName"), nullptr);
}

TEST(ScenarioTest, DatesBecomeCimDateTimeText) {
  const Scenario scenario = Scenario::Parse(R"({"namespaces": {"root\\x": {
    "CCM_Scheduler_History": [
      {"ScheduleID": "a", "LastTriggerTime": "20260315101530.123456+060"},
      {"ScheduleID": "b", "LastTriggerTime": "2026-03-15T10:15:30.5+01:00"},
      {"ScheduleID": "c", "LastTriggerTime": "2026-03-15T10:15:30Z"},
      {"ScheduleID": "d", "LastTriggerTime": "2026-03-15T10:15:30-05:30"},
      {"ScheduleID": "e", "LastTriggerTime": "\/Date(1773569730000)\/"},
      {"ScheduleID": "f", "LastTriggerTime": {"value": "\/Date(1773569730000)\/",
        "DisplayHint": 2, "DateTime": "Sunday, March 15, 2026 10:15:30 AM"}}
    ]}}})",
                                            "s");
  const auto& instances = scenario.FindNamespace(L"root\\x")
                              ->FindClass(L"CCM_Scheduler_History")
                              ->instances;
  ASSERT_EQ(instances.size(), 6u);
  const wchar_t* expected[] = {
      L"20260315101530.123456+060", L"20260315101530.500000+060",
      L"20260315101530.000000+000", L"20260315101530.000000-330",
      L"20260315101530.000000+000", L"20260315101530.000000+000"};
  for (size_t i = 0; i < 6; ++i) {
    const SimValue* value = instances[i].Find(L"LastTriggerTime");
    EXPECT_EQ(value->cimType, CIM_DATETIME);
    EXPECT_EQ(value->texts[0], expected[i]) << i;
  }
}

// A file's error starts with its path, a place in it and the problem.
std::string LoadErrorOf(const std::string& path) {
  try {
    Scenario::Load(path);
  } catch (const ScenarioError& error) {
    return error.what();
  }
  return "no error";
}

TEST(ScenarioTest, SyntaxErrorsNameFileLineAndColumn) {
  const std::string message =
      ErrorOf("{\n  \"namespaces\": {\n    \"a\": [1,,]\n");
  EXPECT_EQ(message.rfind("case.json: line 3, column 13: ", 0), 0u) << message;
  EXPECT_NE(message.find("syntax error"), std::string::npos) << message;
  const std::string malformed = VPL_SCENARIO_DIR "/malformed.json";
  EXPECT_EQ(LoadErrorOf(malformed).rfind(malformed + ": line 4, column ", 0),
            0u)
      << LoadErrorOf(malformed);
  const std::string missing = VPL_SCENARIO_DIR "/no-such-file.json";
  // The cause is the system's, with its code.
  EXPECT_EQ(LoadErrorOf(missing).rfind(missing + ": cannot be opened: ", 0), 0u)
      << LoadErrorOf(missing);
  EXPECT_NE(LoadErrorOf(missing).find(" (error 2)"), std::string::npos);
}

TEST(ScenarioTest, StructuralErrorsNameThePlaceAndProblem) {
  const std::string number =
      ": expected a text or a number from 0 to 4294967295";
  // clang-format off
  const struct { const char* json; std::string error; } cases[] = {
      {"", "line 1, column 1: syntax error while parsing value - unexpected end of input; expected '[', '{', or a literal"},
      {"[]", "at /: the scenario must be a JSON object"},
      {R"({"namespace": {}})", "at /namespace: unknown key"},
      {R"({"namespaces": {"root\\x": {"C": 5}}})", "at /namespaces/root\\x/C: expected an array of instances or one instance"},
      {R"({"namespaces": {"r\\x": {"Win32_SystemEnclosure": {"ChassisTypes": 3}}}})",
       "at /namespaces/r\\x/Win32_SystemEnclosure/0/ChassisTypes: expected an array"},
      {R"({"namespaces": {"r\\x": {"Win32_SystemEnclosure": {"ChassisTypes": [3, 70000]}}}})",
       "at /namespaces/r\\x/Win32_SystemEnclosure/0/ChassisTypes/1: integer out of range for its CIM type"},
      {R"({"namespaces": {"r\\x": {"CCM_TargetedUpdateEx1": {"UpdateStatus": "7"}}}})",
       "at /namespaces/r\\x/CCM_TargetedUpdateEx1/0/UpdateStatus: expected an integer"},
      {R"({"namespaces": {"r\\x": {"CCM_Scheduler_History": {"LastTriggerTime": "yesterday"}}}})",
       "at /namespaces/r\\x/CCM_Scheduler_History/0/LastTriggerTime: \"yesterday\" is not a date (CIM_DATETIME, ISO 8601, /Date(ms)/ or now+MINUTES)"},
      {R"({"namespaces": {"r\\x": {"C": {"P": {"cimType": "word"}}}}})", "at /namespaces/r\\x/C/0/P: unknown CIM type \"word\""},
      {R"({"namespaces": {"r\\x": {"C": {"P": 1, "p": 2}}}})", "at /namespaces/r\\x/C/0/p: duplicate property"},
      {R"({"namespaces": {"r\\x": {"C": {"P": {"a": 1}}}}})",
       "at /namespaces/r\\x/C/0/P: an object value needs a \"cimType\" text and a \"value\""},
      {R"({"registry": {"K": {"V": -1}}})", "at /registry/K/V" + number},
      {R"({"policy": {"V": [1]}})", "at /policy/V" + number},
      {R"({"registry": {"K": 5}})", "at /registry/K: expected an object of values"},
      {R"({"host": {"idle": 5}})", "at /host/idle: unknown key"},
      {R"({"host": {"portable": "yes"}})", "at /host/portable: expected true or false"},
      {R"({"host": {"battery": true}})", "at /host/battery: expected \"ac\", \"discharging\" or \"none\""},
      {R"({"host": {"portable": false}, "namespaces": {"ROOT\\CIMV2": {"Win32_SystemEnclosure": {"ChassisTypes": [3]}}}})",
       "at /host/portable: the scenario's own Win32_SystemEnclosure states the chassis already"},
      // One instance for each key across a class and its subclasses, and an
      // instance's own class lies on the chain it is listed under.
      {R"({"namespaces": {"r\\x": {"CCM_ExecutionRequestEx": {"RequestID": "R1"}, "CCM_TSExecutionRequest": {"RequestID": "r1"}}}})",
       "at /namespaces/r\\x/CCM_TSExecutionRequest/0: the same key as /namespaces/r\\x/CCM_ExecutionRequestEx/0 (WMI holds one instance for each key)"},
      {R"({"namespaces": {"r\\x": {"CCM_ExecutionRequestEx": {"__CLASS": "CCM_TaskSequence"}}}})",
       "at /namespaces/r\\x/CCM_ExecutionRequestEx/0: class \"CCM_TaskSequence\" is not \"CCM_ExecutionRequestEx\" or a class derived from it"},
  };
  // clang-format on
  for (const auto& c : cases)
    EXPECT_EQ(ErrorOf(c.json), "case.json: " + c.error) << c.json;
}

TEST(ScenarioTest, RegistryPolicyAndHostFactsAreKept) {
  const Scenario scenario = Scenario::Parse(
      R"({"registry": {"Software\\Tarn\\Vesperline": {"MonitorJobs": "ON",
                        "PendingSMSJobWindowMins": 30}},
          "policy": {"MonitorJobs": "OFF"},
          "host": {"idleMilliseconds": 4294967295, "portable": true,
                   "battery": "discharging"}})",
      "s");
  const auto& values = scenario.RegistryValues();
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0].key, L"Software\\Tarn\\Vesperline");
  EXPECT_EQ(values[0].name, L"MonitorJobs");
  EXPECT_EQ(values[0].text, L"ON");
  EXPECT_EQ(values[1].name, L"PendingSMSJobWindowMins");
  EXPECT_FALSE(values[1].text);
  EXPECT_EQ(values[1].number, 30u);
  EXPECT_EQ(values[2].key, L"Software\\Policies\\Tarn\\Vesperline");
  EXPECT_EQ(values[2].text, L"OFF");
  EXPECT_EQ(scenario.Host().idleMilliseconds, 4294967295u);
  EXPECT_EQ(scenario.Host().battery, HostFacts::Battery::kDischarging);
  // The portable fact is the chassis WMI reports: a Notebook.
  const SimInstance& enclosure =
      Only(scenario, L"root\\cimv2", L"Win32_SystemEnclosure");
  EXPECT_EQ(enclosure.Find(L"ChassisTypes")->cimType,
            CIM_UINT16 | CIM_FLAG_ARRAY);
  EXPECT_EQ(enclosure.Find(L"ChassisTypes")->numbers, std::vector<int64_t>{10});
}

TEST(ScenarioTest, NamesThePluginNeverReadsDrawWarnings) {
  const Scenario scenario = Scenario::Parse(
      R"({"namespaces": {"root\\ccm\\SoftMgmtAgent": {"CCM_ExecutionRequestEx": [], "CCM_ExecutionRequestx": []},
          "root\\ccm\\SoftMgmtAgnt": {"CCM_ExecutionRequestEx": []}}})",
      "s");
  EXPECT_EQ(
      scenario.Warnings(),
      (std::vector<std::string>{
          "s: the plug-in never reads class \"CCM_ExecutionRequestx\" in "
          "namespace \"root\\ccm\\SoftMgmtAgent\"",
          "s: the plug-in never reads namespace \"root\\ccm\\SoftMgmtAgnt\""}));
}

// Windows PowerShell 5.1 writes UTF-16 with ">", other tools UTF-8 with or
// without a byte-order mark; the file is opened by its wide name.
TEST(ScenarioTest, FilesInTheirEncodings) {
  wchar_t folder[MAX_PATH];
  ASSERT_GT(::GetTempPathW(MAX_PATH, folder), 0u);
  const std::wstring path = std::wstring(folder) + L"sc\u00e9nario-22.json";
  const std::string utf8Path = vpltest::sim::WideToUtf8(path);
  const std::string json = "{\"comment\": \"caf\xC3\xA9\"}";
  std::string utf16 = "\xFF\xFE";
  for (wchar_t c : vpltest::sim::Utf8ToWide(json))
    utf16 += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  const std::string rewrite =
      "; save it as UTF-8 (or UTF-16 LE with a byte-order mark)";
  // clang-format off
  const struct { std::string bytes, error; } cases[] = {
      {json, "no error"},
      {"\xEF\xBB\xBF" + json, "no error"},
      {utf16, "no error"},
      {utf16.substr(2), ": UTF-16 text without a byte-order mark" + rewrite},
      {"{\"comment\": \"caf\xE9\"}", ": not UTF-8 text (an ANSI code page?)" + rewrite},
  };
  // clang-format on
  for (const auto& c : cases) {
    FILE* file = nullptr;
    ASSERT_EQ(_wfopen_s(&file, path.c_str(), L"wb"), 0);
    fwrite(c.bytes.data(), 1, c.bytes.size(), file);
    fclose(file);
    const std::string error = LoadErrorOf(utf8Path);
    EXPECT_EQ(error, c.error == "no error" ? c.error : utf8Path + c.error);
  }
  ::DeleteFileW(path.c_str());
}

TEST(ScenarioTest, BundledSampleLoads) {
  const Scenario scenario = Scenario::Load(VPL_SAMPLES_DIR "/default.json");
  EXPECT_NE(scenario.FindNamespace(L"root\\ccm")->FindClass(L"CCM_Client"),
            nullptr);
  EXPECT_NE(scenario.FindNamespace(L"root\\ccm\\SoftMgmtAgent"), nullptr);
}

}  // namespace

// What one query or status run tells its caller: as text, line by line while
// it happens, or with --json as one document written at the end, so that a
// script reads the decision without parsing prose.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace vplhost {

class RunReport {
 public:
  RunReport(bool json, std::string command);
  RunReport(const RunReport&) = delete;
  RunReport& operator=(const RunReport&) = delete;

  bool IsJson() const { return m_json; }
  // The local time as the plug-in's lines carry it: "2026-03-02 09:15:30.000".
  static std::string TimeStamp();

  // One of vplhost's own lines, stamped with the ISO 8601 local time;
  // printed at once as text, kept for the document's "host" array with
  // --json.
  void Line(const char* format, ...);
  void LineV(const char* format, va_list args);
  // Text the plug-in logged, its time stamps already expanded.
  void PluginLog(const std::string& text);

  void SetScenario(const std::string& path);
  void SetPlugin(const std::string& name, const std::string& version);
  void Observer(const std::string& name);
  // `decision` is the response in words ("no objection", "objection").
  void Decision(int response, const std::string& decision,
                const std::optional<std::string>& reason);
  void CanUnloadNow(bool unloadable);
  void Error(const std::string& text);
  // Something the run could do but the administrator should know: on
  // standard error in either form, and with --json in "warnings" as
  // `object` with the text added.
  void Warning(const std::string& text, nlohmann::ordered_json object);
  // A member of the document of the command's own, such as "reasons".
  void Set(const std::string& key, nlohmann::ordered_json value);

  // Drops whatever is logged through the host's entry point while it lives:
  // the product code linked into vplhost logs as the plug-in does, and its
  // lines would read as the plug-in's.
  class MutedLog {
   public:
    MutedLog();
    MutedLog(const MutedLog&) = delete;
    MutedLog& operator=(const MutedLog&) = delete;
    ~MutedLog();
  };
  static bool IsLogMuted();

  // The whole document, one line, for the run's exit code. A run that
  // failed (any code but 0 and 3) carries "error" with the code and the
  // first error's text.
  std::string Json(int exitCode) const;
  // The document of a run that never started, such as for a bad command
  // line: the command, "error" and "exitCode".
  static std::string ErrorJson(const std::string& command, int exitCode,
                               const std::string& message);

  // The report the plug-in's log entry point writes to; null outside a run.
  static RunReport* Current();
  static void SetCurrent(RunReport* report);

 private:
  struct ObserverAnswer {
    std::string name;
    std::optional<int> response;
    std::string decision;
    std::optional<std::string> reason;
  };

  const bool m_json;
  const std::string m_command;
  // The plug-in may log from its own threads.
  mutable std::mutex m_mutex;
  std::string m_scenario;
  std::optional<std::string> m_pluginName;
  std::optional<std::string> m_pluginVersion;
  std::vector<ObserverAnswer> m_observers;
  std::vector<std::string> m_log;
  std::string m_partialLog;  // logged text not yet ended by a line feed
  std::vector<std::string> m_host;
  std::optional<bool> m_canUnloadNow;
  std::vector<std::string> m_errors;
  nlohmann::ordered_json m_warnings = nlohmann::ordered_json::array();
  nlohmann::ordered_json m_members = nlohmann::ordered_json::object();
};

}  // namespace vplhost

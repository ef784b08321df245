#include "tools/vplhost/RunReport.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "tools/vplhost/IsoTime.h"

namespace vplhost {
namespace {

std::atomic<RunReport*> g_current{nullptr};
std::atomic<int> g_muted{0};

std::string Format(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int length = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length <= 0) return std::string();
  std::string text(static_cast<size_t>(length) + 1, '\0');
  vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<size_t>(length));
  return text;
}

// Lines of `text` appended to `lines`; an unfinished last line waits in
// `partial` for the rest.
void SplitLines(const std::string& text, std::string& partial,
                std::vector<std::string>& lines) {
  partial += text;
  size_t start = 0;
  for (size_t end = partial.find('\n'); end != std::string::npos;
       end = partial.find('\n', start)) {
    std::string line = partial.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  partial.erase(0, start);
}

}  // namespace

RunReport::RunReport(bool json, std::string command)
    : m_json(json), m_command(std::move(command)) {}

RunReport* RunReport::Current() { return g_current.load(); }

void RunReport::SetCurrent(RunReport* report) { g_current.store(report); }

RunReport::MutedLog::MutedLog() { ++g_muted; }

RunReport::MutedLog::~MutedLog() { --g_muted; }

bool RunReport::IsLogMuted() { return g_muted.load() != 0; }

void RunReport::Line(const char* format, ...) {
  va_list args;
  va_start(args, format);
  LineV(format, args);
  va_end(args);
}

std::string RunReport::TimeStamp() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  char stamp[32];
  snprintf(stamp, sizeof(stamp), "%04d-%02d-%02d %02d:%02d:%02d.%03d",
           now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
           now.wMilliseconds);
  return stamp;
}

void RunReport::LineV(const char* format, va_list args) {
  const std::string text = IsoNow() + " " + Format(format, args);
  if (!m_json) {
    fputs(text.c_str(), stdout);
    fflush(stdout);
    return;
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  std::string partial;
  SplitLines(text, partial, m_host);
  if (!partial.empty()) m_host.push_back(partial);
}

void RunReport::PluginLog(const std::string& text) {
  if (!m_json) {
    fputs(text.c_str(), stdout);
    fflush(stdout);
    return;
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  SplitLines(text, m_partialLog, m_log);
}

void RunReport::SetScenario(const std::string& path) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_scenario = path;
}

void RunReport::SetPlugin(const std::string& name, const std::string& version) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pluginName = name;
  m_pluginVersion = version;
}

void RunReport::Observer(const std::string& name) {
  std::lock_guard<std::mutex> lock(m_mutex);
  ObserverAnswer answer;
  answer.name = name;
  m_observers.push_back(std::move(answer));
}

void RunReport::Decision(int response, const std::string& decision,
                         const std::optional<std::string>& reason) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_observers.empty()) m_observers.push_back({});
  m_observers.back().response = response;
  m_observers.back().decision = decision;
  m_observers.back().reason = reason;
}

void RunReport::CanUnloadNow(bool unloadable) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_canUnloadNow = unloadable;
}

void RunReport::Set(const std::string& key, nlohmann::ordered_json value) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_members[key] = std::move(value);
}

void RunReport::Error(const std::string& text) {
  fprintf(stderr, "%s\n", text.c_str());
  std::lock_guard<std::mutex> lock(m_mutex);
  m_errors.push_back(text);
}

void RunReport::Warning(const std::string& text,
                        nlohmann::ordered_json object) {
  fprintf(stderr, "%s\n", text.c_str());
  object["text"] = text;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_warnings.push_back(std::move(object));
}

std::string RunReport::Json(int exitCode) const {
  using Json = nlohmann::ordered_json;
  std::lock_guard<std::mutex> lock(m_mutex);
  const auto optionalText = [](const std::optional<std::string>& text) {
    return text ? Json(*text) : Json();
  };
  Json document = {{"command", m_command}, {"scenario", m_scenario}};
  document["plugin"] = m_pluginName ? Json{{"name", *m_pluginName},
                                           {"version", *m_pluginVersion}}
                                    : Json();
  // The run's answer is the first objection, else no objection from all.
  Json observers = Json::array();
  const ObserverAnswer* deciding = nullptr;
  for (const ObserverAnswer& answer : m_observers) {
    Json entry = {{"name", answer.name}};
    if (answer.response) {
      entry["response"] = *answer.response;
      entry["decision"] = answer.decision;
      entry["reason"] = optionalText(answer.reason);
      const bool objects = *answer.response != 0;
      if (!deciding || (objects && *deciding->response == 0))
        deciding = &answer;
    }
    observers.push_back(std::move(entry));
  }
  document["observers"] = std::move(observers);
  if (m_command == "query") {
    document["observer"] = deciding ? Json(deciding->name) : Json();
    document["response"] = deciding ? Json(*deciding->response) : Json();
    document["decision"] = deciding ? Json(deciding->decision) : Json();
    document["reason"] = deciding ? optionalText(deciding->reason) : Json();
  }
  for (const auto& member : m_members.items())
    document[member.key()] = member.value();
  Json log = m_log;
  if (!m_partialLog.empty()) log.push_back(m_partialLog);
  document["log"] = std::move(log);
  document["host"] = m_host;
  document["dllCanUnloadNow"] =
      m_canUnloadNow ? Json(*m_canUnloadNow ? "S_OK" : "S_FALSE") : Json();
  document["warnings"] = m_warnings;
  document["errors"] = m_errors;
  if (exitCode != 0 && exitCode != 3) {
    document["error"] = {
        {"exitCode", exitCode},
        {"message", m_errors.empty() ? std::string() : m_errors.front()}};
  }
  document["exitCode"] = exitCode;
  // Texts from the plug-in are not promised to be UTF-8; replace rather than
  // lose the whole document.
  return document.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace vplhost

namespace vplhost {

std::string RunReport::ErrorJson(const std::string& command, int exitCode,
                                 const std::string& message) {
  using Json = nlohmann::ordered_json;
  const Json document = {
      {"command", command.empty() ? Json() : Json(command)},
      {"error", {{"exitCode", exitCode}, {"message", message}}},
      {"exitCode", exitCode}};
  return document.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace vplhost

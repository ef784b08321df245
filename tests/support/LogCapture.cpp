#include "tests/support/LogCapture.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace vpltest {
namespace {

std::mutex& LogMutex() {
  static std::mutex mutex;
  return mutex;
}

std::vector<std::string>& LogMessages() {
  static std::vector<std::string> messages;
  return messages;
}

}  // namespace

std::string ExpandTimeStamp(const char* format, const char* stamp) {
  std::string expanded;
  for (const char* p = format; *p; ++p) {
    if (p[0] == '%' && p[1] == '%') {
      expanded += "%%";
      ++p;
    } else if (p[0] == '%' && p[1] == 'T') {
      for (const char* s = stamp; *s; ++s) {
        expanded += *s;
        if (*s == '%') expanded += '%';
      }
      ++p;
    } else {
      expanded += *p;
    }
  }
  return expanded;
}

void LogCapture::Clear() {
  std::lock_guard<std::mutex> lock(LogMutex());
  LogMessages().clear();
}

std::vector<std::string> LogCapture::Messages() {
  std::lock_guard<std::mutex> lock(LogMutex());
  return LogMessages();
}

bool LogCapture::Contains(const std::string& text) {
  for (const auto& message : Messages()) {
    if (message.find(text) != std::string::npos) return true;
  }
  return false;
}

}  // namespace vpltest

// Found by the plug-in through GetProcAddress on the main executable. The
// Microsoft runtime's formatter is used, as in the real host, so "%S" and
// "%ls" take wide strings.
extern "C" __declspec(dllexport) int vLogPrintf(const char* format,
                                                va_list args) {
  const std::string expanded =
      vpltest::ExpandTimeStamp(format, vpltest::kLogTimeStamp);
  va_list copy;
  va_copy(copy, args);
  const int length = _vscprintf(expanded.c_str(), copy);
  va_end(copy);
  if (length < 0) return length;
  std::string text(static_cast<size_t>(length) + 1, '\0');
  _vsnprintf(text.data(), text.size(), expanded.c_str(), args);
  text.resize(static_cast<size_t>(length));
  if (getenv("VPL_TEST_ECHO_LOG")) fputs(text.c_str(), stderr);
  std::lock_guard<std::mutex> lock(vpltest::LogMutex());
  vpltest::LogMessages().push_back(std::move(text));
  return length;
}

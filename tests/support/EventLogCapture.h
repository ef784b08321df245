// Captures the first insertion string of each event-log entry the plug-in
// writes while the object lives (Wine's event log keeps nothing).
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "common/EventLogSink.h"

namespace vpltest {

class EventLogCapture {
 public:
  EventLogCapture() {
    Texts();
    SetEventLogSinkForTesting(&Capture);
  }
  ~EventLogCapture() { SetEventLogSinkForTesting(nullptr); }
  EventLogCapture(const EventLogCapture&) = delete;
  EventLogCapture& operator=(const EventLogCapture&) = delete;

  // The texts captured since the last call.
  static std::vector<std::string> Texts() {
    std::lock_guard<std::mutex> lock(s_mutex);
    return std::exchange(s_texts, {});
  }

 private:
  // Anything but an information entry with the plug-in's id and one text.
  static void Capture(WORD type, DWORD id, const char* const insertions[3]) {
    const bool expected = type == EVENTLOG_INFORMATION_TYPE &&
                          id == 0x00020001 && !*insertions[1] &&
                          !*insertions[2];
    std::lock_guard<std::mutex> lock(s_mutex);
    s_texts.push_back(expected ? insertions[0] : "<unexpected entry>");
  }
  static inline std::mutex s_mutex;
  static inline std::vector<std::string> s_texts;
};

}  // namespace vpltest

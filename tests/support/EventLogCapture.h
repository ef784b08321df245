// Captures the first insertion string of each entry the plug-in writes to the
// event log, for as long as the object lives (Wine's event log keeps
// nothing). Unit tests only: the sink lives in the product code.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
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
    std::vector<std::string> texts;
    std::lock_guard<std::mutex> lock(Mutex());
    texts.swap(Captured());
    return texts;
  }

 private:
  // Only the plug-in's information entries with its one event id are kept.
  static void Capture(WORD type, DWORD eventId,
                      const char* const insertions[3]) {
    std::lock_guard<std::mutex> lock(Mutex());
    const bool expected = type == EVENTLOG_INFORMATION_TYPE &&
                          eventId == 0x00020001 && !*insertions[1] &&
                          !*insertions[2];
    Captured().push_back(expected ? insertions[0] : "<unexpected entry>");
  }
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }
  static std::vector<std::string>& Captured() {
    static std::vector<std::string> texts;
    return texts;
  }
};

}  // namespace vpltest

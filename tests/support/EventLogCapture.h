// Captures the entries the plug-in writes to the event log, for as long as
// the object lives (Wine's event log keeps nothing). Unit tests only: the
// sink lives in the product code.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "common/EventLogSink.h"

namespace vpltest {

class EventLogCapture {
 public:
  struct Entry {
    WORD type;
    DWORD eventId;
    std::string text;  // the first insertion string
  };

  EventLogCapture() {
    {
      std::lock_guard<std::mutex> lock(Mutex());
      Captured().clear();
    }
    SetEventLogSinkForTesting(&Capture);
  }
  ~EventLogCapture() { SetEventLogSinkForTesting(nullptr); }
  EventLogCapture(const EventLogCapture&) = delete;
  EventLogCapture& operator=(const EventLogCapture&) = delete;

  static std::vector<Entry> Entries() {
    std::lock_guard<std::mutex> lock(Mutex());
    return Captured();
  }
  // The first insertion strings alone, in order.
  static std::vector<std::string> Texts() {
    std::vector<std::string> texts;
    for (const Entry& entry : Entries()) texts.push_back(entry.text);
    return texts;
  }

 private:
  static void Capture(WORD type, DWORD eventId,
                      const char* const insertions[3]) {
    std::lock_guard<std::mutex> lock(Mutex());
    Captured().push_back({type, eventId, insertions[0]});
  }
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }
  static std::vector<Entry>& Captured() {
    static std::vector<Entry> entries;
    return entries;
  }
};

}  // namespace vpltest

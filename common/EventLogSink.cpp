#include "common/EventLogSink.h"

#include <atomic>

namespace {

std::atomic<EventLogSink> g_sink{nullptr};

}  // namespace

void SetEventLogSinkForTesting(EventLogSink sink) { g_sink.store(sink); }

bool DeliverToEventLogSink(WORD type, DWORD eventId, const char* insertion1,
                           const char* insertion2, const char* insertion3) {
  const EventLogSink sink = g_sink.load();
  if (!sink) return false;
  const char* const insertions[3] = {insertion1 ? insertion1 : "",
                                     insertion2 ? insertion2 : "",
                                     insertion3 ? insertion3 : ""};
  sink(type, eventId, insertions);
  return true;
}

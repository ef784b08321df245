// The plug-in's record of its decisions, written beside its settings for
// administrators and fleet inventory to read (common/DecisionStore.h).
//
// Recording never holds up the decision: Record only queues the entry and
// returns, and one writer on the system thread pool writes the queue in
// order, so a question waits for no registry write, its own or another's.
// A consecutive identical decision updates the newest entry (last time and
// count) instead of adding one; at most 64 entries are kept. A write that
// fails is logged once and the entry dropped; the next failure after a
// success is logged again. "RecordDecisions" (REG_DWORD, policy overlay,
// default 1) at 0 drops every entry.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include "common/DecisionEntry.h"

namespace NTarn {

class DecisionRecord {
 public:
  // The record of this process: every plug-in object in it shares the one
  // writer, so entries from all of them coalesce and prune in one order.
  // Null when the writer cannot be made (out of resources).
  static std::shared_ptr<DecisionRecord> ForThisProcess();

  DecisionRecord(const DecisionRecord&) = delete;
  DecisionRecord& operator=(const DecisionRecord&) = delete;
  // Writes what is still queued before it returns.
  ~DecisionRecord();

  // Queues `entry`; never blocks on a write. An entry that cannot be
  // queued (out of memory) is dropped.
  void Record(DecisionEntry entry) noexcept;
  // Returns once every entry queued before the call is written.
  void Flush() noexcept;

 private:
  DecisionRecord();

  static void CALLBACK WriteQueued(PTP_CALLBACK_INSTANCE instance,
                                   void* context, PTP_WORK work);
  // On the writer: one entry, coalesced or added, then pruned.
  void Write(DecisionEntry& entry);
  LSTATUS Store(HKEY decisions, DecisionEntry& entry);
  void Report(LSTATUS status);

  // Taken only to move entries into and out of the queue.
  std::mutex m_queueLock;
  std::deque<DecisionEntry> m_queue;
  bool m_writing = false;
  const PTP_WORK m_work;

  // The writer's own state: only one writer runs at a time.
  bool m_newestRead = false;
  std::optional<DecisionEntry> m_newest;
  bool m_failureLogged = false;
};

}  // namespace NTarn

#include "common/DecisionRecord.h"

#include <utility>

#include "common/DecisionStore.h"
#include "common/Logging.h"
#include "common/RegistryParameters.h"
#include "common/ScopedHandle.h"

namespace NTarn {
namespace {

constexpr char kSettingsKey[] = "Software\\Tarn\\Vesperline";

bool RecordingOn() {
  DWORD record = 1;
  RegGetPolicyParameter(HKEY_LOCAL_MACHINE, kSettingsKey, "RecordDecisions",
                        REG_DWORD, &record, sizeof(record),
                        reg_flags::kReadOnly | reg_flags::kKeepDefault);
  return record != 0;
}

}  // namespace

std::shared_ptr<DecisionRecord> DecisionRecord::ForThisProcess() {
  static std::mutex lock;
  static std::weak_ptr<DecisionRecord> current;
  std::lock_guard guard(lock);
  std::shared_ptr<DecisionRecord> record = current.lock();
  if (record) return record;
  try {
    record.reset(new DecisionRecord());
  } catch (...) {
    return nullptr;
  }
  // Without its writer nothing is recorded.
  if (!record->m_work) return nullptr;
  current = record;
  return record;
}

DecisionRecord::DecisionRecord()
    : m_work(::CreateThreadpoolWork(&WriteQueued, this, nullptr)) {}

DecisionRecord::~DecisionRecord() {
  if (!m_work) return;
  Flush();
  ::CloseThreadpoolWork(m_work);
}

void DecisionRecord::Record(DecisionEntry entry) noexcept {
  try {
    std::lock_guard guard(m_queueLock);
    m_queue.push_back(std::move(entry));
    if (m_writing) return;
    m_writing = true;
    ::SubmitThreadpoolWork(m_work);
  } catch (...) {
    // Dropped: the record never costs an answer.
  }
}

void DecisionRecord::Flush() noexcept {
  ::WaitForThreadpoolWorkCallbacks(m_work, FALSE);
}

void CALLBACK DecisionRecord::WriteQueued(PTP_CALLBACK_INSTANCE, void* context,
                                          PTP_WORK) {
  auto* record = static_cast<DecisionRecord*>(context);
  for (;;) {
    DecisionEntry entry;
    {
      std::lock_guard guard(record->m_queueLock);
      if (record->m_queue.empty()) {
        record->m_writing = false;
        return;
      }
      entry = std::move(record->m_queue.front());
      record->m_queue.pop_front();
    }
    try {
      record->Write(entry);
    } catch (...) {
      // Out of memory on the way: that entry is lost, the next is written.
    }
  }
}

void DecisionRecord::Write(DecisionEntry& entry) {
  if (!RecordingOn()) return;
  // Created when missing, with the security its parent passes on; an
  // existing key keeps its own.
  ScopedRegKey decisions;
  LSTATUS status = ::RegCreateKeyExA(
      HKEY_LOCAL_MACHINE, decision_store::kDecisionsKey, 0, nullptr,
      REG_OPTION_NON_VOLATILE, KEY_READ | KEY_CREATE_SUB_KEY, nullptr,
      decisions.Receive(), nullptr);
  if (status == ERROR_SUCCESS) status = Store(decisions.Get(), entry);
  Report(status);
}

LSTATUS DecisionRecord::Store(HKEY decisions, DecisionEntry& entry) {
  if (!m_newestRead) {
    // Coalescing goes on from the newest entry a previous run left.
    std::vector<DecisionEntry> stored = ReadDecisionEntries(decisions);
    if (!stored.empty()) m_newest = std::move(stored.back());
    m_newestRead = true;
  }
  if (m_newest && m_newest->SameDecisionAs(entry)) {
    DecisionEntry updated = *m_newest;
    updated.lastTime = entry.lastTime;
    const DWORD count = updated.count.value_or(1);
    updated.count = count == MAXDWORD ? count : count + 1;
    const LSTATUS status = UpdateDecisionEntry(decisions, updated);
    if (status == ERROR_SUCCESS) {
      m_newest = std::move(updated);
      return status;
    }
    // A pruned or removed entry: the decision starts a new one.
    if (status != ERROR_FILE_NOT_FOUND) return status;
  }
  const LSTATUS status = AddDecisionEntry(decisions, entry);
  if (status != ERROR_SUCCESS) return status;
  m_newest = entry;
  return PruneDecisionEntries(decisions, decision_store::kMaxEntries);
}

void DecisionRecord::Report(LSTATUS status) {
  if (status == ERROR_SUCCESS) {
    m_failureLogged = false;
    return;
  }
  if (m_failureLogged) return;
  m_failureLogged = true;
  LogMessage("%T: Could not record the decision under HKLM\\%s: %s\n",
             decision_store::kDecisionsKey,
             FormatErrorText(static_cast<DWORD>(status)));
}

}  // namespace NTarn

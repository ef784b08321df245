#include "common/wmi/WbemQuestion.h"

#include <algorithm>
#include <atomic>

#include "common/Logging.h"
#include "common/wmi/WbemTimeout.h"

namespace NTarn {

namespace {

std::atomic<DWORD> g_budgetMs{kQuestionBudgetMs};
// The question this thread asks, if any; its walks and waits live below it on
// the same thread.
thread_local WbemQuestion::State* t_question = nullptr;

}  // namespace

WbemQuestion::WbemQuestion(const char* name) {
  if (t_question) return;
  m_state.name = name;
  m_state.end = ::GetTickCount64() + g_budgetMs.load();
  m_owner = true;
  t_question = &m_state;
}

WbemQuestion::~WbemQuestion() {
  if (!m_owner) return;
  t_question = nullptr;
  if (m_state.refused) {
    LogMessage(
        "%T: %s answered at once: a connection to WMI from an earlier "
        "question has not returned\n",
        m_state.name);
  } else if (m_state.ranOutIn) {
    LogMessage(
        "%T: %s ran out of time in %s and answers as if its query had "
        "failed\n",
        m_state.name, m_state.ranOutIn);
  }
}

DWORD WbemQuestion::ReplaceBudgetForTesting(DWORD milliseconds) {
  return g_budgetMs.exchange(milliseconds);
}

WbemWalk::WbemWalk(const char* name) {
  if (!t_question) return;
  m_outer = t_question->walk;
  t_question->walk = name;
}

WbemWalk::~WbemWalk() {
  if (m_outer && t_question) t_question->walk = m_outer;
}

DWORD WbemWaitMs() {
  const WbemQuestion::State* question = t_question;
  if (!question) return kWbemCallTimeoutMs;
  if (question->ranOutIn || question->refused) return 0;
  const ULONGLONG now = ::GetTickCount64();
  if (now >= question->end) return 0;
  return static_cast<DWORD>(
      std::min<ULONGLONG>(kWbemCallTimeoutMs, question->end - now));
}

bool WbemQuestionIsOver() {
  const WbemQuestion::State* question = t_question;
  return question && (question->ranOutIn || question->refused);
}

void NoteWbemWaitTimedOut(DWORD waitMs) {
  WbemQuestion::State* question = t_question;
  if (question && !WbemQuestionIsOver() && waitMs < kWbemCallTimeoutMs)
    question->ranOutIn = question->walk;
}

void NoteWbemConnectTimedOut() {
  WbemQuestion::State* question = t_question;
  if (question && !WbemQuestionIsOver()) question->ranOutIn = question->walk;
}

void RefuseWbemQuestion() {
  WbemQuestion::State* question = t_question;
  if (question && !WbemQuestionIsOver()) question->refused = true;
}

}  // namespace NTarn

// One question's time for WMI. A question (the host's power-down question,
// the worker's refresh check) ends within its budget whatever WMI does: each
// wait for a provider takes the lesser of kWbemCallTimeoutMs and what is left
// of the budget, and a connection that does not answer in that time is left
// to a thread of its own (common/wmi/BoundedConnect.h). Once the time is up,
// each walk gives the answer a failed query of it gives, and the question
// logs one line naming the walk in which it ran out.
//
// The question is a scope object on the asking thread; the WMI layer and the
// walks below it ask after it through this thread's state, so that no
// signature has to carry it. Outside a question every wait takes the full
// per-call limit.
#pragma once

#include <windows.h>

namespace NTarn {

// The longest one question takes, connection included.
constexpr DWORD kQuestionBudgetMs = 60000;

class WbemQuestion {
 public:
  // Starts the question `name` (a literal) on this thread. Inside another
  // question it adds nothing: the outer one's time and line count.
  explicit WbemQuestion(const char* name);
  WbemQuestion(const WbemQuestion&) = delete;
  WbemQuestion& operator=(const WbemQuestion&) = delete;
  // Logs the question's one line when it ran out of time or was refused.
  ~WbemQuestion();

  // Replaces the budget of questions started later; returns the previous
  // one. Tests only, set while no question runs.
  static DWORD ReplaceBudgetForTesting(DWORD milliseconds);

  struct State {
    const char* name = nullptr;
    ULONGLONG end = 0;
    const char* walk = "its start";
    // Where the question ended early, when it did.
    const char* ranOutIn = nullptr;
    bool refused = false;
  };

 private:
  State m_state;
  // Whether this object started the thread's question.
  bool m_owner = false;
};

// Names the walk under way on this thread (a literal) while it lives, for the
// line of a question that runs out of time in it.
class WbemWalk {
 public:
  explicit WbemWalk(const char* name);
  WbemWalk(const WbemWalk&) = delete;
  WbemWalk& operator=(const WbemWalk&) = delete;
  ~WbemWalk();

 private:
  const char* m_outer = nullptr;
};

// How long the next wait for WMI on this thread may take: the lesser of
// kWbemCallTimeoutMs and what is left of the question's time; 0 once that is
// up.
DWORD WbemWaitMs();
// Whether this thread's question has ended early: its time is up, or it was
// refused. Its walks then give their safe answers without asking WMI.
bool WbemQuestionIsOver();
// A wait of `waitMs` (from WbemWaitMs) that came back without an answer:
// when that was all the question had left, it has run out of time in the
// walk under way. (Judged by the wait rather than by the clock, which a wait
// may leave a tick short of the end.)
void NoteWbemWaitTimedOut(DWORD waitMs);
// A connection that did not answer within its wait: the question cannot go
// on (later connections are refused while it is pending) and ends in the
// walk under way.
void NoteWbemConnectTimedOut();
// Ends this thread's question early without asking WMI: an earlier
// question's connection still has not returned.
void RefuseWbemQuestion();

}  // namespace NTarn

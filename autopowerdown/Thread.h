// An operating-system thread with a name, started on a virtual body.
//
// Controllers (host threads that start, probe and join) and the ending worker
// meet only under the object's lock: the worker marks its run as ended, and
// controllers share the thread handle, so that nobody waits on a handle that
// someone else has closed. A controller that waits holds its own share of the
// handle; the handle is closed when the last share goes.
//
// A running thread keeps what it executes: the library its code lives in (a
// reference of its own, given back as the thread's last act with
// FreeLibraryAndExitThread), the module's lock count, so that the library
// does not answer that it may unload, and, for an object owned through
// std::shared_ptr, the object itself. An owner may so let go of the object,
// and a host of the library, from inside a call the thread makes.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "common/CriticalSection.h"
#include "common/ScopedHandle.h"

class Thread : public std::enable_shared_from_this<Thread> {
 public:
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  // Does not wait for the thread: a derived class whose thread may still run
  // stops and joins it in its own destructor.
  virtual ~Thread();

  // Second construction step, for what can fail: the object is not used
  // unless this succeeds.
  HRESULT Initialize();

  // Launches the thread on Run. Refuses with 0x80070420 while a thread of
  // this object still runs, and with E_FAIL when no thread can be created.
  virtual HRESULT Start();
  // The thread's body; runs on the new thread.
  virtual unsigned Run() = 0;

  // Waits without a time limit for the thread to end and lets go of its
  // handle. Returns at once when there is no thread, and when called on the
  // thread itself (in its body, or as it lets go of the object after it),
  // which cannot wait for its own end.
  void Join();

  // Whether a thread of this object still runs its body and does not end
  // within `probeMilliseconds`. A thread whose body has returned reads as
  // not running.
  bool IsRunning(DWORD probeMilliseconds);

 protected:
  explicit Thread(std::string name);

  // What a start leaves for the caller to finish outside the lock.
  struct StartRecord {
    HANDLE handle = nullptr;
    unsigned threadId = 0;
    // The previous run's handle: its body has returned, its thread may still
    // be leaving.
    std::shared_ptr<NTarn::ScopedHandle> previous;
  };

  // The lock under which the running state changes; derived classes keep the
  // state that changes together with it under the same lock (it is
  // re-entrant).
  NTarn::CriticalSection& StateLock() { return m_lock; }

  // With StateLock() held: whether a thread runs its body, and whether the
  // caller is that thread.
  bool IsActiveLocked() const { return m_active; }
  bool IsOwnThreadLocked() const;
  // With StateLock() held: a controller has asked the running body to end,
  // so its end will be joined (and logged) even if it comes before the join.
  void ExpectJoinLocked() {
    if (m_active) m_joinExpected = true;
  }

  // With StateLock() held: starts the thread unless one still runs.
  HRESULT StartLocked(StartRecord* record);
  // Without the lock: waits for the previous run's thread to be gone and
  // logs the start.
  void FinishStart(StartRecord* record);

  // Called by StartLocked once it is certain to start a thread.
  virtual void PrepareRun() {}

 private:
  static unsigned __stdcall Trampoline(void* argument);
  // What the ending thread still holds once its run is marked as ended.
  struct RunHold {
    std::shared_ptr<Thread> self;
    HMODULE module = nullptr;
  };
  RunHold MarkRunEnded();

  NTarn::CriticalSection m_lock;
  std::shared_ptr<NTarn::ScopedHandle> m_handle;
  std::string m_name;
  unsigned m_threadId = 0;
  // From the start until the body returns.
  bool m_active = false;
  // This run's end is awaited by a controller.
  bool m_joinExpected = false;
  // What the running thread holds, from the start until its body returns.
  RunHold m_runHold;
};

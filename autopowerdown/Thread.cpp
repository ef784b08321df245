#include "autopowerdown/Thread.h"

#include <process.h>

#include <mutex>
#include <new>
#include <utility>

#include "common/CurrentModule.h"
#include "common/GuardedCall.h"
#include "common/Logging.h"
#include "common/com/ModuleLockCount.h"

Thread::Thread(std::string name) : m_name(std::move(name)) {}

Thread::~Thread() = default;

HRESULT Thread::Initialize() { return m_lock.Initialize(); }

HRESULT Thread::Start() {
  StartRecord record;
  HRESULT hr;
  {
    std::lock_guard<NTarn::CriticalSection> guard(m_lock);
    hr = StartLocked(&record);
  }
  if (SUCCEEDED(hr)) FinishStart(&record);
  return hr;
}

bool Thread::IsOwnThreadLocked() const {
  return m_active && m_threadId == ::GetCurrentThreadId();
}

HRESULT Thread::StartLocked(StartRecord* record) {
  if (m_active) return HRESULT_FROM_WIN32(ERROR_SERVICE_ALREADY_RUNNING);
  // The holder is made first: once the thread exists nothing may fail.
  std::shared_ptr<NTarn::ScopedHandle> holder;
  try {
    holder = std::make_shared<NTarn::ScopedHandle>();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  // Taken for the thread before it exists, so that no instruction of it runs
  // without them.
  RunHold hold{weak_from_this().lock(), NTarn::ReferenceCurrentModule()};
  if (!hold.module) return HRESULT_FROM_WIN32(::GetLastError());
  PrepareRun();
  record->previous = std::move(m_handle);
  m_joinExpected = false;
  // Active before the thread exists, so that a body that returns at once
  // finds its run to end.
  m_active = true;
  m_runHold = std::move(hold);
  NTarn::ModuleLocks().Lock();
  unsigned threadId = 0;
  const uintptr_t handle =
      ::_beginthreadex(nullptr, 0, &Trampoline, this, 0, &threadId);
  if (handle == 0) {
    m_active = false;
    NTarn::ModuleLocks().Unlock();
    ::FreeLibrary(m_runHold.module);
    m_runHold = RunHold();
    return E_FAIL;
  }
  holder->Reset(reinterpret_cast<HANDLE>(handle));
  m_handle = std::move(holder);
  m_threadId = threadId;
  record->handle = m_handle->Get();
  record->threadId = threadId;
  return S_OK;
}

void Thread::FinishStart(StartRecord* record) {
  // The previous body has returned; its thread is leaving this module's code
  // and is gone before its handle is let go.
  if (record->previous && record->previous->IsValid()) {
    ::WaitForSingleObject(record->previous->Get(), INFINITE);
  }
  record->previous.reset();
  if (NTarn::IsDebugFlagSet(NTarn::debug_flags::kThreadLifetime)) {
    NTarn::LogMessage(
        "%T: Thread Name='%s', Handle=%08lx, Id=%d started\n", m_name.c_str(),
        static_cast<unsigned long>(reinterpret_cast<uintptr_t>(record->handle)),
        record->threadId);
  }
}

void Thread::Join() {
  std::shared_ptr<NTarn::ScopedHandle> handle;
  bool wasRunning = false;
  unsigned threadId = 0;
  // An object whose second construction step failed never had a thread.
  if (!m_lock.IsInitialized()) return;
  {
    std::lock_guard<NTarn::CriticalSection> guard(m_lock);
    if (!m_handle) return;
    // The thread's own handle is unsignalled until it has ended.
    if (m_threadId == ::GetCurrentThreadId() &&
        ::WaitForSingleObject(m_handle->Get(), 0) == WAIT_TIMEOUT) {
      return;
    }
    handle = m_handle;
    wasRunning = m_active || m_joinExpected;
    threadId = m_threadId;
  }
  ::WaitForSingleObject(handle->Get(), INFINITE);
  bool ended = false;
  {
    // The first controller back lets go of the handle; a newer run's handle
    // is not this one's to touch.
    std::lock_guard<NTarn::CriticalSection> guard(m_lock);
    if (m_handle == handle) {
      m_handle.reset();
      ended = wasRunning;
    }
  }
  if (ended && NTarn::IsDebugFlagSet(NTarn::debug_flags::kThreadLifetime)) {
    NTarn::LogMessage(
        "%T: Thread Name='%s', Handle=%08lx, Id=%d ended\n", m_name.c_str(),
        static_cast<unsigned long>(reinterpret_cast<uintptr_t>(handle->Get())),
        threadId);
  }
}

bool Thread::IsRunning(DWORD probeMilliseconds) {
  std::shared_ptr<NTarn::ScopedHandle> handle;
  {
    std::lock_guard<NTarn::CriticalSection> guard(m_lock);
    if (!m_active || !m_handle) return false;
    handle = m_handle;
  }
  if (::WaitForSingleObject(handle->Get(), probeMilliseconds) != WAIT_TIMEOUT) {
    return false;
  }
  std::lock_guard<NTarn::CriticalSection> guard(m_lock);
  return m_active;
}

Thread::RunHold Thread::MarkRunEnded() {
  std::lock_guard<NTarn::CriticalSection> guard(m_lock);
  m_active = false;
  return std::exchange(m_runHold, RunHold());
}

unsigned __stdcall Thread::Trampoline(void* argument) {
  auto* self = static_cast<Thread*>(argument);
  const unsigned result =
      NTarn::GuardedCall(NTarn::CallSite{".\\Thread", __LINE__}, 0u,
                         [self] { return self->Run(); });
  // Nothing of the object is touched after the run is marked as ended: the
  // last owner may be this thread, letting go of it here.
  RunHold hold = self->MarkRunEnded();
  hold.self.reset();
  NTarn::ModuleLocks().Unlock();
  // The library may be unloaded by this call; the thread does not return
  // into it.
  ::FreeLibraryAndExitThread(hold.module, result);
  return result;
}

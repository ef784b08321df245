#include "autopowerdown/StoppableThread.h"

#include <mutex>
#include <utility>

StoppableThread::StoppableThread(std::string name) : Thread(std::move(name)) {}

StoppableThread::~StoppableThread() = default;

HRESULT StoppableThread::Initialize() {
  const HRESULT hr = Thread::Initialize();
  if (FAILED(hr)) return hr;
  m_stopEvent.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!m_stopEvent) return HRESULT_FROM_WIN32(::GetLastError());
  return S_OK;
}

void StoppableThread::RequestStop() {
  // Without its event the object never started a thread.
  if (!m_stopEvent) return;
  {
    std::lock_guard<NTarn::CriticalSection> guard(StateLock());
    ExpectJoinLocked();
  }
  ::SetEvent(m_stopEvent.Get());
}

void StoppableThread::StopAndJoin() {
  RequestStop();
  Join();
}

void StoppableThread::PrepareRun() { ::ResetEvent(m_stopEvent.Get()); }

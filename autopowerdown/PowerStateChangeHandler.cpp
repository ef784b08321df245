#include "autopowerdown/PowerStateChangeHandler.h"

#include <mutex>

#include "autopowerdown/AutoshutdownThread.h"

STDMETHODIMP PowerStateChangeHandler::OnPowerStateChange(LONG powerState) {
  std::shared_ptr<AutoshutdownThread> thread;
  int powerDownType;
  {
    std::lock_guard guard(*this);
    thread = m_thread.lock();
    if (!thread) return E_POINTER;
    if (powerState == kStateAfterType5) m_rememberedPowerDownType = 5;
    if (powerState == kStateAfterType4) m_rememberedPowerDownType = 4;
    powerDownType = m_rememberedPowerDownType;
  }
  if (powerState == kStatePoweredDown) {
    thread->StopAndSetPowerDownType(powerDownType);
  }
  return S_OK;
}

HRESULT PowerStateChangeHandler::AttachThread(
    const std::shared_ptr<AutoshutdownThread>& thread) {
  if (!thread) return E_POINTER;
  std::lock_guard guard(*this);
  m_thread = thread;
  return S_OK;
}

void PowerStateChangeHandler::DetachThread() {
  std::lock_guard guard(*this);
  m_thread.reset();
}

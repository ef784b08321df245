#include "tests/simclient/SimState.h"

#include <oleauto.h>
#include <wbemcli.h>

#include <cstdio>

#include "tests/simclient/SimComObject.h"

namespace vpltest::sim {

std::atomic<long>& LiveObjectCounter() {
  static std::atomic<long> counter{0};
  return counter;
}

void SimState::SetErrorObject(const std::wstring& description) {
  Microsoft::WRL::ComPtr<ICreateErrorInfo> create;
  if (FAILED(::CreateErrorInfo(&create))) return;
  create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
  create->SetSource(const_cast<LPOLESTR>(L"Simulated WMI"));
  Microsoft::WRL::ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create.As(&info))) ::SetErrorInfo(0, info.Get());
}

std::optional<InjectedFailure> SimState::Enter(SimMethod method,
                                               bool deferError) {
  std::optional<InjectedFailure> result;
  DWORD cost = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (method == SimMethod::kConnectServer ||
        method == SimMethod::kExecQuery || method == SimMethod::kGetObject) {
      cost = m_callCostMs;
    }
    const int call = ++m_counts[static_cast<int>(method)];
    for (const InjectedFailure& failure : m_failures) {
      if (failure.method == method &&
          (failure.call == 0 || failure.call == call)) {
        result = failure;
        break;
      }
    }
  }
  if (cost) SpendCallCost(cost);
  if (result && !deferError && !result->description.empty()) {
    SetErrorObject(result->description);
  }
  return result;
}

// Slept, not spun: the model stands for waiting on another process, which
// leaves the processor to others.
void SimState::SpendCallCost(DWORD milliseconds) { ::Sleep(milliseconds); }

void SimState::Wait(DWORD simulatedMs) {
  unsigned scale;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_waitedMs += simulatedMs;
    scale = m_timeScale;
  }
  ::Sleep(simulatedMs / scale);
}

void SimState::SetTimeScale(unsigned scale) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_timeScale = scale ? scale : 1;
}

void SimState::SetCallCost(DWORD milliseconds) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_callCostMs = milliseconds;
}

void SimState::SetObjectDelay(DWORD milliseconds) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_objectDelayMs = milliseconds;
}

DWORD SimState::ObjectDelay() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_objectDelayMs;
}

DWORD SimState::WaitedMs() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_waitedMs;
}

bool DeferredAnswer::Await(SimState& state, LONG timeoutMs) {
  if (m_remainingMs == 0) return true;
  const DWORD timeout = static_cast<DWORD>(timeoutMs);
  if (timeout != WBEM_INFINITE && timeout < m_remainingMs) {
    state.Wait(timeout);
    m_remainingMs -= timeout;
    return false;
  }
  state.Wait(m_remainingMs);
  m_remainingMs = 0;
  return true;
}

HRESULT DeferredAnswer::Failure() const {
  if (FAILED(m_failure) && !m_description.empty())
    SimState::SetErrorObject(m_description);
  return m_failure;
}

void SimState::AddFailure(const InjectedFailure& failure) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_failures.push_back(failure);
}

int SimState::CallCount(SimMethod method) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_counts[static_cast<int>(method)];
}

Recorded SimState::GetRecorded() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_recorded;
}

void SimState::SetStatusText(HRESULT hr, const std::wstring& text) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_statusTexts[hr] = text;
}

std::wstring SimState::StatusText(HRESULT hr) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  const auto found = m_statusTexts.find(hr);
  if (found != m_statusTexts.end()) return found->second;
  wchar_t text[64];
  swprintf(text, 64, L"Simulated WMI status 0x%08lX",
           static_cast<unsigned long>(hr));
  return text;
}

void SimState::SetPlatformLocatorFactory(IClassFactory* factory) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_platformLocatorFactory = factory;
}

Microsoft::WRL::ComPtr<IClassFactory> SimState::PlatformLocatorFactory() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_platformLocatorFactory;
}

}  // namespace vpltest::sim

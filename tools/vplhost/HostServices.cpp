#include "tools/vplhost/HostServices.h"

#include <cstdarg>
#include <cstdio>

#include "tools/vplhost/RunReport.h"

namespace vplhost {
namespace {

// The host's own lines go where the run's report sends them.
void HostLine(const char* format, ...) {
  va_list args;
  va_start(args, format);
  if (RunReport* report = RunReport::Current()) {
    report->LineV(format, args);
  } else {
    vprintf(format, args);
  }
  va_end(args);
}

}  // namespace

STDMETHODIMP PowerDownProvider::RequestPowerDown(IPowerDownContext* context) {
  HostLine("host: power-down requested (context %p)\n",
           static_cast<void*>(context));
  return S_OK;
}

STDMETHODIMP PowerDownProvider::RegisterObserver(IPowerDownObserver* observer) {
  if (!observer) return E_POINTER;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_observers.emplace_back(observer);
  HostLine("host: power-down observer registered\n");
  return S_OK;
}

STDMETHODIMP PowerDownProvider::WithdrawRequest(IPowerDownContext* context) {
  HostLine("host: power-down request withdrawn (context %p)\n",
           static_cast<void*>(context));
  return S_OK;
}

std::vector<ComPtr<IPowerDownObserver>> PowerDownProvider::Observers() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_observers;
}

void PowerDownProvider::ReleaseAll() {
  std::vector<ComPtr<IPowerDownObserver>> observers;
  std::lock_guard<std::mutex> lock(m_mutex);
  observers.swap(m_observers);
}

STDMETHODIMP EventBroker::Subscribe(REFGUID eventId, IUnknown* handler) {
  if (!handler) return E_POINTER;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_subscriptions.push_back({eventId, handler});
  HostLine("host: %s handler subscribed\n",
           eventId == EVENTID_Autoshutdown       ? "auto-shutdown"
           : eventId == EVENTID_PowerStateChange ? "power-state-change"
                                                 : "unknown event");
  return S_OK;
}

HRESULT EventBroker::RaiseAutoshutdown() {
  std::vector<ComPtr<IUnknown>> handlers;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& subscription : m_subscriptions) {
      if (subscription.eventId == EVENTID_Autoshutdown) {
        handlers.push_back(subscription.handler);
      }
    }
  }
  HRESULT hr = S_OK;
  for (const auto& handler : handlers) {
    hr = static_cast<IAutoshutdownEvent*>(handler.Get())->OnAutoshutdown();
  }
  return hr;
}

void EventBroker::ReleaseAll() {
  std::vector<Subscription> subscriptions;
  std::lock_guard<std::mutex> lock(m_mutex);
  subscriptions.swap(m_subscriptions);
}

STDMETHODIMP TimeSinceLastInputProvider::GetTimeSinceLastInput(
    DWORD* milliseconds) {
  if (!milliseconds) return E_POINTER;
  if (m_stated) {
    *milliseconds = *m_stated;
    return S_OK;
  }
  LASTINPUTINFO info{sizeof(info), 0};
  if (!::GetLastInputInfo(&info)) return HRESULT_FROM_WIN32(::GetLastError());
  *milliseconds = ::GetTickCount() - info.dwTime;
  return S_OK;
}

ServiceProvider::ServiceProvider(PowerDownProvider* powerDown,
                                 EventBroker* broker,
                                 TimeSinceLastInputProvider* idle)
    : m_powerDown(powerDown), m_broker(broker), m_idle(idle) {}

STDMETHODIMP ServiceProvider::QueryService(REFGUID service, REFIID riid,
                                           void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (service == SID_PowerDownProvider) {
    return m_powerDown->QueryInterface(riid, ppv);
  }
  if (service == SID_EventBroker) return m_broker->QueryInterface(riid, ppv);
  if (service == SID_TimeSinceLastInputProvider) {
    return m_idle->QueryInterface(riid, ppv);
  }
  return E_NOINTERFACE;
}

}  // namespace vplhost

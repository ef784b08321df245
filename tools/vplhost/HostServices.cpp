#include "tools/vplhost/HostServices.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "common/ScopedBstr.h"
#include "tools/vplhost/ConsoleText.h"
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

const char* LogoffActionName(int action) {
  switch (action) {
    case 0:
      return "NEVER";
    case 1:
      return "PASSIVE";
    case 2:
      return "ACTIVE";
    case 3:
      return "FORCE";
  }
  return "unknown";
}

// Everything the context offers about a request, as the host would show it
// to the logged-on users and in its own log.
void PrintRequest(int number, IPowerDownContext* context) {
  int type = 0;
  int action = 0;
  int countdown = 0;
  int outcome = 0;
  short flagA = 0;
  short flagB = 0;
  context->GetPowerDownType(&type);
  context->GetLogoffAction(&action);
  context->GetCountdownSecs(&countdown);
  context->GetOutcome(&outcome);
  context->GetFlagA(&flagA);
  context->GetFlagB(&flagB);
  NTarn::ScopedBstr message;
  const bool hasMessage = SUCCEEDED(context->GetMessage(message.Receive()));
  HostLine(
      "host: power-down request %d: type %d (%s), logoff action %d (%s), "
      "count-down %d s, flags A %d and B %d, outcome %d\n",
      number, type, PowerDownTypeName(type), action, LogoffActionName(action),
      countdown, static_cast<int>(flagA), static_cast<int>(flagB), outcome);
  HostLine("host:   message %s%s%s\n", hasMessage ? "\"" : "",
           hasMessage ? Narrow(message.Get()).c_str() : "(none)",
           hasMessage ? "\"" : "");
  // The request is lent, not given: no reference to release.
  IPowerDownRequest* request = nullptr;
  if (FAILED(context->GetRequest(&request)) || !request) return;
  NTarn::ScopedBstr name;
  int retry = 0;
  VARIANT_BOOL last = VARIANT_FALSE;
  request->GetName(name.Receive());
  request->GetRetryCount(&retry);
  request->IsLastAttempt(&last);
  HostLine("host:   request \"%s\", attempts before this one %d%s\n",
           name.Get() ? Narrow(name.Get()).c_str() : "", retry,
           last == VARIANT_TRUE ? ", the last attempt" : "");
}

}  // namespace

const char* PowerDownTypeName(int type) {
  switch (type) {
    case kPowerDownShutDown:
      return "shut down";
    case kPowerDownSleep:
      return "sleep";
    case kPowerDownHibernate:
      return "hibernate";
  }
  return "unknown";
}

const char* PowerStateName(LONG state) {
  switch (state) {
    case kPowerStateOnAc:
      return "on AC power";
    case kPowerStateOnBattery:
      return "on battery";
    case kPowerStateHibernating:
      return "hibernating";
    case kPowerStateSleeping:
      return "going to sleep";
    case kPowerStateResumed:
      return "resumed";
  }
  return "unknown";
}

STDMETHODIMP PowerDownProvider::RequestPowerDown(IPowerDownContext* context) {
  if (!context) return E_POINTER;
  int number = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    number = ++m_requestCount;
  }
  // Shown before it is marked, so that what the plug-in filled in is seen.
  PrintRequest(number, context);
  AskObservers();
  context->MarkInProgress();
  ComPtr<IPowerDownContext> previous;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    previous = std::move(m_open);
    m_open = context;
  }
  HostLine("host:   answer with \"complete\" or \"cancel\"\n");
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
  ComPtr<IPowerDownContext> withdrawn;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (context && m_open.Get() == context) withdrawn = std::move(m_open);
  }
  HostLine("host: power-down request withdrawn%s\n",
           withdrawn ? "" : " (not open)");
  return S_OK;
}

// As the host does before it powers down; the administrator, who plays the
// host, weighs the answers.
void PowerDownProvider::AskObservers() {
  for (const ComPtr<IPowerDownObserver>& observer : Observers()) {
    PowerDownResponse response = PowerDownResponse_NoObjection;
    NTarn::ScopedBstr reason;
    const HRESULT hr = observer->QueryPowerDown(
        static_cast<IPowerDownProvider*>(this), &response, reason.Receive());
    if (FAILED(hr)) {
      HostLine("host:   an observer's QueryPowerDown failed: 0x%08lx\n",
               static_cast<unsigned long>(hr));
    } else if (response == PowerDownResponse_Objection) {
      HostLine("host:   an observer objects: \"%s\"\n",
               reason.Get() ? Narrow(reason.Get()).c_str() : "");
    } else {
      HostLine("host:   an observer has no objection\n");
    }
  }
}

ComPtr<IPowerDownContext> PowerDownProvider::OpenRequest() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_open;
}

ComPtr<IPowerDownContext> PowerDownProvider::TakeOpenRequest() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return std::move(m_open);
}

int PowerDownProvider::RequestCount() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_requestCount;
}

std::vector<ComPtr<IPowerDownObserver>> PowerDownProvider::Observers() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_observers;
}

void PowerDownProvider::ReleaseAll() {
  std::vector<ComPtr<IPowerDownObserver>> observers;
  ComPtr<IPowerDownContext> open;
  std::lock_guard<std::mutex> lock(m_mutex);
  observers.swap(m_observers);
  open = std::move(m_open);
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

std::vector<ComPtr<IUnknown>> EventBroker::Handlers(REFGUID eventId) {
  std::vector<ComPtr<IUnknown>> handlers;
  std::lock_guard<std::mutex> lock(m_mutex);
  for (const auto& subscription : m_subscriptions) {
    if (subscription.eventId == eventId) {
      handlers.push_back(subscription.handler);
    }
  }
  return handlers;
}

// The subscribed pointer is the event's own interface; the host calls its
// slot 3 without asking for it again.
HRESULT EventBroker::RaiseAutoshutdown() {
  HRESULT hr = S_OK;
  for (const auto& handler : Handlers(EVENTID_Autoshutdown)) {
    hr = static_cast<IAutoshutdownEvent*>(handler.Get())->OnAutoshutdown();
  }
  return hr;
}

HRESULT EventBroker::RaisePowerStateChange(LONG state) {
  HRESULT hr = S_OK;
  for (const auto& handler : Handlers(EVENTID_PowerStateChange)) {
    hr = static_cast<IPowerStateChangeEvent*>(handler.Get())
             ->OnPowerStateChange(state);
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
  if (m_inputReported.load()) {
    *milliseconds = static_cast<DWORD>(::GetTickCount64() - m_inputTick.load());
    return S_OK;
  }
  if (m_stated) {
    *milliseconds = *m_stated;
    return S_OK;
  }
  LASTINPUTINFO info{sizeof(info), 0};
  if (!::GetLastInputInfo(&info)) return HRESULT_FROM_WIN32(::GetLastError());
  *milliseconds = ::GetTickCount() - info.dwTime;
  return S_OK;
}

void TimeSinceLastInputProvider::ReportInput() {
  m_inputTick.store(::GetTickCount64());
  m_inputReported.store(true);
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

#include "tests/support/HostDoubles.h"

namespace vpltest {

// --- FakeServiceProvider ---------------------------------------------------

void FakeServiceProvider::Offer(REFGUID service, IUnknown* object) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_entries.push_back({service, object, S_OK});
}

void FakeServiceProvider::Fail(REFGUID service, HRESULT failure) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_entries.push_back({service, nullptr, failure});
}

STDMETHODIMP FakeServiceProvider::QueryService(REFGUID service, REFIID riid,
                                               void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  ComPtr<IUnknown> object;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queried.push_back(service);
    // The latest offer or failure for a service wins.
    for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it) {
      if (it->service != service) continue;
      if (FAILED(it->failure)) return it->failure;
      object = it->object;
      break;
    }
  }
  if (!object) return E_NOINTERFACE;
  return object->QueryInterface(riid, ppv);
}

std::vector<GUID> FakeServiceProvider::QueriedServices() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_queried;
}

void FakeServiceProvider::ReleaseServices() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_entries.clear();
}

// --- FakePowerDownProvider -------------------------------------------------

HRESULT FakePowerDownProvider::Count(int slot) {
  std::lock_guard<std::mutex> lock(m_mutex);
  ++m_calls[slot];
  return m_results[slot];
}

STDMETHODIMP FakePowerDownProvider::RequestPowerDown(
    IPowerDownContext* context) {
  const HRESULT result = Count(3);
  std::function<void(IPowerDownContext*)> hook;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requested.emplace_back(context);
    hook = m_requestHook;
  }
  if (hook) hook(context);
  return result;
}

STDMETHODIMP FakePowerDownProvider::RegisterObserver(
    IPowerDownObserver* observer) {
  const HRESULT result = Count(5);
  std::lock_guard<std::mutex> lock(m_mutex);
  if (SUCCEEDED(result)) m_observers.emplace_back(observer);
  return result;
}

STDMETHODIMP FakePowerDownProvider::WithdrawRequest(
    IPowerDownContext* context) {
  const HRESULT result = Count(11);
  std::function<void(IPowerDownContext*)> hook;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_withdrawn.emplace_back(context);
    hook = m_withdrawHook;
  }
  if (hook) hook(context);
  return result;
}

void FakePowerDownProvider::SetResult(int slot, HRESULT result) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_results.at(slot) = result;
}

void FakePowerDownProvider::OnRequest(
    std::function<void(IPowerDownContext*)> hook) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_requestHook = std::move(hook);
}

void FakePowerDownProvider::OnWithdraw(
    std::function<void(IPowerDownContext*)> hook) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_withdrawHook = std::move(hook);
}

int FakePowerDownProvider::CallCount(int slot) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_calls.at(slot);
}

std::vector<ComPtr<IPowerDownObserver>> FakePowerDownProvider::Observers()
    const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_observers;
}

std::vector<ComPtr<IPowerDownContext>>
FakePowerDownProvider::RequestedContexts() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_requested;
}

std::vector<ComPtr<IPowerDownContext>>
FakePowerDownProvider::WithdrawnContexts() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_withdrawn;
}

void FakePowerDownProvider::ReleaseHeld() {
  std::vector<ComPtr<IPowerDownObserver>> observers;
  std::vector<ComPtr<IPowerDownContext>> requested;
  std::vector<ComPtr<IPowerDownContext>> withdrawn;
  std::function<void(IPowerDownContext*)> hook;
  {
    // Released outside the lock: a release may call back into the host.
    std::lock_guard<std::mutex> lock(m_mutex);
    hook.swap(m_requestHook);
    observers.swap(m_observers);
    requested.swap(m_requested);
    withdrawn.swap(m_withdrawn);
  }
}

// --- FakeEventBroker -------------------------------------------------------

STDMETHODIMP FakeEventBroker::Subscribe(REFGUID eventId, IUnknown* handler) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (FAILED(m_subscribeResult)) return m_subscribeResult;
  if (!handler) return E_POINTER;
  m_subscriptions.push_back({eventId, handler});
  return S_OK;
}

void FakeEventBroker::SetSubscribeResult(HRESULT result) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_subscribeResult = result;
}

int FakeEventBroker::SubscriptionCount(REFGUID eventId) const {
  return static_cast<int>(Handlers(eventId).size());
}

std::vector<ComPtr<IUnknown>> FakeEventBroker::Handlers(REFGUID eventId) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<ComPtr<IUnknown>> handlers;
  for (const auto& subscription : m_subscriptions) {
    if (subscription.eventId == eventId)
      handlers.push_back(subscription.handler);
  }
  return handlers;
}

// The subscribed pointer is the handler interface itself; the host calls its
// slot 3 directly.
HRESULT FakeEventBroker::FireAutoshutdown() {
  HRESULT result = S_OK;
  for (const auto& handler : Handlers(EVENTID_Autoshutdown)) {
    result = static_cast<IAutoshutdownEvent*>(handler.Get())->OnAutoshutdown();
  }
  return result;
}

HRESULT FakeEventBroker::FirePowerStateChange(LONG powerState) {
  HRESULT result = S_OK;
  for (const auto& handler : Handlers(EVENTID_PowerStateChange)) {
    result = static_cast<IPowerStateChangeEvent*>(handler.Get())
                 ->OnPowerStateChange(powerState);
  }
  return result;
}

void FakeEventBroker::ReleaseHeld() {
  std::vector<Subscription> subscriptions;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    subscriptions.swap(m_subscriptions);
  }
}

// --- FakeTimeSinceLastInputProvider ---------------------------------------

STDMETHODIMP FakeTimeSinceLastInputProvider::GetTimeSinceLastInput(
    DWORD* milliseconds) {
  if (!milliseconds) return E_POINTER;
  Answer answer;
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_calls;
    answer = m_answers.front();
    if (m_answers.size() > 1) m_answers.pop_front();
    hook = m_hook;
  }
  if (hook) hook();
  if (SUCCEEDED(answer.result)) *milliseconds = answer.milliseconds;
  return answer.result;
}

void FakeTimeSinceLastInputProvider::OnCall(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_hook = std::move(hook);
}

void FakeTimeSinceLastInputProvider::Script(std::vector<Answer> answers) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (answers.empty()) return;
  m_answers.assign(answers.begin(), answers.end());
}

int FakeTimeSinceLastInputProvider::CallCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_calls;
}

// --- FakeOuterObject -------------------------------------------------------

STDMETHODIMP FakeOuterObject::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown || riid == IID_IServiceProvider) {
    return FakeComObject::QueryInterface(riid, ppv);
  }
  if (!m_inner) return E_NOINTERFACE;
  return m_inner->QueryInterface(riid, ppv);
}

// --- FakeHost --------------------------------------------------------------

FakeHost::FakeHost(Offers offers)
    : serviceProvider(MakeFake<FakeServiceProvider>()),
      powerDownProvider(MakeFake<FakePowerDownProvider>()),
      eventBroker(MakeFake<FakeEventBroker>()),
      timeSinceLastInput(MakeFake<FakeTimeSinceLastInputProvider>()) {
  if (offers == Offers::NoServices) return;
  serviceProvider->Offer(SID_PowerDownProvider, powerDownProvider.Get());
  serviceProvider->Offer(SID_EventBroker, eventBroker.Get());
  serviceProvider->Offer(SID_TimeSinceLastInputProvider,
                         timeSinceLastInput.Get());
}

void FakeHost::ReleaseHeld() {
  powerDownProvider->ReleaseHeld();
  eventBroker->ReleaseHeld();
  serviceProvider->ReleaseServices();
}

bool FakeHost::OnlyTestReferencesRemain() const {
  return powerDownProvider->RefCount() == 1 && eventBroker->RefCount() == 1 &&
         timeSinceLastInput->RefCount() == 1 &&
         serviceProvider->RefCount() == 1;
}

}  // namespace vpltest

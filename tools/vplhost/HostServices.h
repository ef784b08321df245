// vplhost's own implementation of the host service's three services.
#pragma once

#include <windows.h>
#include <servprov.h>
#include <wrl/client.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

#include "contract/HostContract.h"

namespace vplhost {

using Microsoft::WRL::ComPtr;

// Plain reference counting shared by the host's objects.
template <typename Interface>
class HostObject : public Interface {
 public:
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != __uuidof(Interface)) {
      return E_NOINTERFACE;
    }
    *ppv = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHOD_(ULONG, AddRef)() override { return ++m_refCount; }
  STDMETHOD_(ULONG, Release)() override {
    const ULONG count = --m_refCount;
    if (count == 0) delete this;
    return count;
  }

 protected:
  virtual ~HostObject() = default;

 private:
  std::atomic<ULONG> m_refCount{0};
};

// vplhost's meaning of the codes that the plug-in passes on (power-down
// types) or reacts to (power states); the codes are the host's to define.
enum PowerDownType : int {
  kPowerDownShutDown = 1,
  kPowerDownSleep = 4,
  kPowerDownHibernate = 5,
};
enum PowerState : LONG {
  kPowerStateOnAc = 1,
  kPowerStateOnBattery = 2,
  kPowerStateHibernating = 3,
  kPowerStateSleeping = 4,
  // The machine is back from a power-down.
  kPowerStateResumed = 5,
};
const char* PowerDownTypeName(int type);
const char* PowerStateName(LONG state);

// Keeps registered observers and the power-down requests handed over,
// prints what the plug-in asks for and asks the observers about each
// request.
class PowerDownProvider final : public HostObject<IPowerDownProvider> {
 public:
  STDMETHOD(RequestPowerDown)(IPowerDownContext* context) override;
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  STDMETHOD(RegisterObserver)(IPowerDownObserver* observer) override;
  STDMETHOD(Reserved6)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved7)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved8)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved9)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved10)() override { return E_NOTIMPL; }
  STDMETHOD(WithdrawRequest)(IPowerDownContext* context) override;

  std::vector<ComPtr<IPowerDownObserver>> Observers();
  // The request most recently handed over and not yet answered or
  // withdrawn; null when there is none. Answering it forgets it.
  ComPtr<IPowerDownContext> OpenRequest();
  ComPtr<IPowerDownContext> TakeOpenRequest();
  int RequestCount();
  void ReleaseAll();

 private:
  void AskObservers();

  std::mutex m_mutex;
  std::vector<ComPtr<IPowerDownObserver>> m_observers;
  ComPtr<IPowerDownContext> m_open;
  int m_requestCount = 0;
};

// Keeps subscriptions so that events can be raised.
class EventBroker final : public HostObject<IEventBroker> {
 public:
  STDMETHOD(Subscribe)(REFGUID eventId, IUnknown* handler) override;

  HRESULT RaiseAutoshutdown();
  HRESULT RaisePowerStateChange(LONG state);
  void ReleaseAll();

 private:
  std::vector<ComPtr<IUnknown>> Handlers(REFGUID eventId);

  struct Subscription {
    GUID eventId;
    ComPtr<IUnknown> handler;
  };
  std::mutex m_mutex;
  std::vector<Subscription> m_subscriptions;
};

// The idle time of this session, or the one a scenario states; from a
// reported input on, the time since that input.
class TimeSinceLastInputProvider final
    : public HostObject<ITimeSinceLastInputProvider> {
 public:
  explicit TimeSinceLastInputProvider(std::optional<DWORD> stated)
      : m_stated(stated) {}
  STDMETHOD(GetTimeSinceLastInput)(DWORD* milliseconds) override;

  // A user touches the machine now.
  void ReportInput();

 private:
  const std::optional<DWORD> m_stated;
  std::atomic<bool> m_inputReported{false};
  std::atomic<ULONGLONG> m_inputTick{0};
};

class ServiceProvider final : public HostObject<IServiceProvider> {
 public:
  ServiceProvider(PowerDownProvider* powerDown, EventBroker* broker,
                  TimeSinceLastInputProvider* idle);
  STDMETHOD(QueryService)(REFGUID service, REFIID riid, void** ppv) override;

 private:
  ComPtr<PowerDownProvider> m_powerDown;
  ComPtr<EventBroker> m_broker;
  ComPtr<TimeSinceLastInputProvider> m_idle;
};

}  // namespace vplhost

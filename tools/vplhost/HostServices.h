// vplhost's own implementation of the host service's three services.
#pragma once

#include <windows.h>
#include <servprov.h>
#include <wrl/client.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

#include "plugin/HostContract.h"

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

// Keeps registered observers and logs what the plug-in asks for.
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
  void ReleaseAll();

 private:
  std::mutex m_mutex;
  std::vector<ComPtr<IPowerDownObserver>> m_observers;
};

// Keeps subscriptions so that events can be raised.
class EventBroker final : public HostObject<IEventBroker> {
 public:
  STDMETHOD(Subscribe)(REFGUID eventId, IUnknown* handler) override;

  HRESULT RaiseAutoshutdown();
  void ReleaseAll();

 private:
  struct Subscription {
    GUID eventId;
    ComPtr<IUnknown> handler;
  };
  std::mutex m_mutex;
  std::vector<Subscription> m_subscriptions;
};

// The idle time of this session, or the one a scenario states.
class TimeSinceLastInputProvider final
    : public HostObject<ITimeSinceLastInputProvider> {
 public:
  explicit TimeSinceLastInputProvider(std::optional<DWORD> stated)
      : m_stated(stated) {}
  STDMETHOD(GetTimeSinceLastInput)(DWORD* milliseconds) override;

 private:
  const std::optional<DWORD> m_stated;
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

// Test doubles of the host service: its service provider, its three services
// and the host's side of aggregation.
#pragma once

#include <windows.h>
#include <servprov.h>
#include <wrl/client.h>

#include <array>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "contract/HostContract.h"
#include "tests/support/FakeComObject.h"

namespace vpltest {

using Microsoft::WRL::ComPtr;

// Offers any subset of the host's services; each can fail with a chosen
// HRESULT. Records the service ids it is asked for.
class FakeServiceProvider final : public FakeComObject<IServiceProvider> {
 public:
  void Offer(REFGUID service, IUnknown* object);
  void Fail(REFGUID service, HRESULT failure);

  STDMETHOD(QueryService)(REFGUID service, REFIID riid, void** ppv) override;

  std::vector<GUID> QueriedServices() const;
  void ReleaseServices();

 private:
  struct Entry {
    GUID service;
    ComPtr<IUnknown> object;
    HRESULT failure;
  };
  mutable std::mutex m_mutex;
  std::vector<Entry> m_entries;
  std::vector<GUID> m_queried;
};

// Records what the plug-in asks of the power-down provider. Every slot is
// counted; the provider holds the observers and contexts it is given, as a
// host does, until ReleaseHeld().
class FakePowerDownProvider final : public FakeComObject<IPowerDownProvider> {
 public:
  static constexpr int kSlotCount = 12;

  STDMETHOD(RequestPowerDown)(IPowerDownContext* context) override;
  STDMETHOD(Reserved4)() override { return Count(4); }
  STDMETHOD(RegisterObserver)(IPowerDownObserver* observer) override;
  STDMETHOD(Reserved6)() override { return Count(6); }
  STDMETHOD(Reserved7)() override { return Count(7); }
  STDMETHOD(Reserved8)() override { return Count(8); }
  STDMETHOD(Reserved9)() override { return Count(9); }
  STDMETHOD(Reserved10)() override { return Count(10); }
  STDMETHOD(WithdrawRequest)(IPowerDownContext* context) override;

  // The result a slot returns from now on (S_OK by default).
  void SetResult(int slot, HRESULT result);
  // Runs inside every later RequestPowerDown, on the caller's thread, once
  // the call is recorded: a host that reports back or raises an event from
  // within the request.
  void OnRequest(std::function<void(IPowerDownContext* context)> hook);
  // Likewise inside every later WithdrawRequest.
  void OnWithdraw(std::function<void(IPowerDownContext* context)> hook);
  int CallCount(int slot) const;
  std::vector<ComPtr<IPowerDownObserver>> Observers() const;
  std::vector<ComPtr<IPowerDownContext>> RequestedContexts() const;
  std::vector<ComPtr<IPowerDownContext>> WithdrawnContexts() const;
  void ReleaseHeld();

 private:
  HRESULT Count(int slot);

  mutable std::mutex m_mutex;
  std::array<int, kSlotCount> m_calls{};
  std::array<HRESULT, kSlotCount> m_results{};
  std::vector<ComPtr<IPowerDownObserver>> m_observers;
  std::vector<ComPtr<IPowerDownContext>> m_requested;
  std::vector<ComPtr<IPowerDownContext>> m_withdrawn;
  std::function<void(IPowerDownContext*)> m_requestHook;
  std::function<void(IPowerDownContext*)> m_withdrawHook;
};

// Records subscriptions and fires the two events at the subscribed handlers
// through their slot 3, as the host does.
class FakeEventBroker final : public FakeComObject<IEventBroker> {
 public:
  STDMETHOD(Subscribe)(REFGUID eventId, IUnknown* handler) override;

  void SetSubscribeResult(HRESULT result);
  int SubscriptionCount(REFGUID eventId) const;
  // Calls every handler subscribed to the event; returns the last result.
  HRESULT FireAutoshutdown();
  HRESULT FirePowerStateChange(LONG powerState);
  void ReleaseHeld();

 private:
  std::vector<ComPtr<IUnknown>> Handlers(REFGUID eventId) const;

  struct Subscription {
    GUID eventId;
    ComPtr<IUnknown> handler;
  };
  mutable std::mutex m_mutex;
  HRESULT m_subscribeResult = S_OK;
  std::vector<Subscription> m_subscriptions;
};

// Answers GetTimeSinceLastInput from a script; the last answer repeats.
class FakeTimeSinceLastInputProvider final
    : public FakeComObject<ITimeSinceLastInputProvider> {
 public:
  struct Answer {
    HRESULT result;
    DWORD milliseconds;
  };

  STDMETHOD(GetTimeSinceLastInput)(DWORD* milliseconds) override;

  void Script(std::vector<Answer> answers);
  // Runs inside every later call, on the caller's thread, before it answers.
  void OnCall(std::function<void()> hook);
  int CallCount() const;

 private:
  mutable std::mutex m_mutex;
  std::function<void()> m_hook;
  std::deque<Answer> m_answers{{S_OK, 24 * 60 * 60 * 1000}};
  int m_calls = 0;
};

// The outer object of an aggregate: keeps the inner object's private
// IUnknown and hands every other interface on to it.
class FakeOuterObject final : public FakeComObject<IServiceProvider> {
 public:
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
  STDMETHOD(QueryService)(REFGUID, REFIID, void**) override {
    return E_NOTIMPL;
  }

  void SetInner(IUnknown* inner) { m_inner = inner; }
  IUnknown* Inner() const { return m_inner.Get(); }
  void ReleaseInner() { m_inner.Reset(); }

 private:
  ComPtr<IUnknown> m_inner;
};

// The host's three services behind one service provider.
struct FakeHost {
  enum class Offers { AllServices, NoServices };
  // With NoServices the provider offers nothing; tests offer what they need.
  explicit FakeHost(Offers offers = Offers::AllServices);

  ComPtr<FakeServiceProvider> serviceProvider;
  ComPtr<FakePowerDownProvider> powerDownProvider;
  ComPtr<FakeEventBroker> eventBroker;
  ComPtr<FakeTimeSinceLastInputProvider> timeSinceLastInput;

  // Lets go of everything the host holds: the plug-in's objects and the
  // service provider's offers.
  void ReleaseHeld();
  // Whether each double is referenced by the test alone.
  bool OnlyTestReferencesRemain() const;
};

}  // namespace vpltest

// Class object registered over a platform CLSID. Not counted among the live
// objects: the registration holds it for the simulation's lifetime.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <functional>
#include <memory>

#include "tests/simclient/SimMethod.h"
#include "tests/simclient/SimState.h"

namespace vpltest::sim {

class SimClassFactory : public IClassFactory {
 public:
  using Creator = std::function<IUnknown*(std::shared_ptr<SimState>)>;
  SimClassFactory(std::shared_ptr<SimState> state, SimMethod method,
                  Creator creator);

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;
  STDMETHOD(CreateInstance)(IUnknown* outer, REFIID riid, void** ppv) override;
  STDMETHOD(LockServer)(BOOL) override { return S_OK; }

 private:
  virtual ~SimClassFactory() = default;

  std::atomic<LONG> m_refCount{1};
  std::shared_ptr<SimState> m_state;
  SimMethod m_method;
  Creator m_creator;
};

}  // namespace vpltest::sim

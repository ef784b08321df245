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
#include "tests/support/FakeComObject.h"

namespace vpltest::sim {

// Registered for the whole life of a SimulatedClient, so it is not counted
// among the live objects that tests check.
class SimClassFactory : public FakeComObject<IClassFactory> {
 public:
  using Creator = std::function<IUnknown*(std::shared_ptr<SimState>)>;
  SimClassFactory(std::shared_ptr<SimState> state, SimMethod method,
                  Creator creator);

  STDMETHOD(CreateInstance)(IUnknown* outer, REFIID riid, void** ppv) override;
  STDMETHOD(LockServer)(BOOL) override { return S_OK; }

 private:
  ~SimClassFactory() override = default;

  std::shared_ptr<SimState> m_state;
  SimMethod m_method;
  Creator m_creator;
};

}  // namespace vpltest::sim

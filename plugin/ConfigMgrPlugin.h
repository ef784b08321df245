// The plug-in's one creatable object. Initialize wires the plug-in into the
// host; afterwards the host drives it through the call-back objects it
// registered.
#pragma once

#include <wrl/client.h>

#include "common/com/ComObject.h"
#include "contract/HostContract.h"

class CConfigMgrPlugin : public NTarn::ComObjectRoot, public IVesperlinePlugin {
 public:
  using InterfaceMap = NTarn::ComInterfaceMap<IVesperlinePlugin>;

  // The object map's creation function (plain or aggregated).
  static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv);

  // IVesperlinePlugin
  STDMETHOD(Initialize)(IServiceProvider* pServiceProvider) override;
  STDMETHOD(GetPluginDetails)(BSTR* pName, BSTR* pVersion) override;
  STDMETHOD(Uninitialize)() override;

 protected:
  CConfigMgrPlugin() = default;
  // Members go in reverse order: event handler, observer, provider.
  ~CConfigMgrPlugin() = default;

 private:
  Microsoft::WRL::ComPtr<IPowerDownProvider> m_powerDownProvider;
  Microsoft::WRL::ComPtr<IPowerDownObserver> m_observer;
  Microsoft::WRL::ComPtr<IAutoshutdownEvent> m_autoshutdownEvent;
};

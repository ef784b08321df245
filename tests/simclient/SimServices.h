// A namespace of the simulated client. Answers IClientSecurity itself, as a
// WMI proxy does, so that CoSetProxyBlanket works on it.
#pragma once

#include <windows.h>
#include <wbemcli.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/simclient/Scenario.h"
#include "tests/simclient/SimComObject.h"
#include "tests/simclient/SimState.h"

namespace vpltest::sim {

class SimServices : public SimComObject<IWbemServices, IClientSecurity> {
 public:
  SimServices(std::shared_ptr<SimState> state,
              const SimNamespace* wmiNamespace);

  // IWbemServices
  STDMETHOD(ExecQuery)
  (const BSTR language, const BSTR query, LONG flags, IWbemContext* context,
   IEnumWbemClassObject** enumerator) override;
  STDMETHOD(GetObject)
  (const BSTR path, LONG flags, IWbemContext* context,
   IWbemClassObject** object, IWbemCallResult** callResult) override;

  STDMETHOD(OpenNamespace)
  (const BSTR, LONG, IWbemContext*, IWbemServices**,
   IWbemCallResult**) override {
    return Unsupported();
  }
  STDMETHOD(CancelAsyncCall)(IWbemObjectSink*) override {
    return Unsupported();
  }
  STDMETHOD(QueryObjectSink)(LONG, IWbemObjectSink**) override {
    return Unsupported();
  }
  STDMETHOD(GetObjectAsync)
  (const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return Unsupported();
  }
  STDMETHOD(PutClass)
  (IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override {
    return Unsupported();
  }
  STDMETHOD(PutClassAsync)
  (IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override {
    return Unsupported();
  }
  STDMETHOD(DeleteClass)
  (const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
    return Unsupported();
  }
  STDMETHOD(DeleteClassAsync)
  (const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return Unsupported();
  }
  STDMETHOD(CreateClassEnum)
  (const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override {
    return Unsupported();
  }
  STDMETHOD(CreateClassEnumAsync)
  (const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return Unsupported();
  }
  STDMETHOD(PutInstance)
  (IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override {
    return Unsupported();
  }
  STDMETHOD(PutInstanceAsync)
  (IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override {
    return Unsupported();
  }
  STDMETHOD(DeleteInstance)
  (const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
    return Unsupported();
  }
  STDMETHOD(DeleteInstanceAsync)
  (const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return Unsupported();
  }
  STDMETHOD(CreateInstanceEnum)
  (const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override {
    return Unsupported();
  }
  STDMETHOD(CreateInstanceEnumAsync)
  (const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return Unsupported();
  }
  STDMETHOD(ExecQueryAsync)
  (const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return Unsupported();
  }
  STDMETHOD(ExecNotificationQuery)
  (const BSTR, const BSTR, LONG, IWbemContext*,
   IEnumWbemClassObject**) override {
    return Unsupported();
  }
  STDMETHOD(ExecNotificationQueryAsync)
  (const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
    return Unsupported();
  }
  STDMETHOD(ExecMethod)
  (const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
   IWbemClassObject**, IWbemCallResult**) override {
    return Unsupported();
  }
  STDMETHOD(ExecMethodAsync)
  (const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
   IWbemObjectSink*) override {
    return Unsupported();
  }

  // IClientSecurity
  STDMETHOD(QueryBlanket)
  (IUnknown* proxy, DWORD* authenticationService, DWORD* authorisationService,
   OLECHAR** principal, DWORD* authenticationLevel, DWORD* impersonationLevel,
   void** identity, DWORD* capabilities) override;
  STDMETHOD(SetBlanket)
  (IUnknown* proxy, DWORD authenticationService, DWORD authorisationService,
   OLECHAR* principal, DWORD authenticationLevel, DWORD impersonationLevel,
   void* identity, DWORD capabilities) override;
  STDMETHOD(CopyProxy)(IUnknown*, IUnknown**) override { return E_NOTIMPL; }

 private:
  static HRESULT Unsupported() { return WBEM_E_NOT_SUPPORTED; }
  // The objects `query` selects, or why it cannot be answered.
  HRESULT RunQuery(const BSTR language, const BSTR query,
                   std::vector<SimInstance>& results,
                   std::vector<std::wstring>& selected) const;
  // The instance `path` names, or why there is none.
  HRESULT FindObject(const BSTR path, const SimInstance*& found) const;

  std::shared_ptr<SimState> m_state;
  const SimNamespace* m_namespace;  // owned by the state's scenario
  std::mutex m_mutex;
  Blanket m_blanket;
};

}  // namespace vpltest::sim

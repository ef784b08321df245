// One result object of the simulated client. Only Get and GetNames (of the
// instance's own properties) are supported.
#pragma once

#include <windows.h>
#include <wbemcli.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/simclient/Scenario.h"
#include "tests/simclient/SimComObject.h"
#include "tests/simclient/SimState.h"

namespace vpltest::sim {

class SimClassObject : public SimComObject<IWbemClassObject> {
 public:
  // `selected` empty means every property (SELECT *).
  SimClassObject(std::shared_ptr<SimState> state, SimInstance instance,
                 std::vector<std::wstring> selected);

  STDMETHOD(Get)
  (LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type,
   LONG* flavor) override;

  STDMETHOD(GetQualifierSet)(IWbemQualifierSet**) override {
    return Unsupported();
  }
  STDMETHOD(Put)(LPCWSTR, LONG, VARIANT*, CIMTYPE) override {
    return Unsupported();
  }
  STDMETHOD(Delete)(LPCWSTR) override { return Unsupported(); }
  STDMETHOD(GetNames)
  (LPCWSTR qualifier, LONG flags, VARIANT* value, SAFEARRAY** names) override;
  STDMETHOD(BeginEnumeration)(LONG) override { return Unsupported(); }
  STDMETHOD(Next)(LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*) override {
    return Unsupported();
  }
  STDMETHOD(EndEnumeration)() override { return Unsupported(); }
  STDMETHOD(GetPropertyQualifierSet)(LPCWSTR, IWbemQualifierSet**) override {
    return Unsupported();
  }
  STDMETHOD(Clone)(IWbemClassObject**) override { return Unsupported(); }
  STDMETHOD(GetObjectText)(LONG, BSTR*) override { return Unsupported(); }
  STDMETHOD(SpawnDerivedClass)(LONG, IWbemClassObject**) override {
    return Unsupported();
  }
  STDMETHOD(SpawnInstance)(LONG, IWbemClassObject**) override {
    return Unsupported();
  }
  STDMETHOD(CompareTo)(LONG, IWbemClassObject*) override {
    return Unsupported();
  }
  STDMETHOD(GetPropertyOrigin)(LPCWSTR, BSTR*) override {
    return Unsupported();
  }
  STDMETHOD(InheritsFrom)(LPCWSTR) override { return Unsupported(); }
  STDMETHOD(GetMethod)
  (LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**) override {
    return Unsupported();
  }
  STDMETHOD(PutMethod)
  (LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) override {
    return Unsupported();
  }
  STDMETHOD(DeleteMethod)(LPCWSTR) override { return Unsupported(); }
  STDMETHOD(BeginMethodEnumeration)(LONG) override { return Unsupported(); }
  STDMETHOD(NextMethod)
  (LONG, BSTR*, IWbemClassObject**, IWbemClassObject**) override {
    return Unsupported();
  }
  STDMETHOD(EndMethodEnumeration)() override { return Unsupported(); }
  STDMETHOD(GetMethodQualifierSet)(LPCWSTR, IWbemQualifierSet**) override {
    return Unsupported();
  }
  STDMETHOD(GetMethodOrigin)(LPCWSTR, BSTR*) override { return Unsupported(); }

 private:
  static HRESULT Unsupported() { return WBEM_E_NOT_SUPPORTED; }
  bool IsSelected(const std::wstring& name) const;

  std::shared_ptr<SimState> m_state;
  SimInstance m_instance;
  std::vector<std::wstring> m_selected;
};

}  // namespace vpltest::sim

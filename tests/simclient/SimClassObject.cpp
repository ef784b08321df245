#include "tests/simclient/SimClassObject.h"

#include "tests/simclient/Schema.h"

namespace vpltest::sim {

SimClassObject::SimClassObject(std::shared_ptr<SimState> state,
                               SimInstance instance,
                               std::vector<std::wstring> selected)
    : m_state(std::move(state)),
      m_instance(std::move(instance)),
      m_selected(std::move(selected)) {}

bool SimClassObject::IsSelected(const std::wstring& name) const {
  if (m_selected.empty()) return true;
  for (const std::wstring& selected : m_selected) {
    if (_wcsicmp(selected.c_str(), name.c_str()) == 0) return true;
  }
  return false;
}

STDMETHODIMP SimClassObject::Get(LPCWSTR name, LONG /*flags*/, VARIANT* value,
                                 CIMTYPE* type, LONG* flavor) {
  if (const auto failure = m_state->Enter(SimMethod::kGet)) return failure->hr;
  if (!name) return WBEM_E_INVALID_PARAMETER;
  if (flavor) *flavor = WBEM_FLAVOR_ORIGIN_LOCAL;
  const std::wstring property = name;

  if (_wcsicmp(name, L"__CLASS") == 0) {
    SimValue className;
    className.isNull = false;
    className.texts.push_back(m_instance.className);
    if (type) *type = CIM_STRING;
    return value ? className.ToVariant(value) : S_OK;
  }
  if (_wcsicmp(name, L"__SUPERCLASS") == 0) {
    SimValue superclass;
    superclass.cimType = CIM_STRING;
    const std::wstring described = SchemaSuperclass(m_instance.className);
    superclass.isNull = described.empty();
    if (!described.empty()) superclass.texts.push_back(described);
    if (type) *type = CIM_STRING;
    return value ? superclass.ToVariant(value) : S_OK;
  }
  if (!IsSelected(property)) return WBEM_E_NOT_FOUND;
  if (const SimValue* found = m_instance.Find(property)) {
    if (type) *type = found->cimType;
    return value ? found->ToVariant(value) : S_OK;
  }
  // A property of the class that the instance does not set is NULL.
  CIMTYPE schemaType;
  if (SchemaPropertyType(m_instance.className, property, schemaType)) {
    if (type) *type = schemaType;
    if (value) {
      ::VariantInit(value);
      V_VT(value) = VT_NULL;
    }
    return S_OK;
  }
  return WBEM_E_NOT_FOUND;
}

STDMETHODIMP SimClassObject::GetNames(LPCWSTR qualifier, LONG /*flags*/,
                                      VARIANT* /*value*/, SAFEARRAY** names) {
  if (!names) return WBEM_E_INVALID_PARAMETER;
  *names = nullptr;
  if (qualifier) return Unsupported();
  std::vector<const std::wstring*> selected;
  for (const auto& property : m_instance.properties) {
    if (IsSelected(property.first)) selected.push_back(&property.first);
  }
  SAFEARRAY* array =
      ::SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(selected.size()));
  if (!array) return WBEM_E_OUT_OF_MEMORY;
  for (LONG i = 0; i < static_cast<LONG>(selected.size()); ++i) {
    BSTR name = ::SysAllocString(selected[i]->c_str());
    const HRESULT hr =
        name ? ::SafeArrayPutElement(array, &i, name) : E_OUTOFMEMORY;
    ::SysFreeString(name);  // the array keeps its own copy
    if (FAILED(hr)) {
      ::SafeArrayDestroy(array);
      return hr;
    }
  }
  *names = array;
  return WBEM_S_NO_ERROR;
}

}  // namespace vpltest::sim

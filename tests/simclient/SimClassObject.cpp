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

}  // namespace vpltest::sim

#include "common/wmi/WbemProperty.h"

#include <oleauto.h>

#include "common/ScopedBstr.h"
#include "common/wmi/WbemText.h"

namespace NTarn {
namespace {

bool IsIntegerElementType(VARTYPE type) {
  switch (type) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
      return true;
    default:
      return false;
  }
}

// One element, read at the array's own element size so that a 16-bit array
// is not over-read.
template <typename Element>
std::optional<LONG> ReadElement(SAFEARRAY* array, LONG index) {
  Element element{};
  if (FAILED(::SafeArrayGetElement(array, &index, &element))) {
    return std::nullopt;
  }
  return static_cast<LONG>(element);
}

std::optional<LONG> ReadIntegerElement(SAFEARRAY* array, VARTYPE type,
                                       LONG index) {
  switch (type) {
    case VT_I1:
      return ReadElement<signed char>(array, index);
    case VT_UI1:
      return ReadElement<BYTE>(array, index);
    case VT_I2:
      return ReadElement<SHORT>(array, index);
    case VT_UI2:
      return ReadElement<USHORT>(array, index);
    default:
      return ReadElement<LONG>(array, index);
  }
}

}  // namespace

HRESULT WbemProperty::Read(IWbemClassObject* object, const wchar_t* name) {
  m_cimType = CIM_EMPTY;
  if (!object) {
    m_value.Reset();
    return E_POINTER;
  }
  CIMTYPE type = CIM_EMPTY;
  const HRESULT hr = object->Get(name, 0, m_value.Receive(), &type, nullptr);
  if (FAILED(hr)) {
    m_value.Reset();
    return hr;
  }
  m_cimType = type;
  return hr;
}

bool WbemProperty::IsNull() const {
  const VARTYPE type = V_VT(&m_value.Get());
  return type == VT_NULL || type == VT_EMPTY;
}

bool WbemProperty::IsText() const { return V_VT(&m_value.Get()) == VT_BSTR; }

std::wstring WbemProperty::Text() const {
  if (!IsText() || !V_BSTR(&m_value.Get())) return std::wstring();
  const BSTR text = V_BSTR(&m_value.Get());
  return std::wstring(text, ::SysStringLen(text));
}

std::string WbemProperty::AnsiText() const {
  if (!IsText() || !V_BSTR(&m_value.Get())) return std::string();
  const BSTR text = V_BSTR(&m_value.Get());
  return WideToAnsi(text, ::SysStringLen(text));
}

std::optional<LONG> WbemProperty::Integer() const {
  const VARIANT& value = m_value.Get();
  switch (V_VT(&value)) {
    case VT_I1:
      return V_I1(&value);
    case VT_UI1:
      return V_UI1(&value);
    case VT_I2:
      return V_I2(&value);
    case VT_UI2:
      return V_UI2(&value);
    case VT_I4:
    case VT_INT:
      return V_I4(&value);
    case VT_UI4:
    case VT_UINT:
      return static_cast<LONG>(V_UI4(&value));
    default:
      return std::nullopt;
  }
}

std::optional<bool> WbemProperty::Boolean() const {
  const VARIANT& value = m_value.Get();
  if (V_VT(&value) != VT_BOOL) return std::nullopt;
  return V_BOOL(&value) != VARIANT_FALSE;
}

std::vector<std::optional<std::wstring>> WbemProperty::TextArray() const {
  std::vector<std::optional<std::wstring>> elements;
  const VARIANT& value = m_value.Get();
  if (V_VT(&value) != (VT_ARRAY | VT_BSTR) || !V_ARRAY(&value)) {
    return elements;
  }
  SAFEARRAY* array = V_ARRAY(&value);
  LONG lower = 0;
  LONG upper = -1;
  if (::SafeArrayGetDim(array) != 1 ||
      FAILED(::SafeArrayGetLBound(array, 1, &lower)) ||
      FAILED(::SafeArrayGetUBound(array, 1, &upper))) {
    return elements;
  }
  for (LONG index = lower; index <= upper; ++index) {
    // SafeArrayGetElement copies a BSTR; the owner frees the copy.
    ScopedBstr element;
    if (FAILED(::SafeArrayGetElement(array, &index, element.Receive())) ||
        element.IsNull()) {
      elements.emplace_back(std::nullopt);
      continue;
    }
    elements.emplace_back(std::wstring(element.Get(), element.Length()));
  }
  return elements;
}

std::vector<std::optional<LONG>> WbemProperty::IntegerArray() const {
  std::vector<std::optional<LONG>> elements;
  const VARIANT& value = m_value.Get();
  if (!(V_VT(&value) & VT_ARRAY) || !V_ARRAY(&value)) return elements;
  SAFEARRAY* array = V_ARRAY(&value);
  VARTYPE type = VT_EMPTY;
  LONG lower = 0;
  LONG upper = -1;
  if (::SafeArrayGetDim(array) != 1 ||
      FAILED(::SafeArrayGetVartype(array, &type)) ||
      !IsIntegerElementType(type) ||
      FAILED(::SafeArrayGetLBound(array, 1, &lower)) ||
      FAILED(::SafeArrayGetUBound(array, 1, &upper))) {
    return elements;
  }
  for (LONG index = lower; index <= upper; ++index) {
    elements.push_back(ReadIntegerElement(array, type, index));
  }
  return elements;
}

}  // namespace NTarn

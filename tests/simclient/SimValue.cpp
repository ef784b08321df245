#include "tests/simclient/SimValue.h"

#include <oleauto.h>

#include <cstring>

namespace vpltest::sim {

ValueKind KindOf(CIMTYPE elementType) {
  switch (elementType) {
    case CIM_SINT8:
    case CIM_UINT8:
    case CIM_SINT16:
    case CIM_UINT16:
    case CIM_SINT32:
    case CIM_UINT32:
    case CIM_CHAR16:
      return ValueKind::kInteger;
    case CIM_BOOLEAN:
      return ValueKind::kBoolean;
    case CIM_REAL32:
    case CIM_REAL64:
      return ValueKind::kReal;
    default:
      return ValueKind::kText;
  }
}

VARTYPE VariantTypeOf(CIMTYPE elementType) {
  switch (elementType) {
    case CIM_SINT8:
    case CIM_SINT16:
    case CIM_CHAR16:
      return VT_I2;
    case CIM_UINT8:
      return VT_UI1;
    case CIM_UINT16:
    case CIM_SINT32:
    case CIM_UINT32:
      return VT_I4;
    case CIM_BOOLEAN:
      return VT_BOOL;
    case CIM_REAL32:
      return VT_R4;
    case CIM_REAL64:
      return VT_R8;
    default:
      return VT_BSTR;
  }
}

bool ParseCimTypeName(const std::string& name, CIMTYPE& type) {
  static const struct {
    const char* name;
    CIMTYPE type;
  } kNames[] = {
      {"sint8", CIM_SINT8},       {"uint8", CIM_UINT8},
      {"sint16", CIM_SINT16},     {"uint16", CIM_UINT16},
      {"sint32", CIM_SINT32},     {"uint32", CIM_UINT32},
      {"sint64", CIM_SINT64},     {"uint64", CIM_UINT64},
      {"real32", CIM_REAL32},     {"real64", CIM_REAL64},
      {"boolean", CIM_BOOLEAN},   {"string", CIM_STRING},
      {"datetime", CIM_DATETIME}, {"reference", CIM_REFERENCE},
      {"char16", CIM_CHAR16},
  };
  std::string base = name;
  CIMTYPE flags = 0;
  if (base.size() > 2 && base.compare(base.size() - 2, 2, "[]") == 0) {
    base.resize(base.size() - 2);
    flags = CIM_FLAG_ARRAY;
  }
  for (const auto& entry : kNames) {
    if (base == entry.name) {
      type = entry.type | flags;
      return true;
    }
  }
  return false;
}

namespace {

HRESULT PutElement(SAFEARRAY* array, LONG index, VARTYPE vt,
                   const SimValue& value) {
  switch (vt) {
    case VT_BSTR: {
      BSTR text = ::SysAllocString(value.texts[index].c_str());
      if (!text) return E_OUTOFMEMORY;
      const HRESULT hr = ::SafeArrayPutElement(array, &index, text);
      ::SysFreeString(text);  // the array keeps its own copy
      return hr;
    }
    case VT_I2: {
      SHORT element = static_cast<SHORT>(value.numbers[index]);
      return ::SafeArrayPutElement(array, &index, &element);
    }
    case VT_UI1: {
      BYTE element = static_cast<BYTE>(value.numbers[index]);
      return ::SafeArrayPutElement(array, &index, &element);
    }
    case VT_I4: {
      LONG element = static_cast<LONG>(value.numbers[index]);
      return ::SafeArrayPutElement(array, &index, &element);
    }
    case VT_BOOL: {
      VARIANT_BOOL element =
          value.numbers[index] ? VARIANT_TRUE : VARIANT_FALSE;
      return ::SafeArrayPutElement(array, &index, &element);
    }
    case VT_R4: {
      float element = static_cast<float>(value.reals[index]);
      return ::SafeArrayPutElement(array, &index, &element);
    }
    case VT_R8: {
      double element = value.reals[index];
      return ::SafeArrayPutElement(array, &index, &element);
    }
    default:
      return E_UNEXPECTED;
  }
}

size_t ElementCount(const SimValue& value) {
  switch (KindOf(value.ElementType())) {
    case ValueKind::kText:
      return value.texts.size();
    case ValueKind::kReal:
      return value.reals.size();
    default:
      return value.numbers.size();
  }
}

}  // namespace

HRESULT SimValue::ToVariant(VARIANT* out) const {
  ::VariantInit(out);
  if (isNull) {
    V_VT(out) = VT_NULL;
    return S_OK;
  }
  const VARTYPE vt = VariantTypeOf(ElementType());
  const size_t count = ElementCount(*this);
  if (IsArray()) {
    SAFEARRAY* array =
        ::SafeArrayCreateVector(vt, 0, static_cast<ULONG>(count));
    if (!array) return E_OUTOFMEMORY;
    for (size_t i = 0; i < count; ++i) {
      const HRESULT hr = PutElement(array, static_cast<LONG>(i), vt, *this);
      if (FAILED(hr)) {
        ::SafeArrayDestroy(array);
        return hr;
      }
    }
    V_VT(out) = static_cast<VARTYPE>(VT_ARRAY | vt);
    V_ARRAY(out) = array;
    return S_OK;
  }
  if (count == 0) return E_UNEXPECTED;
  switch (vt) {
    case VT_BSTR:
      V_BSTR(out) = ::SysAllocString(texts[0].c_str());
      if (!V_BSTR(out)) return E_OUTOFMEMORY;
      break;
    case VT_I2:
      V_I2(out) = static_cast<SHORT>(numbers[0]);
      break;
    case VT_UI1:
      V_UI1(out) = static_cast<BYTE>(numbers[0]);
      break;
    case VT_I4:
      V_I4(out) = static_cast<LONG>(numbers[0]);
      break;
    case VT_BOOL:
      V_BOOL(out) = numbers[0] ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case VT_R4:
      V_R4(out) = static_cast<float>(reals[0]);
      break;
    case VT_R8:
      V_R8(out) = reals[0];
      break;
    default:
      return E_UNEXPECTED;
  }
  V_VT(out) = vt;
  return S_OK;
}

}  // namespace vpltest::sim

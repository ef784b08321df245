// One property of a WMI object, read once, with plain answers for what NULL
// and unexpected types become, so detection code never switches on variant
// types itself.
//
//   WbemProperty state;
//   HRESULT hr = state.Read(object, L"State");
//   if (FAILED(hr)) ... log the failure ...
//   std::wstring text = state.Text();  // empty for NULL or a non-string
#pragma once

#include <windows.h>
#include <wbemcli.h>

#include <optional>
#include <string>
#include <vector>

#include "common/ScopedVariant.h"

namespace NTarn {

class WbemProperty {
 public:
  WbemProperty() = default;
  WbemProperty(const WbemProperty&) = delete;
  WbemProperty& operator=(const WbemProperty&) = delete;

  // IWbemClassObject::Get of `name`. Returns its result; after a failure the
  // property reads as NULL with type CIM_EMPTY.
  HRESULT Read(IWbemClassObject* object, const wchar_t* name);

  // The CIM type WMI reported (CIM_FLAG_ARRAY included).
  CIMTYPE CimType() const { return m_cimType; }
  bool IsArray() const { return (m_cimType & CIM_FLAG_ARRAY) != 0; }
  // No value: VT_NULL or VT_EMPTY.
  bool IsNull() const;
  // The value is a string (VT_BSTR, a null BSTR included).
  bool IsText() const;

  // The string value; empty for NULL or anything that is not a string.
  std::wstring Text() const;
  // The string value converted to the thread's ANSI code page, likewise.
  std::string AnsiText() const;
  // A signed or unsigned integer value of up to 32 bits; none for NULL or a
  // non-integer.
  std::optional<LONG> Integer() const;
  // A boolean value; none for NULL or a non-boolean.
  std::optional<bool> Boolean() const;
  // The elements of a string array from its lower to its upper bound; a null
  // element is none. Empty for NULL or anything that is not a string array.
  std::vector<std::optional<std::wstring>> TextArray() const;
  // The elements of an array of signed or unsigned integers of up to 32 bits,
  // each read at its own size; an element that cannot be read is none. Empty
  // for NULL or anything that is not such an array.
  std::vector<std::optional<LONG>> IntegerArray() const;

  const VARIANT& Variant() const { return m_value.Get(); }

 private:
  ScopedVariant m_value;
  CIMTYPE m_cimType = CIM_EMPTY;
};

}  // namespace NTarn

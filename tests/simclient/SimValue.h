// A CIM-typed property value of the simulated client, and its VARIANT form
// as WMI on Windows hands it out.
#pragma once

#include <windows.h>
#include <wbemcli.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vpltest::sim {

struct SimValue {
  CIMTYPE cimType = CIM_STRING;  // may carry CIM_FLAG_ARRAY
  bool isNull = true;
  // One entry for a scalar. Texts hold strings, dates, references and 64-bit
  // integers; numbers hold the other integers and booleans.
  std::vector<std::wstring> texts;
  std::vector<int64_t> numbers;
  std::vector<double> reals;

  bool IsArray() const { return (cimType & CIM_FLAG_ARRAY) != 0; }
  CIMTYPE ElementType() const { return cimType & ~CIM_FLAG_ARRAY; }

  // Writes a new VARIANT (VT_NULL for null values) into `out`, which must be
  // empty.
  HRESULT ToVariant(VARIANT* out) const;
};

enum class ValueKind { kText, kInteger, kBoolean, kReal };
ValueKind KindOf(CIMTYPE elementType);
// The VARIANT type WMI uses for one element of `elementType`.
VARTYPE VariantTypeOf(CIMTYPE elementType);
// Names as in MOF ("string", "uint16[]", "datetime"...); false when unknown.
bool ParseCimTypeName(const std::string& name, CIMTYPE& type);

}  // namespace vpltest::sim

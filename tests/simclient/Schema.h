// CIM types of the WMI classes and properties the plug-in reads, so that
// scenario files can hold plain values.
#pragma once

#include <windows.h>
#include <wbemcli.h>

#include <string>

namespace vpltest::sim {

// Whether the schema describes `className` (case-insensitive).
bool SchemaHasClass(const std::wstring& className);
// The CIM type of a described property; false when it is not described.
bool SchemaPropertyType(const std::wstring& className,
                        const std::wstring& property, CIMTYPE& type);
// The property a described class's instances are found by (the first of a
// compound key); false for a singleton or a class the schema does not
// describe.
bool SchemaKeyProperty(const std::wstring& className, std::wstring& key);
// Whether `property` belongs to a described class; true for any property of
// a class the schema does not describe.
bool SchemaAllowsProperty(const std::wstring& className,
                          const std::wstring& property);

}  // namespace vpltest::sim

// CIM types of the WMI classes and properties the plug-in reads, so that
// scenario files can hold plain values, with their keys, their superclasses
// and the namespaces the plug-in reads them in.
#pragma once

#include <windows.h>
#include <wbemcli.h>

#include <string>
#include <vector>

namespace vpltest::sim {

// Whether the schema describes `className` (case-insensitive).
bool SchemaHasClass(const std::wstring& className);
// The CIM type of a described property, the class's own or inherited;
// false when it is not described.
bool SchemaPropertyType(const std::wstring& className,
                        const std::wstring& property, CIMTYPE& type);
// The property a described class's instances are found by (the first of a
// compound key); false for a singleton or a class the schema does not
// describe.
bool SchemaKeyProperty(const std::wstring& className, std::wstring& key);
// Every key property of a described class; empty for a singleton or a class
// the schema does not describe.
std::vector<std::wstring> SchemaKeyProperties(const std::wstring& className);
// The described superclass (__SUPERCLASS); empty for none.
std::wstring SchemaSuperclass(const std::wstring& className);
// Whether `className` is `ancestor` or derives from it (case-insensitive).
bool SchemaDerivesFrom(const std::wstring& className,
                       const std::wstring& ancestor);
// Whether the plug-in reads the namespace (normalised), or the class in it.
bool SchemaReadsNamespace(const std::wstring& normalizedNamespace);
bool SchemaReadsClass(const std::wstring& normalizedNamespace,
                      const std::wstring& className);
// Whether `property` belongs to a described class; true for any property of
// a class the schema does not describe.
bool SchemaAllowsProperty(const std::wstring& className,
                          const std::wstring& property);

}  // namespace vpltest::sim

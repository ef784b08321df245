// The WQL subset of the simulated client: SELECT * or a property list FROM a
// class, with an optional WHERE of comparisons (=, <>, !=, <, >, <=, >=),
// IS [NOT] NULL, AND, OR, NOT and parentheses over properties, quoted texts
// (backslash escapes) and integers.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/simclient/Scenario.h"

namespace vpltest::sim {

struct WqlCondition;

class WqlQuery {
 public:
  // Parses `text`; WBEM_E_INVALID_QUERY for anything outside the subset.
  static HRESULT Parse(const std::wstring& text, WqlQuery& query);

  const std::wstring& ClassName() const { return m_className; }
  // Empty for SELECT *.
  const std::vector<std::wstring>& SelectedProperties() const {
    return m_selected;
  }
  // Every property the query names, in the list or the condition.
  std::vector<std::wstring> ReferencedProperties() const;

  bool Matches(const SimInstance& instance) const;

  // The text `property` must equal for the condition to hold, when the
  // condition demands one: `property = 'text'` alone or as a term of an AND.
  std::optional<std::wstring> RequiredText(const std::wstring& property) const;

  // The instances of `simClass` the query selects, in the class's order:
  // through the class's key index when the condition fixes the key, else by
  // testing every instance.
  std::vector<const SimInstance*> Select(const SimClass& simClass) const;

 private:
  std::wstring m_className;
  std::vector<std::wstring> m_selected;
  std::shared_ptr<const WqlCondition> m_where;
};

}  // namespace vpltest::sim

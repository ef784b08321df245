#include "tests/simclient/SimKeyIndex.h"

#include <windows.h>

#include <cwchar>

#include "tests/simclient/Scenario.h"

namespace vpltest::sim {

bool SimKeyIndex::CaseInsensitiveLess::operator()(const std::wstring& a,
                                                  const std::wstring& b) const {
  // The same comparison the WHERE evaluation makes, so that the index and a
  // walk agree on which texts are equal.
  return _wcsicmp(a.c_str(), b.c_str()) < 0;
}

void SimKeyIndex::Build(const std::wstring& property,
                        const std::vector<SimInstance>& instances) {
  m_usable = false;
  m_property = property;
  m_positions.clear();
  for (size_t position = 0; position < instances.size(); ++position) {
    const SimValue* value = instances[position].Find(property);
    if (!value || value->isNull || value->IsArray()) continue;
    if (KindOf(value->ElementType()) != ValueKind::kText) {
      m_positions.clear();
      return;
    }
    m_positions[value->texts[0]].push_back(position);
  }
  m_usable = true;
}

const std::vector<size_t>& SimKeyIndex::Find(const std::wstring& value) const {
  static const std::vector<size_t> kNone;
  const auto found = m_positions.find(value);
  return found == m_positions.end() ? kNone : found->second;
}

}  // namespace vpltest::sim

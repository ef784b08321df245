// The instances of one class by the value of its key property, as the WMI
// repository finds them, so that a query or an object path naming one key
// costs a look-up instead of a walk over every instance.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace vpltest::sim {

struct SimInstance;

class SimKeyIndex {
 public:
  // Indexes `instances` by `property`. The index stays unusable when an
  // instance holds the property as a number: WQL compares numbers by value,
  // not as texts, so only a walk answers for such a class.
  void Build(const std::wstring& property,
             const std::vector<SimInstance>& instances);

  bool IsUsable() const { return m_usable; }
  const std::wstring& Property() const { return m_property; }

  // Positions, ascending, of the instances whose key text equals `value`
  // without regard to case; empty when none does. Instances whose key is
  // missing, null or an array are never found, as no comparison matches
  // them.
  const std::vector<size_t>& Find(const std::wstring& value) const;

 private:
  // Orders texts as WQL compares them, so that equal keys share an entry.
  struct CaseInsensitiveLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
  };

  bool m_usable = false;
  std::wstring m_property;
  std::map<std::wstring, std::vector<size_t>, CaseInsensitiveLess> m_positions;
};

}  // namespace vpltest::sim

// Name/value pairs substituted into the registry scripts ("%APPID%" ...).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace registration {

class RegistryReplacements {
 public:
  void Add(std::wstring name, std::wstring value) {
    m_entries.emplace_back(std::move(name), std::move(value));
  }
  const wchar_t* Find(const std::wstring& name) const {
    for (const auto& entry : m_entries) {
      if (entry.first == name) return entry.second.c_str();
    }
    return nullptr;
  }

 private:
  std::vector<std::pair<std::wstring, std::wstring>> m_entries;
};

}  // namespace registration

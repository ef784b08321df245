#include "common/DecisionStore.h"

#include <algorithm>
#include <cstdio>

#include "common/ScopedHandle.h"

namespace NTarn {
namespace {

// Registry key names are at most 255 characters.
constexpr DWORD kNameCapacity = 256;
// Entries of one second: the first unnumbered, then "-0001" to "-9999".
constexpr int kMaxSuffix = 9999;
// The longest text a field holds (IDs, states and times are short).
constexpr DWORD kTextCapacity = 1024;

std::string KeyNameOf(const std::string& firstTime, int suffix) {
  std::string name;
  for (const char c : firstTime) {
    if (c != '-' && c != ':') name += c;
  }
  if (suffix > 0) {
    char number[8];
    snprintf(number, sizeof(number), "-%04d", suffix);
    name += number;
  }
  return name;
}

std::vector<std::string> SubkeyNames(HKEY decisions) {
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    char name[kNameCapacity];
    DWORD length = kNameCapacity;
    const LSTATUS status = ::RegEnumKeyExA(decisions, index, name, &length,
                                           nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  std::sort(names.begin(), names.end());
  return names;
}

LSTATUS SetText(HKEY key, const char* name, const std::string& text) {
  return ::RegSetValueExA(key, name, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

LSTATUS SetNumber(HKEY key, const char* name, DWORD number) {
  return ::RegSetValueExA(key, name, 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&number),
                          sizeof(number));
}

LSTATUS WriteFields(HKEY key, const DecisionEntry& entry) {
  for (const DecisionTextField& field : kDecisionTextFields) {
    const std::string& text = entry.*field.member;
    if (text.empty()) continue;
    const LSTATUS status = SetText(key, field.valueName, text);
    if (status != ERROR_SUCCESS) return status;
  }
  for (const DecisionNumberField& field : kDecisionNumberFields) {
    const std::optional<DWORD>& number = entry.*field.member;
    if (!number) continue;
    const LSTATUS status = SetNumber(key, field.valueName, *number);
    if (status != ERROR_SUCCESS) return status;
  }
  return ERROR_SUCCESS;
}

DecisionEntry ReadFields(HKEY key, const std::string& name) {
  DecisionEntry entry;
  entry.name = name;
  for (const DecisionTextField& field : kDecisionTextFields) {
    char text[kTextCapacity];
    DWORD size = sizeof(text);
    if (::RegGetValueA(key, nullptr, field.valueName, RRF_RT_REG_SZ, nullptr,
                       text, &size) == ERROR_SUCCESS) {
      entry.*field.member = text;
    }
  }
  for (const DecisionNumberField& field : kDecisionNumberFields) {
    DWORD number = 0;
    DWORD size = sizeof(number);
    if (::RegGetValueA(key, nullptr, field.valueName, RRF_RT_REG_DWORD, nullptr,
                       &number, &size) == ERROR_SUCCESS) {
      entry.*field.member = number;
    }
  }
  return entry;
}

}  // namespace

std::vector<DecisionEntry> ReadDecisionEntries(HKEY decisions) {
  std::vector<DecisionEntry> entries;
  for (const std::string& name : SubkeyNames(decisions)) {
    ScopedRegKey key;
    if (::RegOpenKeyExA(decisions, name.c_str(), 0, KEY_QUERY_VALUE,
                        key.Receive()) != ERROR_SUCCESS) {
      continue;
    }
    DecisionEntry entry = ReadFields(key.Get(), name);
    if (entry.count) entries.push_back(std::move(entry));
  }
  return entries;
}

LSTATUS AddDecisionEntry(HKEY decisions, DecisionEntry& entry) {
  ScopedRegKey key;
  std::string name;
  for (int suffix = 0;; ++suffix) {
    if (suffix > kMaxSuffix) return ERROR_ALREADY_EXISTS;
    name = KeyNameOf(entry.firstTime, suffix);
    DWORD disposition = 0;
    const LSTATUS status = ::RegCreateKeyExA(
        decisions, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
        KEY_SET_VALUE, nullptr, key.Receive(), &disposition);
    if (status != ERROR_SUCCESS) return status;
    // Another entry of the same second keeps its key.
    if (disposition == REG_CREATED_NEW_KEY) break;
  }
  const LSTATUS status = WriteFields(key.Get(), entry);
  key.Reset();
  if (status != ERROR_SUCCESS) {
    ::RegDeleteKeyA(decisions, name.c_str());
    return status;
  }
  entry.name = name;
  return ERROR_SUCCESS;
}

LSTATUS UpdateDecisionEntry(HKEY decisions, const DecisionEntry& entry) {
  ScopedRegKey key;
  LSTATUS status = ::RegOpenKeyExA(decisions, entry.name.c_str(), 0,
                                   KEY_SET_VALUE, key.Receive());
  if (status != ERROR_SUCCESS) return status;
  status = SetText(key.Get(), "LastTime", entry.lastTime);
  if (status != ERROR_SUCCESS) return status;
  return SetNumber(key.Get(), "Count", entry.count.value_or(1));
}

LSTATUS PruneDecisionEntries(HKEY decisions, size_t keep) {
  const std::vector<std::string> names = SubkeyNames(decisions);
  LSTATUS result = ERROR_SUCCESS;
  for (size_t index = 0; index + keep < names.size(); ++index) {
    const LSTATUS status = ::RegDeleteKeyA(decisions, names[index].c_str());
    if (status != ERROR_SUCCESS && result == ERROR_SUCCESS) result = status;
  }
  return result;
}

}  // namespace NTarn

// Reads registry subtrees as sorted text lines, so tests can compare what was
// written with what should have been, key by key and value by value.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace vpltest {

// One line per key ("path") and per value ("path|name=data", "@" naming the
// default value; non-string data shows as "<type N>"), for `path` and
// everything below it, sorted. Empty when the key does not exist.
std::vector<std::wstring> ReadRegistryTree(HKEY root, const std::wstring& path);

// The trees of several paths together, sorted.
std::vector<std::wstring> ReadRegistryTrees(
    HKEY root, const std::vector<std::wstring>& paths);

bool RegistryKeyExists(HKEY root, const std::wstring& path);

// Denies KEY_SET_VALUE to everyone on `root\path` (creating it), so that
// writing there fails while reading and deleting still work.
void CreateKeyDenyingSetValue(HKEY root, const std::wstring& path);

}  // namespace vpltest

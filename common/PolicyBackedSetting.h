// A setting read with write-back whose current value is the default of its
// next read, remembering whether that value came from the policy key.
//
// A policy value is never copied into the normal key: when the policy is
// withdrawn and the normal key lacks the value, the built-in default is
// written there instead, so that withdrawing a policy gives the machine back
// its own settings.
#pragma once

#include <windows.h>

namespace NTarn {

// Whether the policy twin of `subKey` (below "Software\Policies\Tarn") holds
// `valueName`, with any type and size.
bool PolicyHoldsValue(HKEY root, const char* subKey, const char* valueName);

// Reads `valueName` into `buffer` (`size` bytes, holding the current value)
// through RegGetPolicyParameter with `flags`. `builtInDefault` (also `size`
// bytes) replaces the current value before a read that may write back when
// the value came from policy and the policy no longer holds it.
// `fromPolicy` is updated: set when the policy held the value and it was
// read, cleared when the value read came from elsewhere and changed; a kept
// value keeps its origin. Texts (REG_SZ) come back terminated. Returns what
// RegGetPolicyParameter returned.
DWORD ReadPolicyBackedSetting(HKEY root, const char* subKey,
                              const char* valueName, DWORD type, void* buffer,
                              DWORD size, const void* builtInDefault,
                              bool& fromPolicy, DWORD flags);

}  // namespace NTarn

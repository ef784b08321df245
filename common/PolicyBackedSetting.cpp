#include "common/PolicyBackedSetting.h"

#include <cstring>
#include <string>
#include <vector>

#include "common/RegistryParameters.h"
#include "common/ScopedHandle.h"

namespace NTarn {
namespace {

constexpr char kTarnRoot[] = "Software\\Tarn";
constexpr char kPolicyRoot[] = "Software\\Policies\\Tarn";

bool SameValue(DWORD type, const BYTE* a, const BYTE* b, DWORD size) {
  if (type == REG_SZ) {
    return std::strcmp(reinterpret_cast<const char*>(a),
                       reinterpret_cast<const char*>(b)) == 0;
  }
  return std::memcmp(a, b, size) == 0;
}

}  // namespace

bool PolicyHoldsValue(HKEY root, const char* subKey, const char* valueName) {
  constexpr size_t kRootChars = sizeof(kTarnRoot) - 1;
  if (!subKey || _strnicmp(subKey, kTarnRoot, kRootChars) != 0 ||
      subKey[kRootChars] != '\\') {
    return false;
  }
  const std::string policyPath = kPolicyRoot + std::string(subKey + kRootChars);
  ScopedRegKey key;
  if (::RegOpenKeyExA(root, policyPath.c_str(), 0, KEY_READ, key.Receive()) !=
      ERROR_SUCCESS) {
    return false;
  }
  const LONG status = ::RegQueryValueExA(key.Get(), valueName, nullptr, nullptr,
                                         nullptr, nullptr);
  return status == ERROR_SUCCESS || status == ERROR_MORE_DATA;
}

DWORD ReadPolicyBackedSetting(HKEY root, const char* subKey,
                              const char* valueName, DWORD type, void* buffer,
                              DWORD size, const void* builtInDefault,
                              bool& fromPolicy, DWORD flags) {
  auto* bytes = static_cast<BYTE*>(buffer);
  const bool policyHolds = PolicyHoldsValue(root, subKey, valueName);
  // A read that may write back a missing value must not write the policy's
  // value into the normal key.
  if (!policyHolds && fromPolicy && !(flags & reg_flags::kReadOnly)) {
    std::memcpy(bytes, builtInDefault, size);
    fromPolicy = false;
  }
  const std::vector<BYTE> before(bytes, bytes + size);
  const DWORD status =
      RegGetPolicyParameter(root, subKey, valueName, type, buffer, size, flags);
  // A stored text that fills the buffer exactly comes without a terminator.
  if (type == REG_SZ && size > 0) bytes[size - 1] = '\0';
  if (policyHolds) {
    // A policy value that could not be read leaves the value as it was.
    if (status == ERROR_SUCCESS || status == 1) fromPolicy = true;
  } else if (!SameValue(type, before.data(), bytes, size)) {
    fromPolicy = false;
  }
  // Otherwise the value was kept (a read-only read of a missing value), and
  // so is where it came from.
  return status;
}

}  // namespace NTarn

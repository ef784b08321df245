#include "common/RegistryParameters.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>

#include "common/Logging.h"
#include "common/RegistryParameterTraits.h"
#include "common/ScopedHandle.h"

namespace NTarn {
namespace {

using namespace reg_flags;

// Reading, writing values and creating subkeys (0x2001F).
constexpr REGSAM kReadWriteAccess =
    KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
// What deleting a value asks for (0x3001B).
constexpr REGSAM kDeleteValueAccess = KEY_READ | KEY_SET_VALUE | DELETE;
// Longest decimal text converted when a number is stored as REG_SZ.
constexpr DWORD kNumberTextBytes = 80;
constexpr size_t kPolicyPathChars = 260;
constexpr size_t kScratchChars = 128;

bool IsTextType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

template <typename Char>
size_t BoundedLength(const Char* text, size_t capacity) {
  size_t length = 0;
  while (length < capacity && text[length]) ++length;
  return length;
}

template <typename Char>
bool Contains(const Char* text, Char wanted) {
  for (; *text; ++text) {
    if (*text == wanted) return true;
  }
  return false;
}

// A terminated copy of a caller's text of at most `capacity` characters: the
// caller's buffer need not hold a terminator, so it is never read past its
// end. Short texts stay in the object, longer ones go to the heap.
template <typename Char>
class TextCopy {
 public:
  TextCopy() = default;
  TextCopy(const TextCopy&) = delete;
  TextCopy& operator=(const TextCopy&) = delete;

  bool Assign(const Char* text, size_t capacity) {
    Char* target = m_scratch;
    if (capacity + 1 > kScratchChars) {
      m_heap.reset(new (std::nothrow) Char[capacity + 1]);
      if (!m_heap) return false;
      target = m_heap.get();
    }
    m_length = BoundedLength(text, capacity);
    std::memcpy(target, text, m_length * sizeof(Char));
    target[m_length] = 0;
    m_text = target;
    return true;
  }

  const Char* Get() const { return m_text; }
  size_t Length() const { return m_length; }

 private:
  Char m_scratch[kScratchChars] = {};
  std::unique_ptr<Char[]> m_heap;
  const Char* m_text = m_scratch;
  size_t m_length = 0;
};

// Reads a present value into the caller's buffer through a scratch block, so
// the buffer keeps the default whenever the read fails. A text must fit with
// its terminator; one stored without a terminator gets one.
template <typename Char>
LSTATUS ReadValue(HKEY key, const Char* name, DWORD type, void* buffer,
                  DWORD bufferSize) {
  using Traits = RegistryParameterTraits<Char>;
  std::unique_ptr<BYTE[]> data(new (std::nothrow)
                                   BYTE[bufferSize + sizeof(Char)]);
  if (!data) return ERROR_NOT_ENOUGH_MEMORY;
  DWORD size = bufferSize;
  const LSTATUS status = Traits::Query(key, name, nullptr, data.get(), &size);
  if (status != ERROR_SUCCESS) return status;
  if (!IsTextType(type)) {
    std::memcpy(buffer, data.get(), size);
    return ERROR_SUCCESS;
  }
  const size_t capacity = bufferSize / sizeof(Char);
  const size_t stored = size / sizeof(Char);
  const auto* text = reinterpret_cast<const Char*>(data.get());
  const size_t length = BoundedLength(text, stored);
  if (length >= capacity) return ERROR_MORE_DATA;
  auto* target = static_cast<Char*>(buffer);
  std::memcpy(target, text, stored * sizeof(Char));
  if (length == stored) target[length] = 0;
  return ERROR_SUCCESS;
}

// A number stored as decimal text: converted into the buffer and, unless
// read-only, stored again as REG_DWORD so the type is corrected.
template <typename Char>
LSTATUS ConvertTextToNumber(HKEY key, const Char* name, void* buffer,
                            bool readOnly) {
  using Traits = RegistryParameterTraits<Char>;
  constexpr size_t kChars = kNumberTextBytes / sizeof(Char);
  Char text[kChars + 1] = {};
  DWORD size = kNumberTextBytes;
  LSTATUS status =
      Traits::Query(key, name, nullptr, reinterpret_cast<BYTE*>(text), &size);
  if (status != ERROR_SUCCESS) return status;
  text[size / sizeof(Char) < kChars ? size / sizeof(Char) : kChars] = 0;
  const DWORD number = Traits::ToNumber(text);
  std::memcpy(buffer, &number, sizeof(number));
  if (readOnly) return status;
  Traits::DeleteValue(key, name);
  return Traits::Set(key, name, REG_DWORD, &number, sizeof(number));
}

// Environment references in a REG_EXPAND_SZ result are expanded in place when
// the expansion fits the buffer; otherwise the text stays unexpanded.
template <typename Char>
void ExpandInPlace(Char* buffer, DWORD bufferSize) {
  using Traits = RegistryParameterTraits<Char>;
  const DWORD capacity = bufferSize / sizeof(Char);
  TextCopy<Char> source;
  if (capacity == 0 || !source.Assign(buffer, capacity - 1)) return;
  std::unique_ptr<Char[]> expanded(new (std::nothrow) Char[capacity]);
  if (!expanded) return;
  const DWORD needed = Traits::Expand(source.Get(), expanded.get(), capacity);
  if (needed == 0 || needed > capacity) return;
  expanded[needed - 1] = 0;
  std::memcpy(buffer, expanded.get(), needed * sizeof(Char));
}

template <typename Char>
DWORD GetRegParameterT(HKEY root, const Char* subKey, const Char* valueName,
                       DWORD type, void* buffer, DWORD bufferSize,
                       DWORD flags) {
  using Traits = RegistryParameterTraits<Char>;
  if (!root || !subKey || !valueName) return ERROR_INVALID_PARAMETER;
  // A number is always read and written as four bytes.
  if (buffer && type == REG_DWORD && bufferSize < sizeof(DWORD)) {
    return ERROR_INVALID_PARAMETER;
  }
  const bool readOnly = (flags & kReadOnly) != 0;
  const bool isText = type == REG_SZ || type == REG_EXPAND_SZ;
  auto* text = static_cast<Char*>(buffer);
  const size_t capacity = bufferSize / sizeof(Char);

  DWORD defaultNumber = 0;
  TextCopy<Char> defaultText;
  if (buffer && type == REG_DWORD) {
    std::memcpy(&defaultNumber, buffer, sizeof(defaultNumber));
  } else if (buffer && isText && !defaultText.Assign(text, capacity)) {
    LogMessage(Traits::kAllocFailure);
    return 0;
  }

  ScopedRegKey key;
  LSTATUS status;
  if (readOnly) {
    status = Traits::Open(root, subKey, KEY_READ, key.Receive());
  } else {
    status = Traits::Open(root, subKey, kReadWriteAccess, key.Receive());
    if (!key) status = Traits::Open(root, subKey, KEY_READ, key.Receive());
    if (!key) {
      status = Traits::Create(root, subKey, kReadWriteAccess, key.Receive());
    }
  }

  bool present = false;
  bool failure = false;
  if (key) {
    DWORD storedType = REG_NONE;
    DWORD storedSize = 0;
    status =
        Traits::Query(key.Get(), valueName, &storedType, nullptr, &storedSize);
    present = status == ERROR_SUCCESS;
    if (!buffer) {
      status = ERROR_SUCCESS;
    } else if (present) {
      if (storedType == REG_SZ && type == REG_DWORD) {
        // The text is bounded by its own limit: the four bytes of the number
        // would turn away every text of more than three digits.
        status = ConvertTextToNumber(key.Get(), valueName, buffer, readOnly);
      } else if (storedSize > bufferSize) {
        status = ERROR_MORE_DATA;
      } else if (storedType == type) {
        status = ReadValue(key.Get(), valueName, type, buffer, bufferSize);
      } else if (storedType == REG_SZ &&
                 (type == REG_EXPAND_SZ || type == REG_MULTI_SZ)) {
        status = ReadValue(key.Get(), valueName, REG_SZ, buffer, bufferSize);
      } else if (!readOnly) {
        // Stored with an unusable type: replaced by the default.
        Traits::DeleteValue(key.Get(), valueName);
        const DWORD size =
            type == REG_SZ
                ? static_cast<DWORD>((defaultText.Length() + 1) * sizeof(Char))
                : bufferSize;
        status = Traits::Set(key.Get(), valueName, type,
                             type == REG_SZ ? defaultText.Get() : buffer, size);
      }
    } else if (readOnly) {
      if (!(flags & kKeepDefault)) {
        if (type == REG_SZ) {
          if (Traits::kClearsWholeTextBuffer) {
            std::memset(buffer, 0, bufferSize);
          } else if (capacity > 0) {
            text[0] = 0;
          }
        } else if (type == REG_DWORD) {
          std::memset(buffer, 0, sizeof(DWORD));
        }
      }
      failure = true;
    } else if (type != REG_EXPAND_SZ ||
               Contains(defaultText.Get(), Char('%'))) {
      const DWORD size =
          isText ? static_cast<DWORD>((defaultText.Length() + 1) * sizeof(Char))
                 : bufferSize;
      status = Traits::Set(key.Get(), valueName, type,
                           isText ? defaultText.Get() : buffer, size);
      if (status != ERROR_SUCCESS) {
        failure = true;
        Traits::LogWriteFailure(status, valueName);
      }
    }
    key.Reset();
  } else if (!readOnly) {
    Traits::LogMissingKey(status, subKey, valueName);
    failure = true;
  }

  if (buffer && type == REG_EXPAND_SZ) ExpandInPlace(text, bufferSize);

  TextCopy<Char> resultText;
  if (buffer && isText && !resultText.Assign(text, capacity)) {
    LogMessage(Traits::kAllocFailure);
    return 0;
  }
  DWORD resultNumber = 0;
  if (buffer && type == REG_DWORD) {
    std::memcpy(&resultNumber, buffer, sizeof(resultNumber));
  }
  bool changed = false;
  if (present && buffer) {
    if (isText) {
      changed = Traits::CompareNoCase(defaultText.Get(), resultText.Get()) != 0;
    } else if (type == REG_DWORD) {
      changed = defaultNumber != resultNumber;
    }
  }

  // Quietly done: a read-only read of an unchanged value that nobody asked to
  // see, or one that failed.
  if (!(flags & kFromPolicy) && readOnly && !(flags & kKeepDefault) &&
      !changed && (!(flags & kShortTrace) || failure)) {
    ::SetLastError(status);
    return 0;
  }

  bool shortForm = (flags & kShortTrace) != 0;
  if ((flags & kTracePresent) && present) {
    flags |= kTraceAlways;
    if (!changed) shortForm = true;
  }
  const bool traced = IsDebugFlagSet(debug_flags::kRegistryTrace) ||
                      shortForm || Traits::IsAlwaysTracedName(valueName);
  const bool wanted =
      ((flags & kTraceChanged) && changed) || (flags & kTraceAlways);
  if (buffer && traced && wanted) {
    if (type == REG_DWORD) {
      Traits::TraceNumber(subKey, valueName, resultNumber, defaultNumber,
                          shortForm);
    } else if (isText) {
      Traits::TraceText(subKey, valueName, resultText.Get(), defaultText.Get(),
                        shortForm);
    }
  }

  ::SetLastError(status);
  if (status != ERROR_SUCCESS) return status;
  return changed ? 1 : 0;
}

template <typename Char>
DWORD RegGetPolicyParameterT(HKEY root, const Char* subKey,
                             const Char* valueName, DWORD type, void* buffer,
                             DWORD bufferSize, DWORD flags) {
  using Traits = RegistryParameterTraits<Char>;
  if (!root || !subKey || !valueName) return ERROR_INVALID_PARAMETER;
  constexpr size_t kPrefixChars =
      sizeof(Traits::kTarnPrefix) / sizeof(Char) - 1;
  constexpr size_t kPolicyRootChars =
      sizeof(Traits::kPolicyRoot) / sizeof(Char) - 1;
  const size_t pathLength = std::char_traits<Char>::length(subKey);
  const bool underTarn = pathLength >= kPrefixChars && [&] {
    Char head[kPrefixChars + 1] = {};
    std::memcpy(head, subKey, kPrefixChars * sizeof(Char));
    return Traits::CompareNoCase(head, Traits::kTarnPrefix) == 0;
  }();
  if (!underTarn) {
    Traits::LogPolicyMismatch(valueName);
    return GetRegParameterT(root, subKey, valueName, type, buffer, bufferSize,
                            flags);
  }

  // The rest of the path from the backslash after "Software\Tarn" on.
  const Char* rest = subKey + kPrefixChars - 1;
  const size_t restLength = pathLength - (kPrefixChars - 1);
  Char policyPath[kPolicyPathChars] = {};
  const Char* path = subKey;
  if (kPolicyRootChars + restLength < kPolicyPathChars) {
    std::memcpy(policyPath, Traits::kPolicyRoot,
                kPolicyRootChars * sizeof(Char));
    std::memcpy(policyPath + kPolicyRootChars, rest, restLength * sizeof(Char));
    ScopedRegKey policy;
    if (Traits::Open(root, policyPath, KEY_READ, policy.Receive()) ==
        ERROR_SUCCESS) {
      DWORD size = 0;
      const LSTATUS status =
          Traits::Query(policy.Get(), valueName, nullptr, nullptr, &size);
      if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        path = policyPath;
        flags |= kFromPolicy | kReadOnly;
      } else {
        ::SetLastError(status);
      }
    }
  }
  return GetRegParameterT(root, path, valueName, type, buffer, bufferSize,
                          flags);
}

template <typename Char>
DWORD SetRegParameterT(HKEY root, const Char* subKey, const Char* valueName,
                       DWORD type, const void* data, DWORD dataSize,
                       DWORD flags) {
  using Traits = RegistryParameterTraits<Char>;
  if (!root || !subKey || !valueName || !data) return ERROR_INVALID_PARAMETER;
  ScopedRegKey key;
  LSTATUS status = Traits::Open(root, subKey, kReadWriteAccess, key.Receive());
  if (!key) {
    status = Traits::Create(root, subKey, kReadWriteAccess, key.Receive());
  }
  if (!key) {
    Traits::LogSetFailure(status, subKey, valueName);
    return status;
  }
  const bool isText = type == REG_SZ || type == REG_EXPAND_SZ;
  const auto* text = static_cast<const Char*>(data);
  const DWORD size =
      isText ? static_cast<DWORD>((std::char_traits<Char>::length(text) + 1) *
                                  sizeof(Char))
             : dataSize;
  Traits::DeleteValue(key.Get(), valueName);
  Traits::Set(key.Get(), valueName, type, data, size);
  key.Reset();
  if (IsDebugFlagSet(debug_flags::kRegistryTrace) && (flags & kTraceAlways)) {
    if (type == REG_DWORD && dataSize >= sizeof(DWORD)) {
      DWORD number;
      std::memcpy(&number, data, sizeof(number));
      Traits::TraceSetNumber(subKey, valueName, number);
    } else if (isText) {
      Traits::TraceSetText(subKey, valueName, text);
    }
  }
  return ERROR_SUCCESS;
}

template <typename Char>
BOOL DeleteRegParameterT(HKEY root, const Char* subKey, const Char* valueName) {
  using Traits = RegistryParameterTraits<Char>;
  ScopedRegKey key;
  if (root && subKey && valueName &&
      Traits::Open(root, subKey, kDeleteValueAccess, key.Receive()) ==
          ERROR_SUCCESS) {
    Traits::DeleteValue(key.Get(), valueName);
  }
  return TRUE;
}

}  // namespace

DWORD GetRegParameter(HKEY root, const char* subKey, const char* valueName,
                      DWORD type, void* buffer, DWORD bufferSize, DWORD flags) {
  return GetRegParameterT(root, subKey, valueName, type, buffer, bufferSize,
                          flags);
}

DWORD GetRegParameterW(HKEY root, const wchar_t* subKey,
                       const wchar_t* valueName, DWORD type, void* buffer,
                       DWORD bufferSize, DWORD flags) {
  return GetRegParameterT(root, subKey, valueName, type, buffer, bufferSize,
                          flags);
}

DWORD RegGetPolicyParameter(HKEY root, const char* subKey,
                            const char* valueName, DWORD type, void* buffer,
                            DWORD bufferSize, DWORD flags) {
  return RegGetPolicyParameterT(root, subKey, valueName, type, buffer,
                                bufferSize, flags);
}

DWORD RegGetPolicyParameter(HKEY root, const wchar_t* subKey,
                            const wchar_t* valueName, DWORD type, void* buffer,
                            DWORD bufferSize, DWORD flags) {
  return RegGetPolicyParameterT(root, subKey, valueName, type, buffer,
                                bufferSize, flags);
}

DWORD SetRegParameter(HKEY root, const char* subKey, const char* valueName,
                      DWORD type, const void* data, DWORD dataSize,
                      DWORD flags) {
  return SetRegParameterT(root, subKey, valueName, type, data, dataSize, flags);
}

DWORD SetRegParameter(HKEY root, const wchar_t* subKey,
                      const wchar_t* valueName, DWORD type, const void* data,
                      DWORD dataSize, DWORD flags) {
  return SetRegParameterT(root, subKey, valueName, type, data, dataSize, flags);
}

BOOL DeleteRegParameter(HKEY root, const char* subKey, const char* valueName) {
  return DeleteRegParameterT(root, subKey, valueName);
}

BOOL DeleteRegParameter(HKEY root, const wchar_t* subKey,
                        const wchar_t* valueName) {
  return DeleteRegParameterT(root, subKey, valueName);
}

bool IsTrueString(const char* text) {
  if (!text) return false;
  for (const char* word : {"ON", "YES", "TRUE", "1"}) {
    if (_stricmp(text, word) == 0) return true;
  }
  return false;
}

bool IsTrueString(const wchar_t* text) {
  if (!text) return false;
  for (const wchar_t* word : {L"1", L"ON", L"YES", L"TRUE"}) {
    if (_wcsnicmp(text, word, wcslen(word)) == 0) return true;
  }
  return false;
}

}  // namespace NTarn

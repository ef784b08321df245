#include "common/wmi/WbemText.h"

#include <cwchar>
#include <memory>

#include "common/HResultException.h"

namespace NTarn {
namespace {

constexpr int kStackBufferChars = 4096;

[[noreturn]] void ThrowConversionFailure() {
  ThrowHResult(HRESULT_FROM_WIN32(::GetLastError()));
}

}  // namespace

std::string WideToAnsi(const wchar_t* text, size_t length) {
  if (!text || length == 0) return std::string();
  if (length > static_cast<size_t>(INT_MAX)) ThrowHResult(E_OUTOFMEMORY);
  const int wideLength = static_cast<int>(length);
  const int size = ::WideCharToMultiByte(CP_THREAD_ACP, 0, text, wideLength,
                                         nullptr, 0, nullptr, nullptr);
  if (size <= 0) ThrowConversionFailure();
  std::string result;
  try {
    result.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    ThrowHResult(E_OUTOFMEMORY);
  }
  if (::WideCharToMultiByte(CP_THREAD_ACP, 0, text, wideLength, &result[0],
                            size, nullptr, nullptr) != size) {
    ThrowConversionFailure();
  }
  return result;
}

std::string WideToAnsi(const wchar_t* text) {
  return text ? WideToAnsi(text, std::wcslen(text)) : std::string();
}

std::wstring AnsiToWide(const char* text) {
  if (!text || !*text) return std::wstring();
  const int size =
      ::MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, nullptr, 0);
  if (size <= 0) ThrowConversionFailure();
  std::wstring result;
  try {
    result.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    ThrowHResult(E_OUTOFMEMORY);
  }
  if (::MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, &result[0], size) !=
      size) {
    ThrowConversionFailure();
  }
  result.resize(static_cast<size_t>(size - 1));
  return result;
}

ScopedBstr AnsiToBstr(const char* text) {
  if (!text) return ScopedBstr();
  const int size =
      ::MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, nullptr, 0);
  if (size <= 0) ThrowConversionFailure();
  // Short texts, the usual case, are converted on the stack.
  wchar_t stackBuffer[kStackBufferChars];
  std::unique_ptr<wchar_t[]> heapBuffer;
  wchar_t* buffer = stackBuffer;
  if (size > kStackBufferChars) {
    heapBuffer.reset(new (std::nothrow) wchar_t[static_cast<size_t>(size)]);
    if (!heapBuffer) ThrowHResult(E_OUTOFMEMORY);
    buffer = heapBuffer.get();
  }
  if (::MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, buffer, size) != size) {
    ThrowConversionFailure();
  }
  ScopedBstr result(buffer);
  if (result.IsNull()) ThrowHResult(E_OUTOFMEMORY);
  return result;
}

ScopedBstr MakeBstr(const wchar_t* text) {
  if (!text) return ScopedBstr();
  ScopedBstr result(text);
  if (result.IsNull()) ThrowHResult(E_OUTOFMEMORY);
  return result;
}

}  // namespace NTarn

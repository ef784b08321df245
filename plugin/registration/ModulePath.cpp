#include "plugin/registration/ModulePath.h"

namespace registration {

HRESULT GetModulePath(HMODULE module, std::wstring* path) {
  if (!path) return E_POINTER;
  path->clear();
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = ::GetModuleFileNameW(module, &buffer[0], size);
    if (length == 0) return HRESULT_FROM_WIN32(::GetLastError());
    // A full buffer may have cut the path short: try again with more room.
    if (length < size) {
      buffer.resize(length);
      *path = std::move(buffer);
      return S_OK;
    }
    if (size >= 32768) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    buffer.resize(size * 2);
  }
}

}  // namespace registration

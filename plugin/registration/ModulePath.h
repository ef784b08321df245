#pragma once

#include <windows.h>

#include <string>

namespace registration {

// The full path of a loaded module, however long.
HRESULT GetModulePath(HMODULE module, std::wstring* path);

}  // namespace registration

// Text conversions of the WMI layer, through the thread's ANSI code page.
// Failures raise HResultException: the Win32 error as an HRESULT, or
// E_OUTOFMEMORY.
#pragma once

#include <windows.h>

#include <string>

#include "common/ScopedBstr.h"

namespace NTarn {

std::string WideToAnsi(const wchar_t* text);
std::string WideToAnsi(const wchar_t* text, size_t length);
std::wstring AnsiToWide(const char* text);
// A new BSTR of an ANSI text; a null text gives a null BSTR.
ScopedBstr AnsiToBstr(const char* text);
// A new BSTR copy of a wide text; a null text gives a null BSTR.
ScopedBstr MakeBstr(const wchar_t* text);

}  // namespace NTarn

// wcsftime patterns made safe for the Windows C runtime, which may end the
// process through its invalid-parameter handler on a directive it does not
// know.
#pragma once

#include <optional>
#include <string>

// Returns the pattern to hand to wcsftime, or nothing when it holds a
// directive the runtime does not define. "%ls", which older schedule log
// patterns used for the seconds, becomes "%S".
std::optional<std::wstring> MakeSafeTimePattern(const wchar_t* pattern);

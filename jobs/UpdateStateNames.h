// The software-update states the client reports in CCM_TargetedUpdateEx1's
// UpdateStatus, named as settings name them.
#pragma once

#include <windows.h>

#include <cstddef>

// Names by state number: UpdateStateNames[9] is "Installing".
inline constexpr size_t kUpdateStateCount = 17;
extern const wchar_t* const UpdateStateNames[kUpdateStateCount];

// The name of `state`, or null for a number outside the table.
const wchar_t* UpdateStateName(LONG state);

// The number whose name equals `name` ignoring case, the lowest first; -1
// for a text that names no state (a blank is part of the text).
LONG FindUpdateState(const wchar_t* name, size_t length);

// The text settings the plug-in reads and the buffer each one must fit: the
// smallest of the buffers its reads use, in bytes with the terminator. A
// stored text that does not fit is not read at all, so a tool can warn about
// one before the plug-in silently keeps its previous or default text.
#pragma once

#include <windows.h>

#include <algorithm>

#include "autopowerdown/SettingsKeys.h"
#include "observer/ObserverSettings.h"

struct TextSettingLimit {
  const char* valueName;
  DWORD bufferBytes;
};

inline constexpr DWORD kStateListLimitBytes = std::min(
    ObserverSettings::kStateListBytes, autopowerdown_keys::kStateListBytes);

inline constexpr TextSettingLimit kTextSettingLimits[] = {
    {"MonitorJobs", ObserverSettings::kMonitorJobsBytes},
    {"AllowedShutdownJobStates", kStateListLimitBytes},
    {"AllowedShutdownUpdateStates", kStateListLimitBytes},
    {"LogOffAction", autopowerdown_keys::kLogoffActionBytes},
    {"ShutdownMsg", autopowerdown_keys::kShutdownMessageBytes},
};

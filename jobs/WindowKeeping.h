// Whether a job's policy keeps it to maintenance windows, and which windows
// apply to it, from its software-distribution policy.
#pragma once

#include <windows.h>
#include <wbemcli.h>

#include <optional>
#include <string>

#include "jobs/ServiceWindow.h"

// The kind of work whose windows hold `policy`'s job back, when its policy
// keeps it to windows: a PRG_Requirements text whose OverrideServiceWindows
// element says FALSE (in any letter case). None when the policy says TRUE,
// lacks the element or the text, or is of a class whose kind cannot be told
// (a package program is a CCM_SoftwareDistribution, a task sequence a
// CCM_TaskSequence): such a job runs when it is due, as without the rules.
std::optional<WindowWork> WindowKeepingOf(IWbemClassObject* policy);

// The content of the first <OverrideServiceWindows> element of a
// PRG_Requirements text, blanks trimmed; none without the element.
std::optional<std::wstring> OverrideServiceWindowsOf(
    const std::wstring& requirements);

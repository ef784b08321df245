// Where the auto power-down settings and state live, below
// HKEY_LOCAL_MACHINE; each setting can be overridden by a value of the same
// name in the policy twin below "Software\Policies\Tarn".
#pragma once

#include <windows.h>

namespace autopowerdown_keys {

constexpr char kSettings[] = "Software\\Tarn\\Vesperline";
// The time of the attempt most recently scheduled; deleted when a cycle runs
// out of attempts.
constexpr char kState[] = "Software\\Tarn\\Vesperline\\AutoPowerDown";
constexpr char kLastAttemptTime[] = "LastPowerDownAttemptTime";

// Buffers the text settings are read into, in bytes with the terminator. A
// stored text that does not fit is not read at all, so these sizes are also
// the most the Group Policy template lets an administrator enter.
// "AllowedShutdownJobStates" and "AllowedShutdownUpdateStates", at each
// auto-shutdown event:
constexpr DWORD kStateListBytes = 1040;
constexpr DWORD kLogoffActionBytes = 20;        // "LogOffAction"
constexpr DWORD kShutdownMessageBytes = 500;    // "ShutdownMsg"
constexpr DWORD kMaintenanceWindowsBytes = 10;  // "MaintenanceWindows"

}  // namespace autopowerdown_keys

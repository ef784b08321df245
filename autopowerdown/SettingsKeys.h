// Where the auto power-down settings and state live, below
// HKEY_LOCAL_MACHINE; each setting can be overridden by a value of the same
// name in the policy twin below "Software\Policies\Tarn".
#pragma once

namespace autopowerdown_keys {

constexpr char kSettings[] = "Software\\Tarn\\Vesperline";
// The time of the attempt most recently scheduled; deleted when a cycle runs
// out of attempts.
constexpr char kState[] = "Software\\Tarn\\Vesperline\\AutoPowerDown";
constexpr char kLastAttemptTime[] = "LastPowerDownAttemptTime";

}  // namespace autopowerdown_keys

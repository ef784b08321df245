// vplhost's exit codes, for scripts and monitoring; listed in --help.
#pragma once

namespace vplhost {

enum ExitCode : int {
  kExitSuccess = 0,       // no objection, or the command did what was asked
  kExitFailure = 1,       // a Windows or COM call failed
  kExitUsage = 2,         // bad command line
  kExitObjection = 3,     // an observer objects to the power-down
  kExitScenario = 4,      // the scenario file is missing or malformed
  kExitPlugin = 5,        // the DLL will not load, create or unload
  kExitInvalidToken = 6,  // a schedule token does not decode
};

}  // namespace vplhost

// The host's part in an auto-shutdown run, played in real time at the
// console: raises the auto-shutdown event, reports each minute, shows every
// power-down request the plug-in makes, and carries out the administrator's
// commands (answers to the request, power-state changes, user input) until
// quit, the end of the input or Ctrl+C.
#pragma once

#include <windows.h>

#include <string>

#include "tools/vplhost/HostServices.h"
#include "tools/vplhost/RunReport.h"

namespace vplhost {

class AutoshutdownConsole {
 public:
  // `batteryStated` says whether the plug-in sees a stated battery that the
  // "ac" and "battery" commands change.
  AutoshutdownConsole(RunReport& report, PowerDownProvider* powerDown,
                      EventBroker* broker, TimeSinceLastInputProvider* idle,
                      bool batteryStated);
  AutoshutdownConsole(const AutoshutdownConsole&) = delete;
  AutoshutdownConsole& operator=(const AutoshutdownConsole&) = delete;

  // Returns the run's exit code once the administrator stops it; the
  // caller then lets the plug-in go as the host does.
  int Run();

  // The commands, for --help.
  static const char kCommands[];

 private:
  // Carries out one command line; false when it ends the run.
  bool Execute(const std::string& line);
  void Answer(bool complete);
  void ReportPowerState(LONG state);
  void ReportMinute(int minute);

  RunReport& m_report;
  PowerDownProvider* const m_powerDown;
  EventBroker* const m_broker;
  TimeSinceLastInputProvider* const m_idle;
  const bool m_batteryStated;
};

}  // namespace vplhost

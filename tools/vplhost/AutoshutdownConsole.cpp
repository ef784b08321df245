#include "tools/vplhost/AutoshutdownConsole.h"

#include <atomic>
#include <cctype>

#include "common/ScopedHandle.h"
#include "tools/vplhost/CommandReader.h"
#include "tools/vplhost/ExitCode.h"
#include "tools/vplhost/StatedBattery.h"

namespace vplhost {
namespace {

constexpr ULONGLONG kMinuteMilliseconds = 60000;

// Set by the console's Ctrl+C, Ctrl+Break and close events; the handler
// runs on a thread of the system's own and only signals the run.
std::atomic<HANDLE> g_interrupt{nullptr};

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT &&
      event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  const HANDLE interrupt = g_interrupt.load();
  if (!interrupt) return FALSE;
  ::SetEvent(interrupt);
  return TRUE;
}

// The console control handler for the duration of a run.
class InterruptScope {
 public:
  InterruptScope() : m_event(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    g_interrupt.store(m_event.Get());
    ::SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
  }
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;
  ~InterruptScope() {
    ::SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
    g_interrupt.store(nullptr);
  }
  HANDLE Event() const { return m_event.Get(); }

 private:
  NTarn::ScopedHandle m_event;
};

// The error code a host passes when it calls a request off.
const LONG kCancelCode = static_cast<LONG>(HRESULT_FROM_WIN32(ERROR_CANCELLED));

}  // namespace

const char AutoshutdownConsole::kCommands[] =
    "  complete   report the open power-down request as completed\n"
    "  cancel     report the open power-down request as cancelled\n"
    "  input      a user touches the machine: the idle time counts from now\n"
    "  ac         the machine runs on AC power (power state 1)\n"
    "  battery    the machine runs on battery (power state 2)\n"
    "  hibernate  the machine goes into hibernation (power state 3)\n"
    "  sleep      the machine goes to sleep (power state 4)\n"
    "  resume     the machine is back from a power-down (power state 5)\n"
    "  help       lists these commands\n"
    "  quit       stops the run (so do the end of the input and Ctrl+C)\n";

AutoshutdownConsole::AutoshutdownConsole(RunReport& report,
                                         PowerDownProvider* powerDown,
                                         EventBroker* broker,
                                         TimeSinceLastInputProvider* idle,
                                         bool batteryStated)
    : m_report(report),
      m_powerDown(powerDown),
      m_broker(broker),
      m_idle(idle),
      m_batteryStated(batteryStated) {}

int AutoshutdownConsole::Run() {
  InterruptScope interrupt;
  CommandReader reader;
  if (!interrupt.Event() ||
      FAILED(reader.Start(::GetStdHandle(STD_INPUT_HANDLE)))) {
    m_report.Error("vplhost: cannot read commands from standard input");
    return kExitFailure;
  }
  m_report.Line(
      "vplhost: commands, one a line: complete, cancel, input, ac, battery, "
      "hibernate, sleep, resume, help, quit\n");
  m_report.Line("host: raising the auto-shutdown event\n");
  const HRESULT raised = m_broker->RaiseAutoshutdown();
  m_report.Line("vplhost: OnAutoshutdown returned 0x%08lx\n",
                static_cast<unsigned long>(raised));
  if (FAILED(raised)) return kExitFailure;

  const ULONGLONG start = ::GetTickCount64();
  int minute = 0;
  const HANDLE handles[] = {interrupt.Event(), reader.Available()};
  for (;;) {
    const ULONGLONG due = start + (minute + 1) * kMinuteMilliseconds;
    const ULONGLONG now = ::GetTickCount64();
    const DWORD timeout = due > now ? static_cast<DWORD>(due - now) : 0;
    const DWORD wait = ::WaitForMultipleObjects(2, handles, FALSE, timeout);
    if (wait == WAIT_TIMEOUT) {
      ReportMinute(++minute);
      continue;
    }
    if (wait == WAIT_OBJECT_0) {
      m_report.Line("vplhost: interrupted; stopping\n");
      break;
    }
    if (wait != WAIT_OBJECT_0 + 1) {
      m_report.Error("vplhost: waiting for a command failed: error " +
                     std::to_string(::GetLastError()));
      return kExitFailure;
    }
    const std::optional<std::string> command = reader.Take();
    if (!command) {
      m_report.Line("vplhost: end of input; stopping\n");
      break;
    }
    if (!Execute(*command)) break;
    reader.ReadNext();
  }
  return kExitSuccess;
}

bool AutoshutdownConsole::Execute(const std::string& line) {
  // Commands are read in any letter case.
  std::string command = line;
  for (char& c : command)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (command.empty()) return true;
  if (command == "quit" || command == "exit") {
    m_report.Line("vplhost: stopping\n");
    return false;
  }
  if (command == "complete" || command == "cancel") {
    Answer(command == "complete");
  } else if (command == "input") {
    m_idle->ReportInput();
    m_report.Line("host: user input; the idle time counts from now\n");
  } else if (command == "ac" || command == "battery") {
    const bool ac = command == "ac";
    if (m_batteryStated) {
      StatedBattery::Change(ac ? StatedBattery::State::kAc
                               : StatedBattery::State::kDischarging);
    }
    ReportPowerState(ac ? kPowerStateOnAc : kPowerStateOnBattery);
  } else if (command == "hibernate") {
    ReportPowerState(kPowerStateHibernating);
  } else if (command == "sleep") {
    ReportPowerState(kPowerStateSleeping);
  } else if (command == "resume") {
    ReportPowerState(kPowerStateResumed);
  } else if (command == "help") {
    m_report.Line("vplhost: commands:\n%s", kCommands);
  } else {
    m_report.Line("vplhost: unknown command \"%s\"; \"help\" lists them\n",
                  command.c_str());
  }
  return true;
}

// The host's outcome report on the open request, through its context.
void AutoshutdownConsole::Answer(bool complete) {
  const ComPtr<IPowerDownContext> context = m_powerDown->TakeOpenRequest();
  if (!context) {
    m_report.Line("host: no power-down request is open\n");
    return;
  }
  const HRESULT hr =
      complete ? context->Complete() : context->Cancel(kCancelCode);
  int outcome = 0;
  context->GetOutcome(&outcome);
  m_report.Line("host: request %s: %s returned 0x%08lx, outcome %d\n",
                complete ? "completed" : "cancelled",
                complete ? "Complete" : "Cancel",
                static_cast<unsigned long>(hr), outcome);
  if (complete) {
    m_report.Line(
        "host: after a real power-down the host reports the machine back: "
        "\"resume\"\n");
  }
}

void AutoshutdownConsole::ReportPowerState(LONG state) {
  const HRESULT hr = m_broker->RaisePowerStateChange(state);
  m_report.Line(
      "host: power state %ld (%s): OnPowerStateChange returned "
      "0x%08lx\n",
      static_cast<long>(state), PowerStateName(state),
      static_cast<unsigned long>(hr));
  if ((state == kPowerStateOnAc || state == kPowerStateOnBattery) &&
      !m_batteryStated) {
    m_report.Line(
        "vplhost: the scenario states no battery; the plug-in still reads "
        "this machine's own\n");
  }
}

void AutoshutdownConsole::ReportMinute(int minute) {
  const int requests = m_powerDown->RequestCount();
  if (m_powerDown->OpenRequest()) {
    m_report.Line("host: minute %d: power-down request %d is open\n", minute,
                  requests);
  } else if (requests > 0) {
    m_report.Line(
        "host: minute %d: %d power-down request(s) so far, none "
        "open\n",
        minute, requests);
  } else {
    m_report.Line("host: minute %d: no power-down request yet\n", minute);
  }
}

}  // namespace vplhost

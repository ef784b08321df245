// The power-down question as a sequence of grounds: the observer answers the
// host from it, and a tool that explains the answer walks the same steps.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>

#include "jobs/ISMSJobsDetector.h"
#include "observer/ObserverSettings.h"

// Where the question ended, in the order it is asked.
enum class PowerDownGround {
  kPortableOnBattery,  // a portable machine on battery is never held up
  kMonitoringOff,
  kNoClient,
  kNoDetector,  // the detector could not be made
  kJobsRunning,
  kJobsPending,
  kWorkWaitsForWindow,  // held on for the maintenance window it waits for
  kNothingDue,
};

// "portableOnBattery", "monitoringOff", ...: the ground as the decision
// record and vplhost's JSON name it.
const char* PowerDownGroundName(PowerDownGround ground);

struct PowerDownJudgement {
  PowerDownGround ground = PowerDownGround::kNothingDue;
  bool portable = false;
  bool onAcWithBattery = true;
  // The window the pending question was asked with, in minutes.
  DWORD windowMinutes = 0;
  // What the maintenance-window rule found waiting, on that ground.
  std::optional<WindowWait> windowWait;

  bool Objects() const {
    return ground == PowerDownGround::kJobsRunning ||
           ground == PowerDownGround::kJobsPending ||
           ground == PowerDownGround::kWorkWaitsForWindow;
  }
  // Whether the question got as far as re-reading the state lists.
  bool AskedTheClient() const { return ground >= PowerDownGround::kNoDetector; }
};

// Makes the detector of one question from the window and the two lists of
// states to ignore (which it may write into).
using DetectorMaker = std::function<std::unique_ptr<ISMSJobsDetector>(
    DWORD windowMinutes, wchar_t* jobStates, wchar_t* updateStates)>;

// Asks the system capabilities, the monitoring switch, the client's
// presence and then the detector, stopping at the first ground that decides.
// `settings` is the question's copy: its state lists are read again once the
// client is known to be there, and `listsRead` (when set) sees them before
// the detector is made. May raise what the detector raises.
PowerDownJudgement JudgePowerDown(
    ObserverSettings& settings, const DetectorMaker& makeDetector,
    const std::function<void(const ObserverSettings&)>& listsRead = {});

#include "observer/PowerDownJudgement.h"

#include <string>

#include "common/SystemCapabilities.h"
#include "common/wmi/WbemText.h"
#include "observer/ConfigMgrClientPresence.h"

PowerDownJudgement JudgePowerDown(
    ObserverSettings& settings, const DetectorMaker& makeDetector,
    const std::function<void(const ObserverSettings&)>& listsRead) {
  PowerDownJudgement judgement;
  // Both questions are asked every time.
  NTarn::SystemCapabilities& system = NTarn::TheSystemCapabilities();
  judgement.portable = system.IsPortableChassis();
  judgement.onAcWithBattery = system.IsOnAcWithBattery();
  judgement.windowMinutes = settings.PendingWindowMinutes();
  if (judgement.portable && !judgement.onAcWithBattery) {
    judgement.ground = PowerDownGround::kPortableOnBattery;
    return judgement;
  }
  if (!settings.MonitoringOn()) {
    judgement.ground = PowerDownGround::kMonitoringOff;
    return judgement;
  }
  if (!IsConfigMgrClientPresent()) {
    judgement.ground = PowerDownGround::kNoClient;
    return judgement;
  }

  // The lists are read again for every question; the switch and the window
  // keep what the last LoadSettings read.
  settings.ReloadStateLists();
  if (listsRead) listsRead(settings);
  std::wstring jobStates = NTarn::AnsiToWide(settings.AllowedJobStates());
  std::wstring updateStates = NTarn::AnsiToWide(settings.AllowedUpdateStates());
  const std::unique_ptr<ISMSJobsDetector> detector = makeDetector(
      judgement.windowMinutes, jobStates.data(), updateStates.data());
  if (!detector) {
    judgement.ground = PowerDownGround::kNoDetector;
    return judgement;
  }
  detector->SetStaleJobHours(settings.StaleJobHours());
  detector->SetMaintenanceWindows(settings.MaintenanceWindowsOn());
  if (detector->SMSJobsAreRunning()) {
    judgement.ground = PowerDownGround::kJobsRunning;
  } else if (detector->SMSPendingJobsFound()) {
    judgement.ground = PowerDownGround::kJobsPending;
  } else if ((judgement.windowWait = detector->WorkWaitingForWindow())) {
    judgement.ground = PowerDownGround::kWorkWaitsForWindow;
  } else {
    judgement.ground = PowerDownGround::kNothingDue;
  }
  return judgement;
}

const char* PowerDownGroundName(PowerDownGround ground) {
  switch (ground) {
    case PowerDownGround::kPortableOnBattery:
      return "portableOnBattery";
    case PowerDownGround::kMonitoringOff:
      return "monitoringOff";
    case PowerDownGround::kNoClient:
      return "noClient";
    case PowerDownGround::kNoDetector:
      return "noDetector";
    case PowerDownGround::kJobsRunning:
      return "jobsRunning";
    case PowerDownGround::kJobsPending:
      return "jobsPending";
    case PowerDownGround::kWorkWaitsForWindow:
      return "workWaitsForWindow";
    case PowerDownGround::kNothingDue:
      return "nothingDue";
  }
  return "unknown";
}

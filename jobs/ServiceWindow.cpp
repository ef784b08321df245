#include "jobs/ServiceWindow.h"

const wchar_t* WindowWorkName(WindowWork work) {
  switch (work) {
    case WindowWork::kSoftwareUpdate:
      return L"Software update";
    case WindowWork::kProgram:
      return L"Program";
    case WindowWork::kTaskSequence:
      return L"Task sequence";
  }
  return L"Unknown";
}

const wchar_t* ServiceWindowTypeName(DWORD type) {
  switch (type) {
    case kAllDeploymentsWindow:
      return L"All deployments";
    case kProgramsWindow:
      return L"Programs";
    case kRebootRequiredWindow:
      return L"Reboot required";
    case kSoftwareUpdatesWindow:
      return L"Software updates";
    case kTaskSequencesWindow:
      return L"Task sequences";
    case kBusinessHoursWindow:
      return L"Business hours";
  }
  return L"Unknown";
}

#include "jobs/UpdateStateNames.h"

#include <climits>

const wchar_t* const UpdateStateNames[kUpdateStateCount] = {
    L"None",              // 0
    L"Available",         // 1
    L"Submitted",         // 2
    L"Detecting",         // 3
    L"DownloadingCIDef",  // 4
    L"DownloadingSdmPkg",
    L"PreDownload",
    L"Downloading",
    L"WaitInstall",
    L"Installing",  // 9
    L"PendingSoftReboot",
    L"PendingHardReboot",
    L"WaitReboot",
    L"Verifying",
    L"InstallComplete",
    L"Error",
    L"WaitingServiceWindow",  // 16
};

const wchar_t* UpdateStateName(LONG state) {
  if (state < 0 || static_cast<size_t>(state) >= kUpdateStateCount) {
    return nullptr;
  }
  return UpdateStateNames[state];
}

LONG FindUpdateState(const wchar_t* name, size_t length) {
  if (!name || length > INT_MAX) return -1;
  for (size_t state = 0; state < kUpdateStateCount; ++state) {
    if (::CompareStringOrdinal(name, static_cast<int>(length),
                               UpdateStateNames[state], -1,
                               TRUE) == CSTR_EQUAL) {
      return static_cast<LONG>(state);
    }
  }
  return -1;
}

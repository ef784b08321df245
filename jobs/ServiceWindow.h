// One maintenance-window occurrence as the client resolves it, and the kinds
// of work the client holds to such windows.
#pragma once

#include <windows.h>

#include <ctime>
#include <string>

// What a window is for, by the client's Type numbers.
enum ServiceWindowType : DWORD {
  kAllDeploymentsWindow = 1,
  kProgramsWindow = 2,
  kRebootRequiredWindow = 3,
  kSoftwareUpdatesWindow = 4,
  kTaskSequencesWindow = 5,
  kBusinessHoursWindow = 6,
};

// The kinds of work a window can hold back.
enum class WindowWork { kSoftwareUpdate, kProgram, kTaskSequence };

struct ServiceWindow {
  std::wstring id;
  DWORD type = 0;
  // Local-clock start; the end is the start plus the duration.
  __time64_t start = 0;
  DWORD durationSeconds = 0;

  __time64_t End() const { return start + durationSeconds; }
  // The client lists an occurrence without a duration where a machine has
  // no window at all; it holds nothing back.
  bool IsPlaceholder() const { return durationSeconds == 0; }
  bool IsOpenAt(__time64_t time) const {
    return !IsPlaceholder() && start <= time && time < End();
  }
};

// "Software update", "Program", "Task sequence".
const wchar_t* WindowWorkName(WindowWork work);
// The client's name of a window type: "All deployments", "Programs",
// "Reboot required", "Software updates", "Task sequences", "Business hours",
// or "Unknown".
const wchar_t* ServiceWindowTypeName(DWORD type);

// Work that waits for a window, and the window that lets it run.
struct WindowWait {
  // The update's ID or the application's name.
  std::wstring item;
  WindowWork work = WindowWork::kSoftwareUpdate;
  ServiceWindow window;
};

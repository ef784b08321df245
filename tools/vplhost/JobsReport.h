// `vplhost jobs`: the scheduled messages that name a job, each evaluated by
// the pending-jobs question's own per-message code, with where its next
// start falls: inside the observer's window, within the horizon, beyond it.
#pragma once

#include <windows.h>

#include <ctime>
#include <nlohmann/json.hpp>
#include <string>

namespace vplhost {

struct JobsQuestion {
  __time64_t now = 0;
  DWORD windowMinutes = 0;
  std::string windowSource;
  unsigned hours = 24;
  // The maintenance-window rules on: the listing marks the jobs that wait
  // for a window and lists the windows within the horizon.
  bool maintenanceWindows = false;
};

// Walks the client's scheduled messages through whatever WMI this process
// sees. The document holds "jobs" (one entry a message naming a job, in the
// order WMI returns them) and "clientSchedules" (the client's own, counted);
// a client that cannot be asked gives "error" with its HRESULT text.
nlohmann::ordered_json ListJobs(const JobsQuestion& question);
// The listing for people.
std::string JobsText(const nlohmann::ordered_json& listing);

}  // namespace vplhost

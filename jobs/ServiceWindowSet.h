// The machine's maintenance windows as the client applies them: which window
// types hold which work back, and when a window is open for it.
#pragma once

#include <windows.h>

#include <ctime>
#include <vector>

#include "jobs/ServiceWindow.h"

class ServiceWindowSet {
 public:
  ServiceWindowSet() = default;
  // `updatesUseAllDeployments`: the client setting that lets updates use
  // "All deployments" windows although software-update windows exist.
  ServiceWindowSet(std::vector<ServiceWindow> occurrences,
                   bool updatesUseAllDeployments);

  // Every occurrence as read, placeholders included.
  const std::vector<ServiceWindow>& Occurrences() const {
    return m_occurrences;
  }

  // Whether a window of `type` lets `work` run. Updates keep to
  // software-update windows where there is one, unless the client setting
  // lets them use "All deployments" windows too; without one they use those.
  // Programs also use program windows, task sequences task-sequence windows.
  bool Applies(DWORD type, WindowWork work) const;
  // Whether the client holds `work` to windows: a window that applies to it
  // exists. Placeholders count for nothing.
  bool Governs(WindowWork work) const;
  // An applicable window open at `time`, or null.
  const ServiceWindow* OpenAt(WindowWork work, __time64_t time) const;
  // The applicable window open at `now` or opening no later than `seconds`
  // after it that starts first, or null.
  const ServiceWindow* OpenWithin(WindowWork work, __time64_t now,
                                  __time64_t seconds) const;
  // The applicable window that opens first after `time`, or null.
  const ServiceWindow* NextOpening(WindowWork work, __time64_t time) const;

 private:
  bool HasWindowOfType(DWORD type) const;

  std::vector<ServiceWindow> m_occurrences;
  bool m_updatesUseAllDeployments = false;
};

#include "jobs/ServiceWindowSet.h"

#include <utility>

ServiceWindowSet::ServiceWindowSet(std::vector<ServiceWindow> occurrences,
                                   bool updatesUseAllDeployments)
    : m_occurrences(std::move(occurrences)),
      m_updatesUseAllDeployments(updatesUseAllDeployments) {}

bool ServiceWindowSet::HasWindowOfType(DWORD type) const {
  for (const ServiceWindow& window : m_occurrences) {
    if (window.type == type && !window.IsPlaceholder()) return true;
  }
  return false;
}

bool ServiceWindowSet::Applies(DWORD type, WindowWork work) const {
  switch (work) {
    case WindowWork::kSoftwareUpdate:
      if (type == kSoftwareUpdatesWindow) return true;
      return type == kAllDeploymentsWindow &&
             (m_updatesUseAllDeployments ||
              !HasWindowOfType(kSoftwareUpdatesWindow));
    case WindowWork::kProgram:
      return type == kAllDeploymentsWindow || type == kProgramsWindow;
    case WindowWork::kTaskSequence:
      return type == kAllDeploymentsWindow || type == kTaskSequencesWindow;
  }
  return false;
}

bool ServiceWindowSet::Governs(WindowWork work) const {
  for (const ServiceWindow& window : m_occurrences) {
    if (!window.IsPlaceholder() && Applies(window.type, work)) return true;
  }
  return false;
}

const ServiceWindow* ServiceWindowSet::OpenAt(WindowWork work,
                                              __time64_t time) const {
  for (const ServiceWindow& window : m_occurrences) {
    if (window.IsOpenAt(time) && Applies(window.type, work)) return &window;
  }
  return nullptr;
}

const ServiceWindow* ServiceWindowSet::OpenWithin(WindowWork work,
                                                  __time64_t now,
                                                  __time64_t seconds) const {
  const ServiceWindow* first = nullptr;
  for (const ServiceWindow& window : m_occurrences) {
    if (window.IsPlaceholder() || !Applies(window.type, work)) continue;
    if (window.End() <= now || window.start - now > seconds) continue;
    if (!first || window.start < first->start) first = &window;
  }
  return first;
}

const ServiceWindow* ServiceWindowSet::NextOpening(WindowWork work,
                                                   __time64_t time) const {
  const ServiceWindow* first = nullptr;
  for (const ServiceWindow& window : m_occurrences) {
    if (window.IsPlaceholder() || !Applies(window.type, work)) continue;
    if (window.start <= time) continue;
    if (!first || window.start < first->start) first = &window;
  }
  return first;
}

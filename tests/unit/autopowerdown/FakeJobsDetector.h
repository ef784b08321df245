// A job detector whose policy-refresh answer a test scripts, with hooks into
// the moments the worker and the handler call it.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "common/HResultException.h"
#include "jobs/ISMSJobsDetector.h"

namespace vpltest {

class FakeJobsDetector : public ISMSJobsDetector {
 public:
  FakeJobsDetector() : ISMSJobsDetector(L"") {}

  // A refresh is seen from this minute on (0: never); the question raises
  // at `raiseAtMinute`.
  int refreshFromMinute = 0;
  int raiseAtMinute = 0;
  std::function<void(int minute)> onAsked;
  std::function<void()> onInit;

  HRESULT Init(DWORD window, wchar_t* jobs, wchar_t* updates) override {
    Record(0);
    if (onInit) onInit();
    return ISMSJobsDetector::Init(window, jobs, updates);
  }
  bool SMSJobsAreRunning() override { return false; }
  bool SMSPendingJobsFound() override { return false; }
  bool SMSJobsRunningOrPending() override { return false; }
  bool FoundRecentPolicyRefreshEvent(int minutes) override {
    Record(minutes);
    if (onAsked) onAsked(minutes);
    if (minutes == raiseAtMinute) NTarn::ThrowHResult(E_UNEXPECTED);
    return refreshFromMinute != 0 && minutes >= refreshFromMinute;
  }

  // The minutes asked about, with 0 for each Init.
  std::vector<int> Calls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
  }

 private:
  void Record(int minute) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back(minute);
  }
  mutable std::mutex m_mutex;
  std::vector<int> m_calls;
};

}  // namespace vpltest

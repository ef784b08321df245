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
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      ++m_inits;
    }
    if (onInit) onInit();
    return ISMSJobsDetector::Init(window, jobs, updates);
  }
  bool SMSJobsAreRunning() override { return false; }
  bool SMSPendingJobsFound() override { return false; }
  bool SMSJobsRunningOrPending() override { return false; }
  bool FoundRecentPolicyRefreshEvent(int minutes) override {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_asked.push_back(minutes);
    }
    if (onAsked) onAsked(minutes);
    if (minutes == raiseAtMinute) NTarn::ThrowHResult(E_UNEXPECTED);
    return refreshFromMinute != 0 && minutes >= refreshFromMinute;
  }

  std::vector<int> AskedMinutes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_asked;
  }
  int Inits() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_inits;
  }

 private:
  mutable std::mutex m_mutex;
  std::vector<int> m_asked;
  int m_inits = 0;
};

}  // namespace vpltest

#include "jobs/SMSJobsDetector.h"

#include <iterator>

#include "common/Logging.h"
#include "jobs/UpdateStateNames.h"

using NTarn::IsDebugFlagSet;
using NTarn::LogMessage;
namespace debug_flags = NTarn::debug_flags;

namespace {

// Deployment states that never hold a power-down up, whatever the settings.
constexpr const wchar_t* kDefaultIgnoredJobStates[] = {
    L"WaitingDisabled", L"WaitingEnvironment", L"ReportStatusAtReboot",
    L"AdvancedDownload"};
// Update states likewise: "None", "Available", the three reboot waits,
// "InstallComplete", "Error" and "WaitingServiceWindow".
constexpr LONG kDefaultIgnoredUpdateStates[] = {0, 1, 10, 11, 12, 14, 15, 16};

bool IsSeparator(wchar_t c) { return c == L',' || c == L';'; }

// Calls `onToken(begin, length)` for each token of `text` between ',' and
// ';'. Runs of separators and separators at either end make no token; a
// blank belongs to its token.
template <typename OnToken>
void ForEachToken(const wchar_t* text, OnToken&& onToken) {
  if (!text) return;
  const wchar_t* p = text;
  while (*p) {
    while (*p && IsSeparator(*p)) ++p;
    const wchar_t* begin = p;
    while (*p && !IsSeparator(*p)) ++p;
    if (p != begin) onToken(begin, static_cast<size_t>(p - begin));
  }
}

}  // namespace

HRESULT ISMSJobsDetector::Init(DWORD windowMinutes, wchar_t*, wchar_t*) {
  m_pendingWindowMinutes = windowMinutes;
  m_ignoredJobStates.clear();
  m_ignoredUpdateStates.clear();
  return S_OK;
}

CSMSJobsDetector::CSMSJobsDetector(const wchar_t* refreshScope)
    : ISMSJobsDetector(refreshScope) {}

CSMSJobsDetector::CSMSJobsDetector(const wchar_t* refreshScope,
                                   DWORD windowMinutes, wchar_t* jobStates,
                                   wchar_t* updateStates)
    : ISMSJobsDetector(refreshScope) {
  Init(windowMinutes, jobStates, updateStates);
}

// The settings only ever add to the defaults, and every call starts again
// from them. Running out of memory raises std::bad_alloc.
HRESULT CSMSJobsDetector::Init(DWORD windowMinutes, wchar_t* jobStates,
                               wchar_t* updateStates) {
  ISMSJobsDetector::Init(windowMinutes, jobStates, updateStates);
  m_ignoredJobStates.assign(std::begin(kDefaultIgnoredJobStates),
                            std::end(kDefaultIgnoredJobStates));
  m_ignoredUpdateStates.assign(std::begin(kDefaultIgnoredUpdateStates),
                               std::end(kDefaultIgnoredUpdateStates));

  ForEachToken(jobStates, [this](const wchar_t* token, size_t length) {
    m_ignoredJobStates.emplace_back(token, length);
  });
  // Names that are no state are dropped without a word.
  ForEachToken(updateStates, [this](const wchar_t* token, size_t length) {
    const LONG state = FindUpdateState(token, length);
    if (state >= 0) m_ignoredUpdateStates.push_back(state);
  });

  if (IsDebugFlagSet(debug_flags::kVerbose)) {
    LogMessage("%T: Ignored states for SMS running deployments:\t");
    for (const std::wstring& state : m_ignoredJobStates) {
      LogMessage("%ls\t", state.c_str());
    }
    LogMessage("\n");
    LogMessage("%T: Ignored states for SMS running software updates:\t");
    for (LONG state : m_ignoredUpdateStates) {
      LogMessage("%ls\t", UpdateStateName(state));
    }
    LogMessage("\n");
  }
  return S_OK;
}

bool CSMSJobsDetector::SMSJobsAreRunning() {
  return SMSDeploymentsAreRunning() || SMSSoftwareUpdatesAreRunning();
}

bool CSMSJobsDetector::SMSJobsRunningOrPending() {
  return SMSJobsAreRunning() || SMSPendingJobsFound();
}

// Whether the software distribution agent is running a deployment: an
// execution request in a running state whose State the settings do not
// ignore, and which, when the settings give a limit, the client received
// within that many hours.
#include "jobs/SMSJobsDetector.h"

#include <wbemcli.h>
#include <wrl/client.h>

#include <algorithm>
#include <climits>
#include <iterator>
#include <string>

#include "common/Logging.h"
#include "common/wmi/WbemConnection.h"
#include "common/wmi/WbemProperty.h"
#include "common/wmi/WbemQuestion.h"
#include "common/wmi/WbemResults.h"
#include "jobs/AutomationDate.h"
#include "jobs/Clock.h"

using NTarn::IsDebugFlagSet;
using NTarn::LogMessage;
namespace debug_flags = NTarn::debug_flags;

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kSoftMgmtAgentNamespace[] = L"root\\CCM\\SoftMgmtAgent";

// The client has named its execution-request class differently over its
// versions; the first class whose query is accepted answers.
constexpr const wchar_t* kExecutionRequestQueries[] = {
    L"SELECT * FROM CCM_ExecutionRequestEx WHERE ((RunningState='Running') OR "
    L"(RunningState='NotifyExecution'))",
    L"SELECT * FROM CCM_ExecutionRequest WHERE ((RunningState='Running') OR "
    L"(RunningState='NotifyExecution'))",
    L"SELECT * FROM ExecutionRequest WHERE ((RunningState='Running') OR "
    L"(RunningState='NotifyExecution'))",
    L"SELECT * FROM CCM_TSExecutionRequest WHERE ((RunningState='Running') OR "
    L"(RunningState='NotifyExecution'))",
};

// Logged before the query of the same index, when verbose.
constexpr const char* kTryingLines[] = {
    "%T: CSMSJobsDetector::SMSDeploymentsAreRunning: Trying "
    "'CCM_ExecutionRequestEx'...\n",
    "%T: CSMSJobsDetector::SMSDeploymentsAreRunning: 'CCM_ExecutionRequestEx' "
    "failed...trying 'CCM_ExecutionRequest'...\n",
    "%T: CSMSJobsDetector::SMSDeploymentsAreRunning: 'CCM_ExecutionRequest' "
    "failed...trying 'ExecutionRequest'...\n",
    "%T: CSMSJobsDetector::SMSDeploymentsAreRunning: 'ExecutionRequest' "
    "failed...trying 'CCM_TSExecutionRequest'...\n",
};

static_assert(std::size(kExecutionRequestQueries) == std::size(kTryingLines));

// The first 14 characters of a CIM_DATETIME text: the date and time of day.
constexpr size_t kDateTimeDigits = 14;

bool StartsWithDateDigits(const std::wstring& text) {
  return text.size() >= kDateTimeDigits &&
         std::all_of(text.begin(), text.begin() + kDateTimeDigits,
                     [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

// Whether `received` (date digits) lies more than `hours` before now. The
// client writes local-clock digits, like its other times, so they are
// compared with the local digits of the bound unchanged. A bound too far
// back to be a date leaves every request within it.
bool ReceivedLongerAgoThan(const std::wstring& received, DWORD hours) {
  constexpr DWORD kLongestHours = INT_MAX / 60;
  const int minutes = static_cast<int>(std::min(hours, kLongestHours)) * 60;
  const std::wstring bound = CAutomationDate(CurrentTime())
                                 .SubtractMinutes(minutes)
                                 .Format(L"%Y%m%d%H%M%S");
  return StartsWithDateDigits(bound) &&
         received.compare(0, kDateTimeDigits, bound) < 0;
}

bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() &&
         ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()),
                                b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

// The four properties of one execution request; NULL or a non-string reads
// as an empty text.
struct ExecutionRequest {
  NTarn::WbemProperty contentId;
  NTarn::WbemProperty advertId;
  NTarn::WbemProperty state;
  NTarn::WbemProperty runningState;

  HRESULT Read(IWbemClassObject* request) {
    HRESULT hr = contentId.Read(request, L"ContentID");
    if (SUCCEEDED(hr)) hr = advertId.Read(request, L"AdvertID");
    if (SUCCEEDED(hr)) hr = state.Read(request, L"State");
    if (SUCCEEDED(hr)) hr = runningState.Read(request, L"RunningState");
    return hr;
  }

  void Log(const char* format) const {
    LogMessage(format, contentId.AnsiText().c_str(),
               advertId.AnsiText().c_str(), runningState.AnsiText().c_str(),
               state.AnsiText().c_str());
  }

  // Whether the request was received more than `hours` ago. One without a
  // readable ReceivedTime (a failed read, NULL, not a date) was not.
  bool IsStale(IWbemClassObject* request, DWORD hours) {
    return SUCCEEDED(receivedTime.Read(request, L"ReceivedTime")) &&
           StartsWithDateDigits(receivedTime.Text()) &&
           ReceivedLongerAgoThan(receivedTime.Text(), hours);
  }

  void LogStale(DWORD hours) const {
    LogMessage(
        "%T: Ignoring stale SMS job \"%s\" (AdvertID=\"%s\", State=\"%s\", "
        "ReceivedTime=\"%s\", StaleJobHours=%lu)\n",
        contentId.AnsiText().c_str(), advertId.AnsiText().c_str(),
        state.AnsiText().c_str(), receivedTime.AnsiText().c_str(),
        static_cast<unsigned long>(hours));
  }

  NTarn::WbemProperty receivedTime;
};

}  // namespace

bool CSMSJobsDetector::SMSDeploymentsAreRunning() {
  const NTarn::WbemWalk walk("CSMSJobsDetector::SMSDeploymentsAreRunning");
  if (NTarn::WbemQuestionIsOver()) return false;
  const bool verbose = IsDebugFlagSet(debug_flags::kVerbose);
  NTarn::CWbemConnection connection;
  NTarn::CWbemResults requests;

  HRESULT hr = S_OK;
  for (size_t query = 0; query < std::size(kExecutionRequestQueries); ++query) {
    if (verbose) LogMessage(kTryingLines[query]);
    hr = connection.ExecQuery(kSoftMgmtAgentNamespace,
                              kExecutionRequestQueries[query], requests);
    if (hr == S_OK) break;
    // Without the namespace no class name can help; the connection failure
    // has been logged.
    if (query == 0 && hr == static_cast<HRESULT>(WBEM_E_INVALID_NAMESPACE)) {
      return false;
    }
    if (NTarn::WbemQuestionIsOver()) return false;
  }
  if (hr != S_OK) {
    LogMessage(
        "%T: CSMSJobsDetector::SMSJobsAreRunning: Failed all four query "
        "attempts - bailing out with no jobs found\n");
    return false;
  }
  if (!requests) return false;

  // Every request is looked at (and logged), not only up to the first one
  // that runs. A provider that stalls ends the walk like the end of results.
  bool running = false;
  for (;;) {
    ComPtr<IWbemClassObject> request;
    if (FAILED(requests.Next(request)) || !request) break;

    ExecutionRequest properties;
    if (FAILED(properties.Read(request.Get()))) {
      if (verbose) {
        LogMessage(
            "%T: CSMSJobsDetector::SMSJobsAreRunning: Error while retrieving "
            "property values.\n");
      }
      continue;
    }

    const std::wstring state = properties.state.Text();
    bool ignored = false;
    for (const std::wstring& ignoredState : m_ignoredJobStates) {
      if (EqualIgnoringCase(state, ignoredState)) {
        ignored = true;
        break;
      }
    }
    // A request the client left behind long ago is no longer taken to run;
    // its time is read only when the settings give a limit.
    const bool stale = !ignored && m_staleJobHours != 0 &&
                       properties.IsStale(request.Get(), m_staleJobHours);
    if (!ignored && !stale) running = true;
    if (m_findings) {
      m_findings->requests.push_back(
          {properties.contentId.Text(), properties.advertId.Text(), state,
           properties.runningState.Text(), ignored, stale});
    }
    if (verbose && stale) {
      properties.LogStale(m_staleJobHours);
    } else if (verbose) {
      properties.Log(ignored ? "%T: Ignoring running SMS job \"%s\" "
                               "(AdvertID=\"%s\", RunningState=\"%s\", "
                               "State=\"%s\")\n"
                             : "%T: Found running SMS job \"%s\" "
                               "(AdvertID=\"%s\", RunningState=\"%s\", "
                               "State=\"%s\")\n");
    }
  }
  // Out of time part way: the answer of a failed query.
  return running && !NTarn::WbemQuestionIsOver();
}

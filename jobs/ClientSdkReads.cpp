#include "jobs/ClientSdkReads.h"

#include <wbemcli.h>
#include <wrl/client.h>

#include <cwchar>
#include <iterator>
#include <string>

#include "common/HResultException.h"
#include "common/wmi/WbemConnection.h"
#include "common/wmi/WbemErrors.h"
#include "common/wmi/WbemProperty.h"
#include "common/wmi/WbemResults.h"
#include "jobs/DateTime.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kClientSdkNamespace[] = L"root\\ccm\\ClientSDK";
constexpr wchar_t kPolicyNamespace[] =
    L"root\\ccm\\Policy\\Machine\\ActualConfig";
constexpr wchar_t kServiceWindowsQuery[] =
    L"SELECT ID, StartTime, EndTime, Duration, Type FROM CCM_ServiceWindow";
constexpr wchar_t kUpdateSettingQuery[] =
    L"SELECT ServiceWindowManagement FROM CCM_SoftwareUpdatesClientConfig";
constexpr wchar_t kSdkUpdatesQuery[] =
    L"SELECT UpdateID, EvaluationState FROM CCM_SoftwareUpdate";
constexpr wchar_t kApplicationsQuery[] =
    L"SELECT Id, Name, EvaluationState FROM CCM_Application";
constexpr LONG kApplicationWaitsForServiceWindow = 8;

// The description of the last read's failure on this thread, taken while the
// failure was in hand: releasing the results' enumerator, as a proxy does,
// clears the thread's COM error object before the caller's line is written.
thread_local std::string t_failureText;

// Runs `query` and hands each object to `take` until the end of the results;
// a failed query, a failed or stalled fetch, or `take` refusing an object
// (with the failure it returns) ends the read with that failure.
template <typename Take>
HRESULT ReadAll(NTarn::CWbemConnection& connection, const wchar_t* wmiNamespace,
                const wchar_t* query, Take&& take) {
  t_failureText.clear();
  NTarn::CWbemResults results;
  HRESULT hr = connection.ExecQuery(wmiNamespace, query, results);
  if (FAILED(hr)) t_failureText = results.FailureText();
  if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
  if (!results) return WBEM_E_INVALID_NAMESPACE;
  for (;;) {
    ComPtr<IWbemClassObject> object;
    hr = results.Next(object);
    if (hr == WBEM_S_TIMEDOUT) return WBEM_E_TIMED_OUT;
    if (FAILED(hr)) {
      t_failureText = NTarn::GetComErrorDescription();
      return hr;
    }
    if (!object) return S_OK;
    hr = take(object.Get());
    if (FAILED(hr)) return hr;
  }
}

std::optional<LONG> ReadInteger(IWbemClassObject* object, const wchar_t* name) {
  NTarn::WbemProperty property;
  if (FAILED(property.Read(object, name))) return std::nullopt;
  return property.Integer();
}

std::wstring ReadText(IWbemClassObject* object, const wchar_t* name) {
  NTarn::WbemProperty property;
  property.Read(object, name);
  return property.Text();
}

constexpr const wchar_t* kSdkUpdateStateNames[] = {
    L"None",
    L"Available",
    L"Submitted",
    L"Detecting",
    L"PreDownload",
    L"Downloading",
    L"WaitInstall",
    L"Installing",
    L"PendingSoftReboot",
    L"PendingHardReboot",
    L"WaitReboot",
    L"Verifying",
    L"InstallComplete",
    L"Error",
    L"WaitServiceWindow",
    L"WaitUserLogon",
    L"WaitUserLogoff",
    L"WaitJobUserLogon",
    L"WaitUserReconnect",
    L"PendingUserLogoff",
    L"PendingUpdate",
    L"WaitingRetry",
    L"WaitPresModeOff",
    L"WaitForOrchestration",
};

}  // namespace

std::optional<__time64_t> ClientSdkTime(const std::wstring& text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  wchar_t dot = 0;
  if (text.size() < 15 ||
      swscanf(text.c_str(), L"%4d%2d%2d%2d%2d%2d%lc", &year, &month, &day,
              &hour, &minute, &second, &dot) != 7 ||
      dot != L'.') {
    return std::nullopt;
  }
  try {
    return MakeLocalTime(year, month, day, hour, minute, second, kDstAutomatic);
  } catch (const NTarn::HResultException&) {
    return std::nullopt;
  }
}

std::string ClientSdkFailureText(HRESULT hr) {
  const std::string& description = t_failureText;
  return !description.empty() && description != "Unknown Error"
             ? description
             : NTarn::GetWbemErrorName(hr);
}

bool IsSdkUpdateBusy(LONG evaluationState) {
  return (evaluationState >= 2 && evaluationState <= 7) ||
         evaluationState == 11;
}

const wchar_t* SdkUpdateStateName(LONG evaluationState) {
  if (evaluationState < 0 ||
      evaluationState >= static_cast<LONG>(std::size(kSdkUpdateStateNames)))
    return nullptr;
  return kSdkUpdateStateNames[evaluationState];
}

HRESULT ReadServiceWindows(NTarn::CWbemConnection& connection,
                           std::vector<ServiceWindow>& windows) {
  std::vector<ServiceWindow> read;
  const HRESULT hr = ReadAll(
      connection, kClientSdkNamespace, kServiceWindowsQuery,
      [&read](IWbemClassObject* object) -> HRESULT {
        // A window that cannot be placed in time fails the whole read: the
        // rest alone could make another window type look like the only one.
        NTarn::WbemProperty start;
        if (FAILED(start.Read(object, L"StartTime")))
          return WBEM_E_TYPE_MISMATCH;
        const std::optional<__time64_t> startTime = ClientSdkTime(start.Text());
        const std::optional<LONG> duration = ReadInteger(object, L"Duration");
        const std::optional<LONG> type = ReadInteger(object, L"Type");
        if (!startTime || !duration || !type) return WBEM_E_TYPE_MISMATCH;
        ServiceWindow window;
        window.id = ReadText(object, L"ID");
        window.type = static_cast<DWORD>(*type);
        window.start = *startTime;
        window.durationSeconds = static_cast<DWORD>(*duration);
        read.push_back(std::move(window));
        return S_OK;
      });
  if (FAILED(hr)) return hr;
  windows = std::move(read);
  return S_OK;
}

HRESULT ReadUpdatesUseAllDeployments(NTarn::CWbemConnection& connection,
                                     bool& allowed) {
  std::optional<bool> setting;
  const HRESULT hr = ReadAll(connection, kPolicyNamespace, kUpdateSettingQuery,
                             [&setting](IWbemClassObject* object) -> HRESULT {
                               if (setting) return S_OK;
                               NTarn::WbemProperty property;
                               const HRESULT read = property.Read(
                                   object, L"ServiceWindowManagement");
                               if (FAILED(read)) return read;
                               setting = property.Boolean().value_or(false);
                               return S_OK;
                             });
  if (FAILED(hr)) return hr;
  allowed = setting.value_or(false);
  return S_OK;
}

HRESULT ReadSdkUpdates(NTarn::CWbemConnection& connection,
                       std::vector<SdkUpdate>& updates) {
  std::vector<SdkUpdate> read;
  const HRESULT hr =
      ReadAll(connection, kClientSdkNamespace, kSdkUpdatesQuery,
              [&read](IWbemClassObject* object) -> HRESULT {
                const std::optional<LONG> state =
                    ReadInteger(object, L"EvaluationState");
                if (state)
                  read.push_back({ReadText(object, L"UpdateID"), *state});
                return S_OK;
              });
  if (FAILED(hr)) return hr;
  updates = std::move(read);
  return S_OK;
}

HRESULT ReadApplicationsWaitingForWindow(
    NTarn::CWbemConnection& connection,
    std::vector<SdkWaitingApplication>& applications) {
  std::vector<SdkWaitingApplication> read;
  const HRESULT hr = ReadAll(
      connection, kClientSdkNamespace, kApplicationsQuery,
      [&read](IWbemClassObject* object) -> HRESULT {
        if (ReadInteger(object, L"EvaluationState") ==
            kApplicationWaitsForServiceWindow) {
          read.push_back({ReadText(object, L"Id"), ReadText(object, L"Name")});
        }
        return S_OK;
      });
  if (FAILED(hr)) return hr;
  applications = std::move(read);
  return S_OK;
}

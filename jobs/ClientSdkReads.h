// What the plug-in reads of the client's SDK classes in root\ccm\ClientSDK
// and of its software-update client setting. Each read goes through the
// caller's connection, every wait bounded like any WMI call of the plug-in.
// A read that fails or stalls part-way returns the failure and leaves its
// output as it was: a rule built on it is left out rather than judged on
// half the data.
#pragma once

#include <windows.h>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "jobs/ServiceWindow.h"

namespace NTarn {
class CWbemConnection;
}

// One software update the client lists as applicable and not yet installed.
struct SdkUpdate {
  std::wstring updateId;
  LONG evaluationState = 0;
};

// One application in the state "waiting for a service (maintenance) window".
struct SdkWaitingApplication {
  std::wstring id;
  std::wstring name;
};

// The window occurrences of CCM_ServiceWindow, placeholders included.
HRESULT ReadServiceWindows(NTarn::CWbemConnection& connection,
                           std::vector<ServiceWindow>& windows);
// CCM_SoftwareUpdatesClientConfig.ServiceWindowManagement: updates may use
// "All deployments" windows although software-update windows exist. No
// setting reads as false.
HRESULT ReadUpdatesUseAllDeployments(NTarn::CWbemConnection& connection,
                                     bool& allowed);
// UpdateID and EvaluationState of every CCM_SoftwareUpdate; an update
// without a readable state is left out.
HRESULT ReadSdkUpdates(NTarn::CWbemConnection& connection,
                       std::vector<SdkUpdate>& updates);
// The CCM_Application instances whose EvaluationState is 8.
HRESULT ReadApplicationsWaitingForWindow(
    NTarn::CWbemConnection& connection,
    std::vector<SdkWaitingApplication>& applications);

// A ClientSDK date: the client writes local-clock digits (with an offset of
// "+000" that does not say UTC), so the first 14 digits are read as local
// time. None for a text that is no date.
std::optional<__time64_t> ClientSdkTime(const std::wstring& text);

// The failure text of a read for a log line: the COM error's description,
// else the WMI name of `hr`.
std::string ClientSdkFailureText(HRESULT hr);

// The documented EvaluationState numbers of CCM_SoftwareUpdate.
constexpr LONG kUpdateWaitsForServiceWindow = 14;
// An update in a state that installs or prepares to: 2 to 7 (Submitted to
// Installing) and 11 (Verifying). Reboots pending, waits and errors are not.
bool IsSdkUpdateBusy(LONG evaluationState);
// The ClientSDK name of an EvaluationState ("Installing", "WaitServiceWindow"
// ...), or null for a number without one.
const wchar_t* SdkUpdateStateName(LONG evaluationState);

#include "jobs/SMSJobsDetector.h"

#include <wbemcli.h>
#include <wrl/client.h>

#include <cwchar>
#include <string>

#include "common/Logging.h"
#include "common/wmi/WbemConnection.h"
#include "common/wmi/WbemErrors.h"
#include "common/wmi/WbemProperty.h"
#include "common/wmi/WbemQuestion.h"
#include "jobs/AutomationDate.h"
#include "jobs/Clock.h"
#include "jobs/SoftwareDistributionPolicies.h"

using NTarn::IsDebugFlagSet;
using NTarn::LogMessage;
namespace debug_flags = NTarn::debug_flags;

namespace {

// The first 14 characters of a CIM_DATETIME text.
constexpr wchar_t kDateTimeDigits[] = L"%Y%m%d%H%M%S";

// The current second as the client writes UTC times; empty when the clock has
// no calendar form, which leaves the advertisement unexpired.
std::wstring UtcDigits(__time64_t now) {
  tm fields{};
  if (_gmtime64_s(&fields, &now) != 0) return std::wstring();
  wchar_t text[16] = L"";
  std::swprintf(text, sizeof(text) / sizeof(text[0]),
                L"%04d%02d%02d%02d%02d%02d", fields.tm_year + 1900,
                fields.tm_mon + 1, fields.tm_mday, fields.tm_hour,
                fields.tm_min, fields.tm_sec);
  return text;
}

// The policy's expiration compared digit by digit with the current second.
// The client writes local-clock digits unless the policy flags them as UTC.
bool HasExpired(IWbemClassObject* policy, const NTarn::WbemProperty& expiration,
                const std::wstring& advertId) {
  NTarn::WbemProperty isUtc;
  const bool utc = SUCCEEDED(isUtc.Read(policy, L"ADV_ExpirationTimeIsGMT")) &&
                   isUtc.Boolean().value_or(false);
  const __time64_t now = CurrentTime();
  const std::wstring current =
      utc ? UtcDigits(now) : CAutomationDate(now).Format(kDateTimeDigits);
  if (!(expiration.Text() < current)) return false;
  if (IsDebugFlagSet(debug_flags::kVerbose)) {
    LogMessage("%T: Scheduled job with advertid %ls has expired.\n",
               advertId.c_str());
  }
  return true;
}

}  // namespace

// A scheduled message is named "<advertisement>-<package>-<program>".
std::wstring CSMSJobsDetector::AdvertisementIdOf(const wchar_t* jobId) {
  if (!jobId) return std::wstring();
  const wchar_t* dash = std::wcschr(jobId, L'-');
  return dash ? std::wstring(jobId, dash) : std::wstring();
}

bool CSMSJobsDetector::SMSJobDisabledOrExpired(
    const wchar_t* jobId, const wchar_t* wmiNamespace,
    NTarn::CWbemConnection& connection) {
  SoftwareDistributionPolicies policies(
      wmiNamespace, connection,
      SoftwareDistributionPolicies::Reading::kPerAdvertisement);
  return SMSJobStanding(jobId, policies).LeftOut();
}

JobStanding CSMSJobsDetector::SMSJobStanding(
    const wchar_t* jobId, SoftwareDistributionPolicies& policies) {
  const std::wstring advertId = AdvertisementIdOf(jobId);
  if (IsDebugFlagSet(debug_flags::kVerbose)) {
    LogMessage(
        "%T: Checking state of job with advertid %ls in "
        "SMSJobDisabledOrExpired\n",
        advertId.c_str());
  }

  // Only the first policy of the advertisement counts.
  Microsoft::WRL::ComPtr<IWbemClassObject> policy;
  if (FAILED(policies.Find(advertId, policy))) {
    // A question out of time says so in its own line.
    if (NTarn::WbemQuestionIsOver()) return JobStanding();
    LogMessage(
        "%T: CSMSJobsDetector::SMSJobDisabledOrExpired, ExecQuery failed for "
        "Advert ID %ls: %s\n",
        advertId.c_str(), policies.FailureText().c_str());
    return JobStanding();
  }
  if (!policy) return JobStanding();

  bool expired = false;
  NTarn::WbemProperty expiration;
  if (FAILED(expiration.Read(policy.Get(), L"ADV_ExpirationTime"))) {
    LogMessage(
        "%T: CSMSJobsDetector::SMSJobDisabledOrExpired, ADV_ExpirationTime "
        "not retrieved: %s\n",
        NTarn::GetComErrorDescription().c_str());
  } else if (expiration.IsText()) {
    expired = HasExpired(policy.Get(), expiration, advertId);
  } else if (!expiration.IsNull()) {
    LogMessage(
        "%T: CSMSJobsDetector::SMSJobDisabledOrExpired, ADV_ExpirationTime "
        "not retrieved: %s\n",
        NTarn::GetWbemErrorName(WBEM_E_TYPE_MISMATCH));
  }

  // NULL, like anything that is no boolean, reads as not disabled.
  bool disabled = false;
  NTarn::WbemProperty disabledFlag;
  if (FAILED(disabledFlag.Read(policy.Get(), L"PRG_PRF_Disabled"))) {
    LogMessage(
        "%T: CSMSJobsDetector::SMSJobDisabledOrExpired, PRG_PRF_Disabled not "
        "retrieved: %s\n",
        NTarn::GetComErrorDescription().c_str());
  } else {
    disabled = disabledFlag.Boolean().value_or(false);
    if (disabled && IsDebugFlagSet(debug_flags::kVerbose)) {
      LogMessage("%T: Scheduled job with advertid %ls has been disabled.\n",
                 advertId.c_str());
    }
  }
  JobStanding standing;
  standing.expired = expired;
  standing.disabled = disabled;
  return standing;
}

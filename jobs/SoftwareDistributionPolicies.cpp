#include "jobs/SoftwareDistributionPolicies.h"

#include <utility>

#include "common/wmi/WbemConnection.h"
#include "common/wmi/WbemProperty.h"
#include "common/wmi/WbemResults.h"

namespace {

constexpr wchar_t kFrom[] = L" FROM CCM_SoftwareDistribution";

// The text as the inside of a quoted WQL literal, so that an identifier cannot
// end the literal and rewrite the query.
std::wstring EscapeWqlText(const std::wstring& text) {
  std::wstring escaped;
  escaped.reserve(text.size());
  for (const wchar_t c : text) {
    if (c == L'\'' || c == L'\\') escaped.push_back(L'\\');
    escaped.push_back(c);
  }
  return escaped;
}

std::wstring SelectPolicies() {
  return std::wstring(L"SELECT ") + SoftwareDistributionPolicies::kProperties +
         kFrom;
}

}  // namespace

const wchar_t* const SoftwareDistributionPolicies::kProperties =
    L"ADV_AdvertisementID, ADV_ExpirationTime, ADV_ExpirationTimeIsGMT, "
    L"PRG_PRF_Disabled, PRG_Requirements";

bool SoftwareDistributionPolicies::IgnoringCase::operator()(
    const std::wstring& a, const std::wstring& b) const {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()),
                                b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_LESS_THAN;
}

SoftwareDistributionPolicies::SoftwareDistributionPolicies(
    const wchar_t* wmiNamespace, NTarn::CWbemConnection& connection,
    Reading reading)
    : m_namespace(wmiNamespace ? wmiNamespace : L""),
      m_connection(connection),
      m_reading(reading) {}

SoftwareDistributionPolicies::~SoftwareDistributionPolicies() = default;

HRESULT SoftwareDistributionPolicies::Find(
    const std::wstring& advertId,
    Microsoft::WRL::ComPtr<IWbemClassObject>& policy) {
  policy.Reset();
  if (m_reading == Reading::kPerAdvertisement) return ReadOne(advertId, policy);
  if (!m_read) {
    m_read = true;
    m_result = ReadAll();
  }
  if (FAILED(m_result)) return m_result;
  const auto found = m_byAdvertisement.find(advertId);
  if (found != m_byAdvertisement.end()) policy = found->second;
  return S_OK;
}

// Every policy, the first of each advertisement kept, in the order WMI
// returns them. A provider that stalls part way ends the read like the end
// of the results: the advertisements not yet seen have no policy.
HRESULT SoftwareDistributionPolicies::ReadAll() {
  NTarn::CWbemResults policies;
  const HRESULT hr = m_connection.ExecQuery(m_namespace.c_str(),
                                            SelectPolicies().c_str(), policies);
  if (FAILED(hr)) {
    m_failureText = policies.FailureText();
    return hr;
  }
  for (;;) {
    Microsoft::WRL::ComPtr<IWbemClassObject> policy;
    if (FAILED(policies.Next(policy)) || !policy) break;
    NTarn::WbemProperty id;
    // A policy that cannot say its advertisement is found by none.
    if (FAILED(id.Read(policy.Get(), L"ADV_AdvertisementID")) || !id.IsText())
      continue;
    m_byAdvertisement.emplace(id.Text(), std::move(policy));
  }
  return S_OK;
}

HRESULT SoftwareDistributionPolicies::ReadOne(
    const std::wstring& advertId,
    Microsoft::WRL::ComPtr<IWbemClassObject>& policy) {
  const std::wstring query = SelectPolicies() +
                             L" WHERE ADV_AdvertisementID = '" +
                             EscapeWqlText(advertId) + L"'";
  NTarn::CWbemResults policies;
  const HRESULT hr =
      m_connection.ExecQuery(m_namespace.c_str(), query.c_str(), policies);
  if (FAILED(hr)) {
    m_failureText = policies.FailureText();
    return hr;
  }
  // Only the first policy of the advertisement counts.
  Microsoft::WRL::ComPtr<IWbemClassObject> first;
  if (SUCCEEDED(policies.Next(first)) && first) policy = std::move(first);
  return S_OK;
}

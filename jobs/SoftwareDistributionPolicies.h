// The client's software-distribution policies as one question needs them:
// the first policy of each advertisement, read in one query the first time
// an advertisement is looked up and kept until the question ends. A question
// that looks up every scheduled message's advertisement then costs one query,
// not one per message.
#pragma once

#include <windows.h>
#include <wbemcli.h>
#include <wrl/client.h>

#include <map>
#include <string>

namespace NTarn {
class CWbemConnection;
}

class SoftwareDistributionPolicies {
 public:
  // How the policies are asked for: once for the whole question, or with a
  // query of its own for each advertisement looked up (what a question cost
  // before; kept to measure against).
  enum class Reading { kOncePerQuestion, kPerAdvertisement };

  // Asks through the caller's `connection` in `wmiNamespace`; both must
  // outlive this object. Nothing is asked until the first Find.
  SoftwareDistributionPolicies(const wchar_t* wmiNamespace,
                               NTarn::CWbemConnection& connection,
                               Reading reading = Reading::kOncePerQuestion);
  SoftwareDistributionPolicies(const SoftwareDistributionPolicies&) = delete;
  SoftwareDistributionPolicies& operator=(const SoftwareDistributionPolicies&) =
      delete;
  ~SoftwareDistributionPolicies();

  // The first policy of `advertId`, its ID compared without regard to case
  // as WQL compares: S_OK with `policy` set, S_OK with `policy` null when the
  // client holds none, or the query's failure, whose text FailureText() then
  // gives. A failed read of all policies fails every lookup alike.
  HRESULT Find(const std::wstring& advertId,
               Microsoft::WRL::ComPtr<IWbemClassObject>& policy);
  // The thread's error description taken when the query failed.
  const std::string& FailureText() const { return m_failureText; }

  // The properties every reading selects: those the advertisement check
  // reads. A check that reads another property of the policy adds it here.
  static const wchar_t* const kProperties;

 private:
  struct IgnoringCase {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
  };

  HRESULT ReadAll();
  HRESULT ReadOne(const std::wstring& advertId,
                  Microsoft::WRL::ComPtr<IWbemClassObject>& policy);

  const std::wstring m_namespace;
  NTarn::CWbemConnection& m_connection;
  const Reading m_reading;
  bool m_read = false;
  HRESULT m_result = S_OK;
  std::string m_failureText;
  std::map<std::wstring, Microsoft::WRL::ComPtr<IWbemClassObject>, IgnoringCase>
      m_byAdvertisement;
};

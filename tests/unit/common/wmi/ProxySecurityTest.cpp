#include "common/wmi/ProxySecurity.h"

#include <wbemcli.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include "common/ScopedBstr.h"
#include "tests/simclient/SimulatedClient.h"
#include "tests/support/SimClientFixture.h"

namespace {

using NTarn::SetProxySecurity;
using NTarn::SplitDomainUser;

struct SplitCase {
  const wchar_t* authority;
  const wchar_t* user;
  HRESULT result;
  const wchar_t* domain;
  const wchar_t* userName;
};

TEST(SplitDomainUserTest, AuthorityAndUserNameForms) {
  const SplitCase cases[] = {
      // The bare prefix leaves the domain to the user name.
      {L"NTLMDOMAIN:", L"DOMAIN\\name", S_OK, L"DOMAIN", L"name"},
      {L"ntlmdomain:", L"DOMAIN\\name", S_OK, L"DOMAIN", L"name"},
      // A domain in both places is refused.
      {L"NTLMDOMAIN:CORP", L"DOMAIN\\name", E_INVALIDARG, L"", L""},
      {L"NTLMDOMAIN:CORP", L"name", S_OK, L"CORP", L"name"},
      {L"Kerberos:host/server", L"name", E_INVALIDARG, L"", L""},
      {L"NTLMDOMAI", L"name", E_INVALIDARG, L"", L""},
      {nullptr, L"DOMAIN\\name", S_OK, L"DOMAIN", L"name"},
      {L"", L"name", S_OK, L"", L"name"},
      {nullptr, L"DOMAIN\\", S_OK, L"DOMAIN", L""},
      {nullptr, L"A\\B\\C", S_OK, L"A", L"B\\C"},
      {nullptr, nullptr, S_OK, L"", L""},
  };
  for (const SplitCase& c : cases) {
    std::wstring domain = L"stale";
    std::wstring user = L"stale";
    EXPECT_EQ(SplitDomainUser(c.authority, c.user, domain, user), c.result)
        << (c.authority ? c.authority : L"(null)");
    if (c.result == S_OK) {
      EXPECT_EQ(domain, c.domain);
      EXPECT_EQ(user, c.userName);
    }
  }
}

TEST(SplitDomainUserTest, OverlongDomainIsCut) {
  const std::wstring longDomain(300, L'D');
  std::wstring domain, user;
  EXPECT_EQ(
      SplitDomainUser(nullptr, (longDomain + L"\\name").c_str(), domain, user),
      S_OK);
  EXPECT_EQ(domain.size(), 260u);
  EXPECT_EQ(user, L"name");
}

class SetProxySecurityTest : public vpltest::SimClientFixture {
 protected:
  void SetUp() override {
    SimClientFixture::SetUp();
    Load(R"({"namespaces": {"root\\ccm": {}}})");
    Microsoft::WRL::ComPtr<IWbemLocator> locator;
    ASSERT_EQ(::CoCreateInstance(CLSID_WbemLocator, nullptr,
                                 CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&locator)),
              S_OK);
    const NTarn::ScopedBstr path(L"root\\ccm");
    ASSERT_EQ(locator->ConnectServer(path.Get(), nullptr, nullptr, nullptr, 0,
                                     nullptr, nullptr, &m_services),
              S_OK);
  }
  void TearDown() override {
    m_services.Reset();
    SimClientFixture::TearDown();
  }

  Microsoft::WRL::ComPtr<IWbemServices> m_services;
};

TEST_F(SetProxySecurityTest, NullProxyIsInvalid) {
  EXPECT_EQ(SetProxySecurity(nullptr, nullptr, nullptr, nullptr, true),
            E_INVALIDARG);
}

TEST_F(SetProxySecurityTest, AuthenticateWithoutCredentialsUsesPacketLevel) {
  EXPECT_EQ(SetProxySecurity(m_services.Get(), nullptr, L"", nullptr, true),
            S_OK);
  const vpltest::sim::Blanket blanket = Sim().LastCalls().blanket;
  EXPECT_EQ(blanket.authenticationService, DWORD{RPC_C_AUTHN_WINNT});
  EXPECT_EQ(blanket.authorisationService, DWORD{RPC_C_AUTHZ_NONE});
  EXPECT_EQ(blanket.authenticationLevel, DWORD{RPC_C_AUTHN_LEVEL_PKT});
  EXPECT_EQ(blanket.impersonationLevel, DWORD{RPC_C_IMP_LEVEL_IMPERSONATE});
  EXPECT_FALSE(blanket.hadIdentity);
}

TEST_F(SetProxySecurityTest, NoAuthenticationUsesIdentifyLevel) {
  EXPECT_EQ(SetProxySecurity(m_services.Get(), nullptr, L"user", L"pw", false),
            S_OK);
  const vpltest::sim::Blanket blanket = Sim().LastCalls().blanket;
  EXPECT_EQ(blanket.authenticationLevel, DWORD{RPC_C_AUTHN_LEVEL_NONE});
  EXPECT_EQ(blanket.impersonationLevel, DWORD{RPC_C_IMP_LEVEL_IDENTIFY});
}

TEST_F(SetProxySecurityTest, CredentialsKeepTheCurrentBlanketAndAddIdentity) {
  ASSERT_EQ(
      ::CoSetProxyBlanket(m_services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE,
                          nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                          RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE),
      S_OK);
  EXPECT_EQ(
      SetProxySecurity(m_services.Get(), nullptr, L"CORP\\admin", L"pw", true),
      S_OK);
  const vpltest::sim::Blanket blanket = Sim().LastCalls().blanket;
  EXPECT_EQ(blanket.authenticationLevel, DWORD{RPC_C_AUTHN_LEVEL_PKT_PRIVACY});
  EXPECT_EQ(blanket.impersonationLevel, DWORD{RPC_C_IMP_LEVEL_IMPERSONATE});
  EXPECT_TRUE(blanket.hadIdentity);
}

TEST_F(SetProxySecurityTest, FailuresAreReturned) {
  // A bad authority stops before the proxy is touched.
  EXPECT_EQ(
      SetProxySecurity(m_services.Get(), L"Kerberos:x", L"u", nullptr, true),
      E_INVALIDARG);
  EXPECT_EQ(Sim().CallCount(vpltest::SimMethod::kQueryBlanket), 0);

  Sim().FailCall(vpltest::SimMethod::kQueryBlanket, 1, E_ACCESSDENIED);
  EXPECT_EQ(SetProxySecurity(m_services.Get(), nullptr, L"u", L"p", true),
            E_ACCESSDENIED);
  EXPECT_EQ(Sim().CallCount(vpltest::SimMethod::kSetBlanket), 0);

  Sim().FailCall(vpltest::SimMethod::kSetBlanket, 1, WBEM_E_ACCESS_DENIED);
  EXPECT_EQ(SetProxySecurity(m_services.Get(), nullptr, nullptr, nullptr, true),
            WBEM_E_ACCESS_DENIED);
}

}  // namespace

#include "common/wmi/ConnectToNamespace.h"

#include <gtest/gtest.h>

#include "common/HResultException.h"
#include "common/Logging.h"
#include "common/ScopedBstr.h"
#include "tests/simclient/SimulatedClient.h"
#include "tests/support/DebugFlagsScope.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimClientFixture.h"

namespace {

using namespace NTarn;

using Microsoft::WRL::ComPtr;
using vpltest::LogCapture;
using vpltest::SimMethod;

constexpr char kScenario[] =
    R"({"namespaces": {"root\\ccm": {"CCM_Client": {"ClientId": "GUID:1"}}}})";

HRESULT RaisedBy(ComPtr<IWbemServices>& services, const wchar_t* machine,
                 const wchar_t* wmiNamespace) {
  try {
    ConnectToNamespace(services, machine, wmiNamespace, nullptr, nullptr,
                       RPC_C_AUTHN_LEVEL_PKT, RPC_C_IMP_LEVEL_IMPERSONATE);
  } catch (const HResultException& error) {
    return error.Error();
  }
  return S_OK;
}

class ConnectToNamespaceTest : public vpltest::SimClientFixture {
 protected:
  void SetUp() override {
    SimClientFixture::SetUp();
    Load(kScenario);
  }

  vpltest::DebugFlagsScope m_flags;
};

TEST_F(ConnectToNamespaceTest, ConnectsThroughTheMachinePathWithTheLevels) {
  DebugFlags.store(debug_flags::kVerbose);
  ComPtr<IWbemServices> services;
  ASSERT_EQ(RaisedBy(services, L".", L"root\\ccm"), S_OK);
  ASSERT_TRUE(services);
  EXPECT_EQ(LogCapture::Messages(),
            std::vector<std::string>{"[T]: Connecting to \\\\.\\root\\ccm\n"});
  const vpltest::sim::Recorded calls = Sim().LastCalls();
  EXPECT_EQ(calls.connectPath, L"\\\\.\\root\\ccm");
  EXPECT_EQ(calls.blanket.authenticationService, DWORD{RPC_C_AUTHN_WINNT});
  EXPECT_EQ(calls.blanket.authenticationLevel, DWORD{RPC_C_AUTHN_LEVEL_PKT});
  EXPECT_EQ(calls.blanket.impersonationLevel,
            DWORD{RPC_C_IMP_LEVEL_IMPERSONATE});

  ComPtr<IWbemClassObject> client;
  const NTarn::ScopedBstr path(L"CCM_Client=@");
  EXPECT_EQ(services->GetObject(path.Get(), 0, nullptr, &client, nullptr),
            S_OK);
  EXPECT_TRUE(client);
}

TEST_F(ConnectToNamespaceTest, QuietWithoutVerboseAndPathWithoutMachine) {
  DebugFlags.store(0);
  ComPtr<IWbemServices> services;
  ASSERT_EQ(RaisedBy(services, nullptr, L"root\\ccm"), S_OK);
  EXPECT_EQ(Sim().LastCalls().connectPath, L"root\\ccm");
  EXPECT_TRUE(LogCapture::Messages().empty());
}

TEST_F(ConnectToNamespaceTest, EachFailingStepRaisesItsCodeAndLeavesHolder) {
  DebugFlags.store(0);
  ComPtr<IWbemServices> services;
  EXPECT_EQ(RaisedBy(services, L".", L"root\\ccm\\Missing"),
            WBEM_E_INVALID_NAMESPACE);
  EXPECT_FALSE(services);

  Sim().FailCall(SimMethod::kCreateLocator, 2, REGDB_E_CLASSNOTREG);
  EXPECT_EQ(RaisedBy(services, L".", L"root\\ccm"), REGDB_E_CLASSNOTREG);

  Sim().FailCall(SimMethod::kSetBlanket, 1, E_ACCESSDENIED);
  EXPECT_EQ(RaisedBy(services, L".", L"root\\ccm"), E_ACCESSDENIED);
  EXPECT_FALSE(services);
  EXPECT_EQ(RaisedBy(services, L"otherhost", L"root\\ccm"),
            HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
}

}  // namespace

#include "common/wmi/WbemConnection.h"

#include <wbemcli.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <thread>

#include "common/Logging.h"
#include "common/wmi/WbemErrors.h"
#include "tests/simclient/SimulatedClient.h"
#include "tests/support/DebugFlagsScope.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimClientFixture.h"

namespace {

using namespace NTarn;

using Microsoft::WRL::ComPtr;
using vpltest::LogCapture;
using vpltest::SimMethod;
using vpltest::SimulatedClient;

constexpr char kScenario[] = R"({
  "namespaces": {
    "root\\ccm\\SoftMgmtAgent": {
      "CCM_ExecutionRequestEx": [
        {"ContentID": "C1", "AdvertID": "A1", "State": "Running",
         "RunningState": "Running"}
      ]
    },
    "root\\ccm\\Scheduler": {
      "CCM_Scheduler_History": [{"ScheduleID": "S1"}, {"ScheduleID": "S2"}]
    }
  }
})";

constexpr wchar_t kAgent[] = L"root\\ccm\\SoftMgmtAgent";
constexpr wchar_t kScheduler[] = L"root\\ccm\\Scheduler";
constexpr wchar_t kRequests[] = L"SELECT * FROM CCM_ExecutionRequestEx";

ULONG CountObjects(CWbemResults& results) {
  ULONG total = 0;
  for (;;) {
    ComPtr<IWbemClassObject> object;
    results.Next(object);
    if (!object) return total;
    ++total;
  }
}

class WbemConnectionTest : public vpltest::SimClientFixture {
 protected:
  void SetUp() override {
    SimClientFixture::SetUp();
    Load(kScenario);
  }

  vpltest::DebugFlagsScope m_flags;
};

TEST_F(WbemConnectionTest, QueriesSemisynchronouslyInTheNamespace) {
  CWbemConnection connection;
  CWbemResults enumerator;
  ASSERT_EQ(connection.ExecQuery(kAgent, kRequests, enumerator), S_OK);
  ASSERT_TRUE(enumerator);
  EXPECT_EQ(CountObjects(enumerator), 1u);

  const vpltest::sim::Recorded calls = Sim().LastCalls();
  EXPECT_EQ(calls.connectPath, kAgent);
  EXPECT_FALSE(calls.connectHadUser);
  EXPECT_FALSE(calls.connectHadPassword);
  EXPECT_EQ(calls.queryLanguage, L"WQL");
  EXPECT_EQ(calls.query, kRequests);
  EXPECT_EQ(calls.queryFlags,
            WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY);
  EXPECT_EQ(calls.nextTimeout, kWbemCallTimeoutMs);
  EXPECT_EQ(calls.blanket.authenticationLevel, DWORD{RPC_C_AUTHN_LEVEL_PKT});
  EXPECT_EQ(calls.blanket.impersonationLevel,
            DWORD{RPC_C_IMP_LEVEL_IMPERSONATE});
  // An empty result says so with its first object, which is none.
  ASSERT_EQ(connection.ExecQuery(
                kAgent, L"SELECT * FROM CCM_ExecutionRequestEx WHERE State = 'x'",
                enumerator),
            S_OK);
  ComPtr<IWbemClassObject> none;
  EXPECT_EQ(enumerator.Next(none), WBEM_S_FALSE);
  EXPECT_FALSE(none);
  EXPECT_TRUE(LogCapture::Messages().empty());
}

TEST_F(WbemConnectionTest,
       UnknownNamespaceFailsOnceThenAnswersSokWithoutEnumerator) {
  CWbemConnection connection;
  CWbemResults enumerator;
  EXPECT_EQ(connection.ExecQuery(L"root\\ccm\\Missing", kRequests, enumerator),
            WBEM_E_INVALID_NAMESPACE);
  EXPECT_FALSE(enumerator);
  EXPECT_EQ(
      LogCapture::Messages(),
      std::vector<std::string>{"[T]: Failed to connect to root\\ccm\\Missing: "
                               "WBEM_E_INVALID_NAMESPACE\n"});

  // The holder keeps what it had and no new attempt is made.
  {
    CWbemConnection other;
    ASSERT_EQ(other.ExecQuery(kAgent, kRequests, enumerator), S_OK);
  }
  EXPECT_EQ(connection.ExecQuery(L"root\\ccm\\Missing", kRequests, enumerator),
            S_OK);
  EXPECT_EQ(CountObjects(enumerator), 1u);
  EXPECT_EQ(Sim().CallCount(SimMethod::kConnectServer), 2);
  EXPECT_EQ(LogCapture::Messages().size(), 1u);
}

TEST_F(WbemConnectionTest, AnyConnectFailureIsReportedAsInvalidNamespace) {
  Sim().FailCall(SimMethod::kConnectServer, 1, WBEM_E_ACCESS_DENIED);
  CWbemConnection connection;
  CWbemResults enumerator;
  EXPECT_EQ(connection.ExecQuery(kAgent, kRequests, enumerator),
            WBEM_E_INVALID_NAMESPACE);
  EXPECT_EQ(LogCapture::Messages(),
            std::vector<std::string>{"[T]: Failed to connect to "
                                     "root\\ccm\\SoftMgmtAgent: "
                                     "WBEM_E_ACCESS_DENIED\n"});
  EXPECT_FALSE(connection.IsConnected());
}

TEST_F(WbemConnectionTest, SwitchingNamespacesConnectsEachTime) {
  CWbemConnection connection;
  CWbemResults enumerator;
  ASSERT_EQ(connection.ExecQuery(kAgent, kRequests, enumerator), S_OK);
  ASSERT_EQ(connection.ExecQuery(kAgent,
                                 L"SELECT * FROM CCM_ExecutionRequestEx "
                                 L"WHERE State = 'Idle'",
                                 enumerator),
            S_OK);
  EXPECT_EQ(Sim().CallCount(SimMethod::kConnectServer), 1);
  EXPECT_EQ(CountObjects(enumerator), 0u);

  ASSERT_EQ(connection.ExecQuery(
                kScheduler, L"SELECT ScheduleID FROM CCM_Scheduler_History",
                enumerator),
            S_OK);
  EXPECT_EQ(Sim().CallCount(SimMethod::kConnectServer), 2);
  EXPECT_EQ(CountObjects(enumerator), 2u);
  // The comparison is exact: another spelling is another namespace.
  ASSERT_EQ(connection.ExecQuery(
                L"ROOT\\ccm\\Scheduler",
                L"SELECT ScheduleID FROM CCM_Scheduler_History", enumerator),
            S_OK);
  EXPECT_EQ(Sim().CallCount(SimMethod::kConnectServer), 3);
  EXPECT_EQ(Sim().CallCount(SimMethod::kExecQuery), 4);
}

// A semisynchronous query fails on its first object; the connection still
// returns the failure from ExecQuery, as callers expect.
TEST_F(WbemConnectionTest, QueryFailureIsReturnedAndResultsCleared) {
  CWbemConnection connection;
  CWbemResults enumerator;
  ASSERT_EQ(connection.ExecQuery(kAgent, kRequests, enumerator), S_OK);
  EXPECT_EQ(connection.ExecQuery(kAgent, L"SELECT * FROM CCM_ExecutionRequest",
                                 enumerator),
            WBEM_E_INVALID_CLASS);
  EXPECT_FALSE(enumerator);
  EXPECT_EQ(connection.ExecQuery(kAgent, L"SELECT * FROM", enumerator),
            WBEM_E_INVALID_QUERY);
  Sim().FailCall(SimMethod::kExecQuery, 4, WBEM_E_PROVIDER_FAILURE, L"broken");
  EXPECT_EQ(connection.ExecQuery(kAgent, kRequests, enumerator),
            WBEM_E_PROVIDER_FAILURE);
  // Taken before the enumerator's release cleared the error object.
  EXPECT_EQ(GetComErrorDescription(), "Unknown Error");
  EXPECT_EQ(enumerator.FailureText(), "broken");
  EXPECT_TRUE(LogCapture::Messages().empty());
}

// A provider that never answers costs one time-out, named as such.
TEST_F(WbemConnectionTest, HungProviderTimesOutOnTheFirstObject) {
  Sim().SetTimeScale(1000);
  Sim().HangCall(SimMethod::kExecQuery, 1, 600000);
  CWbemConnection connection;
  CWbemResults enumerator;
  EXPECT_EQ(connection.ExecQuery(kAgent, kRequests, enumerator),
            WBEM_E_TIMED_OUT);
  EXPECT_FALSE(enumerator);
  EXPECT_EQ(enumerator.FailureText(),
            "The WMI provider did not answer within 10 seconds");
  EXPECT_EQ(Sim().WaitedMs(), DWORD{kWbemCallTimeoutMs});

  // The question's next query there is not waited for again; another
  // namespace is asked.
  EXPECT_EQ(connection.ExecQuery(kAgent, kRequests, enumerator),
            WBEM_E_TIMED_OUT);
  EXPECT_EQ(enumerator.FailureText(),
            "The WMI provider did not answer within 10 seconds");
  EXPECT_EQ(Sim().CallCount(SimMethod::kExecQuery), 1);
  EXPECT_EQ(connection.ExecQuery(
                kScheduler, L"SELECT ScheduleID FROM CCM_Scheduler_History",
                enumerator),
            S_OK);
  EXPECT_EQ(CountObjects(enumerator), 2u);
  EXPECT_EQ(Sim().WaitedMs(), DWORD{kWbemCallTimeoutMs});
}

TEST_F(WbemConnectionTest, MissingLocatorGivesEFail) {
  Sim().FailCall(SimMethod::kCreateLocator, 1, WBEM_E_CRITICAL_ERROR);
  CWbemConnection connection;
  CWbemResults enumerator;
  EXPECT_EQ(connection.ExecQuery(kAgent, kRequests, enumerator), E_FAIL);
  EXPECT_EQ(
      LogCapture::Messages(),
      std::vector<std::string>{"[T]: Failed to create IWbemLocator object "
                               "WBEM_E_CRITICAL_ERROR\n"});
}

TEST_F(WbemConnectionTest, SecurityFailureDropsTheUnsecuredConnection) {
  Sim().FailCall(SimMethod::kSetBlanket, 1, WBEM_E_ACCESS_DENIED);
  CWbemConnection connection;
  CWbemResults enumerator;
  EXPECT_EQ(connection.ExecQuery(kAgent, kRequests, enumerator),
            WBEM_E_ACCESS_DENIED);
  EXPECT_EQ(LogCapture::Messages(),
            std::vector<std::string>{
                "[T]: Failed while setting up COM interface security, "
                "WBEM_E_ACCESS_DENIED Continuing...\n"});
  EXPECT_FALSE(connection.IsConnected());
  // The released services are never queried.
  EXPECT_EQ(connection.ExecQuery(kAgent, kRequests, enumerator), S_OK);
  EXPECT_FALSE(enumerator);
  EXPECT_EQ(Sim().CallCount(SimMethod::kExecQuery), 0);
  // Nothing of the dropped connection outlives it.
  EXPECT_EQ(SimulatedClient::LiveObjects(), 0);
}

TEST_F(WbemConnectionTest, ComInitialisationFailureIsLoggedAndBalanced) {
  std::thread sta([] {
    ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    { CWbemConnection connection; }
    // Still initialised once: the connection did not uninitialise for us.
    EXPECT_EQ(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    ::CoUninitialize();
    ::CoUninitialize();
  });
  sta.join();
  EXPECT_EQ(LogCapture::Messages(),
            std::vector<std::string>{"[T]: Failed to initialize COM library. "
                                     "Error code = 80010106\n"});
}

TEST_F(WbemConnectionTest, WorksOnAThreadWithoutCom) {
  ULONG count = 0;
  std::thread worker([&count] {
    CWbemConnection connection;
    CWbemResults enumerator;
    if (connection.ExecQuery(kAgent, kRequests, enumerator) == S_OK) {
      count = CountObjects(enumerator);
    }
  });
  worker.join();
  EXPECT_EQ(count, 1u);
}

}  // namespace

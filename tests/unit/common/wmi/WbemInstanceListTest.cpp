#include "common/wmi/WbemInstanceList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/HResultException.h"
#include "common/ScopedVariant.h"
#include "common/wmi/ConnectToNamespace.h"
#include "tests/simclient/SimulatedClient.h"
#include "tests/support/SimClientFixture.h"

namespace {

using Microsoft::WRL::ComPtr;
using NTarn::CWbemInstance;
using NTarn::CWbemInstanceList;
using NTarn::HResultException;
using vpltest::SimMethod;
using vpltest::SimulatedClient;

constexpr char kScenario[] = R"({"namespaces": {"root\\ccm\\Scheduler": {
  "CCM_Scheduler_History": [
    {"ScheduleID": "S1"}, {"ScheduleID": "S2"}, {"ScheduleID": "S3"}
  ]}}})";
constexpr wchar_t kQuery[] = L"SELECT * FROM CCM_Scheduler_History";

std::vector<std::wstring> Ids(const CWbemInstanceList& list) {
  std::vector<std::wstring> ids;
  for (const CWbemInstance& instance : list) {
    NTarn::ScopedVariant value;
    instance.Object()->Get(L"ScheduleID", 0, value.Receive(), nullptr, nullptr);
    ids.push_back(value.Type() == VT_BSTR ? V_BSTR(&value.Get()) : L"?");
  }
  return ids;
}

HRESULT RunQuery(CWbemInstanceList& list, const wchar_t* query) {
  try {
    list.ExecQuery(query, 0);
  } catch (const HResultException& error) {
    return error.Error();
  }
  return S_OK;
}

class WbemInstanceListTest : public vpltest::SimClientFixture {
 protected:
  void SetUp() override {
    SimClientFixture::SetUp();
    Load(kScenario);
    NTarn::ConnectToNamespace(m_services, L".", L"root\\ccm\\Scheduler",
                              nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT,
                              RPC_C_IMP_LEVEL_IMPERSONATE);
  }
  void TearDown() override {
    m_services.Reset();
    SimClientFixture::TearDown();
  }

  ComPtr<IWbemServices> m_services;
};

TEST_F(WbemInstanceListTest, KeepsEveryResultInOrderAndWaitsTenSeconds) {
  {
    CWbemInstanceList list(m_services);
    ASSERT_EQ(RunQuery(list, kQuery), S_OK);
    EXPECT_EQ(Ids(list), (std::vector<std::wstring>{L"S1", L"S2", L"S3"}));
    const vpltest::sim::Recorded calls = Sim().LastCalls();
    EXPECT_EQ(calls.nextTimeout, 10000);
    EXPECT_EQ(calls.queryFlags, 0);
    EXPECT_EQ(calls.queryLanguage, L"WQL");
    EXPECT_EQ(SimulatedClient::LiveObjects(), 1 + 3);  // services + objects
  }
  // The list released its objects and the enumerator.
  EXPECT_EQ(SimulatedClient::LiveObjects(), 1);
}

TEST_F(WbemInstanceListTest, QueryFailureRaises) {
  CWbemInstanceList list(m_services);
  EXPECT_EQ(RunQuery(list, L"SELECT * FROM Nothing"), WBEM_E_INVALID_CLASS);
  EXPECT_TRUE(list.empty());
}

// A query whose first object never comes has not answered at all; a later
// stall or failure ends the list with what came before.
TEST_F(WbemInstanceListTest, NoFirstObjectRaisesLaterFailuresEndQuietly) {
  Sim().TimeOutNext(1);
  {
    CWbemInstanceList list(m_services);
    EXPECT_EQ(RunQuery(list, kQuery), WBEM_E_TIMED_OUT);
    EXPECT_TRUE(list.empty());
  }
  Sim().FailCall(SimMethod::kNext, 4, WBEM_E_TRANSPORT_FAILURE);
  CWbemInstanceList list(m_services);
  EXPECT_EQ(RunQuery(list, kQuery), S_OK);
  EXPECT_EQ(Ids(list), (std::vector<std::wstring>{L"S1", L"S2"}));
}

TEST_F(WbemInstanceListTest, FailureWithObjectRaisesAndKeepsEarlierResults) {
  Sim().FailNextWithObject(2, WBEM_E_PROVIDER_FAILURE);
  CWbemInstanceList list(m_services);
  EXPECT_EQ(RunQuery(list, kQuery), WBEM_E_PROVIDER_FAILURE);
  EXPECT_EQ(Ids(list), std::vector<std::wstring>{L"S1"});
  // The object that came with the failure was not kept or leaked.
  EXPECT_EQ(SimulatedClient::LiveObjects(), 1 + 1);
}

TEST_F(WbemInstanceListTest, EmptyHoldersRaiseEPointer) {
  const CWbemInstance empty(nullptr);
  HRESULT raised = S_OK;
  try {
    empty.Object();
  } catch (const HResultException& error) {
    raised = error.Error();
  }
  EXPECT_EQ(raised, E_POINTER);

  ComPtr<IWbemServices> none;
  CWbemInstanceList list(none);
  EXPECT_EQ(RunQuery(list, kQuery), E_POINTER);
}

}  // namespace

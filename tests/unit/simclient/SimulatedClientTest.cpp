#include "tests/simclient/SimulatedClient.h"

#include <wbemcli.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <string>

#include "common/ScopedBstr.h"
#include "common/ScopedVariant.h"
#include "tests/support/SimClientFixture.h"

namespace {

using Microsoft::WRL::ComPtr;
using NTarn::ScopedBstr;
using NTarn::ScopedVariant;
using vpltest::SimMethod;
using vpltest::SimulatedClient;

constexpr char kScenario[] = R"({"namespaces": {
  "root\\ccm": {"CCM_Client": {"ClientId": "GUID:1"}},
  "root\\ccm\\Policy\\Machine\\ActualConfig": {
    "CCM_Scheduler_ScheduledMessage": [
      {"ScheduledMessageID": "ADV1-PKG1-P", "Triggers": ["SMSSchedule=X", "Y"],
       "TriggerMessage": null},
      {"ScheduledMessageID": {"cimType": "uint32", "value": 5}}
    ],
    "CCM_SoftwareDistribution": {"ADV_AdvertisementID": "ADV1",
       "PRG_PRF_Disabled": true, "ADV_ExpirationTime": "2026-01-01T00:00:00Z"}
  },
  "root\\cimv2": {"Win32_SystemEnclosure": {"ChassisTypes": [3, 9],
     "Small": {"cimType": "sint16[]", "value": [-2, 7]}}}
}})";

class SimulatedClientTest : public vpltest::SimClientFixture {
 protected:
  void TearDown() override {
    m_services.Reset();
    SimClientFixture::TearDown();
  }

  void Install(const char* scenario = kScenario) { Load(scenario); }

  HRESULT Connect(const wchar_t* path) {
    ComPtr<IWbemLocator> locator;
    HRESULT hr =
        ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                           IID_PPV_ARGS(&locator));
    if (FAILED(hr)) return hr;
    m_services.Reset();
    return locator->ConnectServer(ScopedBstr(path).Get(), nullptr, nullptr,
                                  nullptr, 0, nullptr, nullptr, &m_services);
  }

  HRESULT Query(const wchar_t* text, ComPtr<IEnumWbemClassObject>& results,
                LONG flags = WBEM_FLAG_FORWARD_ONLY) {
    return m_services->ExecQuery(ScopedBstr(L"WQL").Get(),
                                 ScopedBstr(text).Get(), flags, nullptr,
                                 &results);
  }

  ComPtr<IWbemClassObject> First(const wchar_t* text) {
    ComPtr<IEnumWbemClassObject> results;
    ComPtr<IWbemClassObject> object;
    ULONG returned = 0;
    if (SUCCEEDED(Query(text, results))) {
      results->Next(WBEM_INFINITE, 1, &object, &returned);
    }
    return object;
  }
  // IWbemClassObject::Get of `name` into m_value and m_type.
  HRESULT Get(const ComPtr<IWbemClassObject>& object, const wchar_t* name) {
    m_type = 0;
    return object->Get(name, 0, m_value.Receive(), &m_type, nullptr);
  }
  // Element `index` of the array in m_value.
  template <typename T>
  T Element(LONG index) {
    T element{};
    EXPECT_EQ(::SafeArrayGetElement(V_ARRAY(&m_value.Get()), &index, &element),
              S_OK);
    return element;
  }
  HRESULT GetObject(const wchar_t* path) {
    ComPtr<IWbemClassObject> object;
    const HRESULT hr = m_services->GetObject(ScopedBstr(path).Get(), 0, nullptr,
                                             &object, nullptr);
    EXPECT_EQ(SUCCEEDED(hr), object != nullptr) << hr;
    return hr;
  }

  ComPtr<IWbemServices> m_services;
  ScopedVariant m_value;
  CIMTYPE m_type = 0;
};

TEST_F(SimulatedClientTest, BehavesLikeWindowsForUnknownNamesAndBadQueries) {
  Install();
  EXPECT_EQ(Connect(L"root\\ccm\\Nothing"), WBEM_E_INVALID_NAMESPACE);
  EXPECT_EQ(Connect(L"\\\\remote\\root\\ccm"),
            HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
  ASSERT_EQ(Connect(L"\\\\.\\ROOT\\CCM\\policy\\machine\\actualconfig"), S_OK);
  ComPtr<IEnumWbemClassObject> results;
  EXPECT_EQ(Query(L"SELECT * FROM CCM_Missing", results), WBEM_E_INVALID_CLASS);
  EXPECT_EQ(Query(L"SELECT * FROM CCM_SoftwareDistribution WHERE", results),
            WBEM_E_INVALID_QUERY);
  EXPECT_EQ(
      Query(L"SELECT NoSuchProperty FROM CCM_SoftwareDistribution", results),
      WBEM_E_INVALID_QUERY);
  EXPECT_FALSE(results);
  EXPECT_EQ(m_services->ExecQuery(ScopedBstr(L"SQL").Get(),
                                  ScopedBstr(L"SELECT * FROM x").Get(), 0,
                                  nullptr, &results),
            WBEM_E_INVALID_QUERY_TYPE);
}

TEST_F(SimulatedClientTest, GetReturnsCimTypesAndWindowsVariants) {
  Install();
  ASSERT_EQ(Connect(L"root\\ccm\\Policy\\Machine\\ActualConfig"), S_OK);
  ComPtr<IWbemClassObject> message =
      First(L"SELECT * FROM CCM_Scheduler_ScheduledMessage");
  ASSERT_TRUE(message);
  ASSERT_EQ(Get(message, L"Triggers"), S_OK);
  EXPECT_EQ(m_type, CIM_STRING | CIM_FLAG_ARRAY);
  ASSERT_EQ(m_value.Type(), VT_ARRAY | VT_BSTR);
  ScopedBstr element;
  element.Reset(Element<BSTR>(1));
  EXPECT_STREQ(element.Get(), L"Y");
  ASSERT_EQ(Get(message, L"TriggerMessage"), S_OK);
  EXPECT_EQ(m_value.Type(), VT_NULL);
  EXPECT_EQ(m_type, CIM_STRING);
  // A schema property the instance does not set is NULL, not missing.
  ASSERT_EQ(Get(message, L"TargetEndpoint"), S_OK);
  EXPECT_EQ(m_value.Type(), VT_NULL);
  EXPECT_EQ(Get(message, L"Nonsense"), WBEM_E_NOT_FOUND);
  ASSERT_EQ(Get(message, L"__CLASS"), S_OK);
  EXPECT_STREQ(V_BSTR(&m_value.Get()), L"CCM_Scheduler_ScheduledMessage");

  ComPtr<IWbemClassObject> policy =
      First(L"SELECT * FROM CCM_SoftwareDistribution");
  ASSERT_EQ(Get(policy, L"PRG_PRF_Disabled"), S_OK);
  EXPECT_EQ(m_type, CIM_BOOLEAN);
  EXPECT_EQ(m_value.Type(), VT_BOOL);
  EXPECT_EQ(V_BOOL(&m_value.Get()), VARIANT_TRUE);
  ASSERT_EQ(Get(policy, L"ADV_ExpirationTime"), S_OK);
  EXPECT_EQ(m_type, CIM_DATETIME);
  EXPECT_STREQ(V_BSTR(&m_value.Get()), L"20260101000000.000000+000");

  // uint16 arrays travel as 32-bit integers, sint16 ones as 16-bit ones.
  ASSERT_EQ(Connect(L"root\\cimv2"), S_OK);
  ComPtr<IWbemClassObject> enclosure =
      First(L"SELECT * FROM Win32_SystemEnclosure");
  ASSERT_TRUE(enclosure);
  ASSERT_EQ(Get(enclosure, L"ChassisTypes"), S_OK);
  EXPECT_EQ(m_type, CIM_UINT16 | CIM_FLAG_ARRAY);
  EXPECT_EQ(m_value.Type(), VT_ARRAY | VT_I4);
  EXPECT_EQ(Element<LONG>(1), 9);
  ASSERT_EQ(Get(enclosure, L"Small"), S_OK);
  EXPECT_EQ(m_type, CIM_SINT16 | CIM_FLAG_ARRAY);
  EXPECT_EQ(m_value.Type(), VT_ARRAY | VT_I2);
  EXPECT_EQ(Element<SHORT>(0), -2);
}

TEST_F(SimulatedClientTest, WrongTypedAndProjectedProperties) {
  Install();
  ASSERT_EQ(Connect(L"root\\ccm\\Policy\\Machine\\ActualConfig"), S_OK);
  ComPtr<IEnumWbemClassObject> results;
  ASSERT_EQ(
      Query(L"SELECT ScheduledMessageID FROM CCM_Scheduler_ScheduledMessage",
            results),
      S_OK);
  ComPtr<IWbemClassObject> objects[2];
  ULONG returned = 0;
  EXPECT_EQ(results->Next(0, 2, objects[0].GetAddressOf(), &returned), S_OK);
  ASSERT_EQ(returned, 2u);
  // GetAddressOf on the first element only fills the array contiguously.
  ASSERT_EQ(Get(objects[1], L"ScheduledMessageID"), S_OK);
  EXPECT_EQ(m_type, CIM_UINT32);
  EXPECT_EQ(m_value.Type(), VT_I4);
  EXPECT_EQ(V_I4(&m_value.Get()), 5);
  EXPECT_EQ(Get(objects[0], L"Triggers"), WBEM_E_NOT_FOUND);
  ComPtr<IWbemClassObject> none;
  EXPECT_EQ(results->Next(0, 1, &none, &returned), WBEM_S_FALSE);
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(results->Reset(), WBEM_E_INVALID_OPERATION);
}

TEST_F(SimulatedClientTest, GetObjectFindsSingletonsAndKeys) {
  Install();
  ASSERT_EQ(Connect(L"root\\ccm"), S_OK);
  EXPECT_EQ(GetObject(L"CCM_Client=@"), S_OK);
  EXPECT_EQ(GetObject(L"CCM_Client.ClientId=\"guid:1\""), S_OK);
  EXPECT_EQ(GetObject(L"CCM_Client.ClientId='other'"), WBEM_E_NOT_FOUND);
  EXPECT_EQ(GetObject(L"SMS_Client=@"), WBEM_E_INVALID_CLASS);
  EXPECT_EQ(GetObject(L"nonsense"), WBEM_E_INVALID_OBJECT_PATH);
}

// An instance listed under its superclass, naming its own class, as
// Get-CimInstance on the superclass writes it: queries and paths on either
// class reach it.
TEST_F(SimulatedClientTest, QueriesAndPathsReachSubclasses) {
  Install(
      R"({"namespaces": {"root\\ccm\\SoftMgmtAgent": {"CCM_ExecutionRequestEx":
      [{"RequestID": "R1", "CimSystemProperties": {"ClassName": "CCM_TSExecutionRequest"}}]}}})");
  ASSERT_EQ(Connect(L"root\\ccm\\SoftMgmtAgent"), S_OK);
  EXPECT_TRUE(First(L"SELECT * FROM CCM_ExecutionRequestEx"));
  ComPtr<IWbemClassObject> request =
      First(L"SELECT * FROM CCM_TSExecutionRequest WHERE RequestID = 'R1'");
  ASSERT_TRUE(request);
  ASSERT_EQ(Get(request, L"__CLASS"), S_OK);
  EXPECT_STREQ(V_BSTR(&m_value.Get()), L"CCM_TSExecutionRequest");
  ASSERT_EQ(Get(request, L"__SUPERCLASS"), S_OK);
  EXPECT_STREQ(V_BSTR(&m_value.Get()), L"CCM_ExecutionRequestEx");
  EXPECT_EQ(GetObject(L"CCM_ExecutionRequestEx.RequestID=\"R1\""), S_OK);
}

TEST_F(SimulatedClientTest, InjectedFailuresHitTheChosenCallWithErrorObject) {
  Install();
  Sim().FailCall(SimMethod::kExecQuery, 2, WBEM_E_QUOTA_VIOLATION,
                 L"Quota violation");
  ASSERT_EQ(Connect(L"root\\ccm"), S_OK);
  ComPtr<IEnumWbemClassObject> results;
  EXPECT_EQ(Query(L"SELECT * FROM CCM_Client", results), S_OK);
  ::SetErrorInfo(0, nullptr);
  EXPECT_EQ(Query(L"SELECT * FROM CCM_Client", results),
            WBEM_E_QUOTA_VIOLATION);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(::GetErrorInfo(0, &info), S_OK);
  ScopedBstr description;
  ASSERT_EQ(info->GetDescription(description.Receive()), S_OK);
  EXPECT_STREQ(description.Get(), L"Quota violation");
  EXPECT_EQ(Query(L"SELECT * FROM CCM_Client", results), S_OK);
  EXPECT_EQ(Sim().CallCount(SimMethod::kExecQuery), 3);

  Sim().FailEveryCall(SimMethod::kGet, WBEM_E_ACCESS_DENIED);
  ComPtr<IWbemClassObject> client = First(L"SELECT * FROM CCM_Client");
  ScopedVariant value;
  EXPECT_EQ(client->Get(L"ClientId", 0, value.Receive(), nullptr, nullptr),
            WBEM_E_ACCESS_DENIED);
  EXPECT_EQ(client->Get(L"ClientId", 0, value.Receive(), nullptr, nullptr),
            WBEM_E_ACCESS_DENIED);
}

TEST_F(SimulatedClientTest, CountsLiveObjectsUntilReleased) {
  Install();
  ASSERT_EQ(Connect(L"root\\ccm"), S_OK);
  EXPECT_EQ(SimulatedClient::LiveObjects(), 1);
  ComPtr<IEnumWbemClassObject> results;
  ASSERT_EQ(Query(L"SELECT * FROM CCM_Client", results), S_OK);
  ComPtr<IWbemClassObject> client;
  ULONG returned = 0;
  ASSERT_EQ(results->Next(WBEM_INFINITE, 1, &client, &returned), S_OK);
  EXPECT_EQ(SimulatedClient::LiveObjects(), 3);
  // Objects outlive the simulation that made them.
  Unload();
  m_services.Reset();
  results.Reset();
  EXPECT_EQ(SimulatedClient::LiveObjects(), 1);
  ScopedVariant value;
  ASSERT_EQ(client->Get(L"ClientId", 0, value.Receive(), nullptr, nullptr),
            S_OK);
  EXPECT_STREQ(V_BSTR(&value.Get()), L"GUID:1");
}

TEST_F(SimulatedClientTest, OtherNamespacesReachThePlatform) {
  Install(R"({"namespaces": {"root\\ccm": {}}})");
  ASSERT_EQ(Connect(L"root\\cimv2"), S_OK);
  // The platform's services, not a simulated one.
  EXPECT_EQ(SimulatedClient::LiveObjects(), 0);
  ComPtr<IEnumWbemClassObject> results;
  EXPECT_EQ(Query(L"SELECT * FROM Win32_SystemEnclosure", results), S_OK);
  EXPECT_EQ(Sim().CallCount(SimMethod::kExecQuery), 0);
}

TEST_F(SimulatedClientTest, RevokesItsRegistrationAndAllowsOneAtATime) {
  Install();
  EXPECT_THROW(SimulatedClient("{}"), std::runtime_error);
  Unload();
  // Without the simulation the platform answers: Wine knows no root\ccm.
  EXPECT_EQ(Connect(L"root\\ccm"), WBEM_E_INVALID_NAMESPACE);
  EXPECT_EQ(SimulatedClient::LiveObjects(), 0);
  // A malformed scenario installs nothing.
  EXPECT_THROW(SimulatedClient("{ bad"), vpltest::ScenarioError);
  Install();
}

// The bundled sample answers every question the plug-in asks, as an idle
// client would.
TEST_F(SimulatedClientTest, DefaultSampleAnswersThePluginsQueries) {
  Install(VPL_SAMPLES_DIR "/default.json");
  const std::wstring running =
      L" WHERE ((RunningState='Running') OR (RunningState='NotifyExecution'))";
  // clang-format off
  const struct { const wchar_t* wmiNamespace; std::wstring query; HRESULT result; ULONG objects; } cases[] = {
      {L"root\\CCM\\SoftMgmtAgent", L"SELECT * FROM CCM_ExecutionRequestEx" + running, S_OK, 0},
      {L"root\\CCM\\SoftMgmtAgent", L"SELECT * FROM ExecutionRequest" + running, static_cast<HRESULT>(WBEM_E_INVALID_CLASS), 0},
      {L"root\\CCM\\SoftwareUpdates\\DeploymentAgent",
       L"SELECT UpdateId, UpdateStatus FROM CCM_TargetedUpdateEx1 WHERE (UpdateState <> 2)", S_OK, 0},
      {L"root\\CCM\\Scheduler", L"SELECT ScheduleID, LastTriggerTime FROM CCM_Scheduler_History", S_OK, 2},
      {L"root\\ccm\\Policy\\Machine\\ActualConfig",
       L"SELECT ScheduledMessageID, TriggerMessage, Triggers FROM CCM_Scheduler_ScheduledMessage", S_OK, 1},
      {L"root\\ccm\\Policy\\Machine\\ActualConfig",
       L"SELECT * FROM CCM_SoftwareDistribution WHERE ADV_AdvertisementID = 'TRN20001'", S_OK, 1},
      {L"root\\cimv2", L"SELECT * FROM Win32_SystemEnclosure", S_OK, 1},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.query.begin(), c.query.end()));
    ASSERT_EQ(Connect(c.wmiNamespace), S_OK);
    ComPtr<IEnumWbemClassObject> results;
    EXPECT_EQ(Query(c.query.c_str(), results), c.result);
    ULONG count = 0, returned = 0;
    for (ComPtr<IWbemClassObject> object; results; ++count) {
      results->Next(WBEM_INFINITE, 1, object.ReleaseAndGetAddressOf(),
                    &returned);
      if (returned == 0) break;
    }
    EXPECT_EQ(count, c.objects);
  }
}

}  // namespace

#include "common/SystemCapabilities.h"

#include <wbemcli.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "tests/support/LogCapture.h"
#include "tests/support/SimClientFixture.h"

namespace {

using NTarn::SystemCapabilities;
using vpltest::LogCapture;
using vpltest::SimMethod;

std::string Enclosures(const std::string& instances) {
  return R"({"namespaces": {"root\\cimv2": {"Win32_SystemEnclosure": )" +
         instances + "}}}";
}

class SystemCapabilitiesTest : public vpltest::SimClientFixture {
 protected:
  bool PortableWith(const std::string& scenario) {
    Load(scenario);
    SystemCapabilities capabilities;
    return capabilities.IsPortableChassis();
  }
};

TEST_F(SystemCapabilitiesTest, PortableWhenAnyChassisTypeIsPortable) {
  EXPECT_FALSE(PortableWith(Enclosures(R"({"ChassisTypes": [3]})")));
  EXPECT_TRUE(PortableWith(Enclosures(R"({"ChassisTypes": [10]})")));
  EXPECT_TRUE(PortableWith(Enclosures(R"({"ChassisTypes": [3, 9]})")));
  for (int type : {8, 9, 10, 11, 12, 14, 18, 21}) {
    EXPECT_TRUE(PortableWith(
        Enclosures("{\"ChassisTypes\": [" + std::to_string(type) + "]}")))
        << type;
  }
  for (int type : {1, 2, 3, 4, 7, 13, 15, 17, 22, 30, 31, 32}) {
    EXPECT_FALSE(PortableWith(
        Enclosures("{\"ChassisTypes\": [" + std::to_string(type) + "]}")))
        << type;
  }
  // Every enclosure is examined, not only the first.
  EXPECT_TRUE(PortableWith(VPL_SCENARIO_DIR "/notebook.json"));
  EXPECT_TRUE(LogCapture::Messages().empty());
}

TEST_F(SystemCapabilitiesTest, OddValuesAreNotPortableAndDoNotCrash) {
  EXPECT_FALSE(PortableWith(Enclosures(R"({"ChassisTypes": null})")));
  EXPECT_FALSE(PortableWith(Enclosures(R"({"ChassisTypes": []})")));
  EXPECT_FALSE(PortableWith(Enclosures(R"({"Tag": "no types"})")));
  EXPECT_FALSE(PortableWith(
      Enclosures(R"({"ChassisTypes": {"cimType": "uint32", "value": 10}})")));
  EXPECT_FALSE(PortableWith(Enclosures(
      R"({"ChassisTypes": {"cimType": "string[]", "value": ["10"]}})")));
  // 16-bit elements are read at their own size.
  EXPECT_TRUE(PortableWith(Enclosures(
      R"({"ChassisTypes": {"cimType": "sint16[]", "value": [3, 9]}})")));
  EXPECT_TRUE(LogCapture::Messages().empty());
}

TEST_F(SystemCapabilitiesTest, NoInstancesIsNotPortableAndFinal) {
  SystemCapabilities capabilities;
  Load(Enclosures("[]"));
  EXPECT_FALSE(capabilities.IsPortableChassis());
  EXPECT_EQ(Sim().CallCount(SimMethod::kExecQuery), 1);
  Load(Enclosures(R"({"ChassisTypes": [10]})"));
  EXPECT_FALSE(capabilities.IsPortableChassis());
  EXPECT_EQ(Sim().CallCount(SimMethod::kConnectServer), 0);
  EXPECT_TRUE(LogCapture::Messages().empty());
}

// A read that fails or hangs is no answer: the next question reads again.
TEST_F(SystemCapabilitiesTest, FailedReadIsAskedAgainByTheNextCall) {
  SystemCapabilities capabilities;
  Load(R"({"absentNamespaces": ["root\\cimv2"]})")
      .SetStatusText(WBEM_E_INVALID_NAMESPACE, L"Invalid namespace ");
  EXPECT_FALSE(capabilities.IsPortableChassis());
  EXPECT_EQ(
      LogCapture::Messages(),
      std::vector<std::string>{
          "[T] INFO: Catching and handling HRESULT exception "
          ".\\SystemCapabilities:54 (0x8004100E)\n\tInvalid namespace \n"});
  // A provider that never answers costs one wait, not the question.
  Load(Enclosures(R"({"ChassisTypes": [10]})"));
  Sim().SetTimeScale(1000);
  Sim().HangCall(SimMethod::kExecQuery, 1, 3600000);
  EXPECT_FALSE(capabilities.IsPortableChassis());
  EXPECT_EQ(Sim().WaitedMs(), DWORD{10000});
  EXPECT_TRUE(capabilities.IsPortableChassis());
  EXPECT_TRUE(capabilities.IsPortableChassis());
  EXPECT_EQ(Sim().CallCount(SimMethod::kExecQuery), 2);
}

// Two first calls at once: each answers from a whole read.
TEST_F(SystemCapabilitiesTest, ConcurrentFirstCallsSeeNoHalfMadeAnswer) {
  Load(Enclosures(R"({"ChassisTypes": [10]})"));
  Sim().HangCall(SimMethod::kExecQuery, 1, 300);
  SystemCapabilities capabilities;
  bool first = false;
  std::thread reader([&] {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    first = capabilities.IsPortableChassis();
    ::CoUninitialize();
  });
  while (Sim().CallCount(SimMethod::kExecQuery) == 0) ::Sleep(1);
  EXPECT_TRUE(capabilities.IsPortableChassis());
  reader.join();
  EXPECT_TRUE(first);
}

TEST_F(SystemCapabilitiesTest, FailureAfterAMatchKeepsPortable) {
  Load(Enclosures(R"([{"ChassisTypes": [10]}, {"ChassisTypes": [3]}])"));
  Sim().FailCall(SimMethod::kGet, 2, WBEM_E_NOT_FOUND);
  Sim().FailCall(SimMethod::kGetErrorCodeText, 1, WBEM_E_FAILED);
  SystemCapabilities capabilities;
  EXPECT_TRUE(capabilities.IsPortableChassis());
  EXPECT_EQ(
      LogCapture::Messages(),
      std::vector<std::string>{
          "[T] INFO: Catching and handling HRESULT exception "
          ".\\SystemCapabilities:54 (0x80041002)\n\tGet last error failed\n"});
}

TEST_F(SystemCapabilitiesTest, FailedReadSkipsOnlyItsOwnEnclosure) {
  Load(Enclosures(R"([{"ChassisTypes": [3]}, {"ChassisTypes": [10]}])"));
  Sim().FailCall(SimMethod::kGet, 1, WBEM_E_NOT_FOUND);
  Sim().FailCall(SimMethod::kGetErrorCodeText, 1, WBEM_E_FAILED);
  SystemCapabilities capabilities;
  EXPECT_TRUE(capabilities.IsPortableChassis());
  EXPECT_EQ(Sim().CallCount(SimMethod::kGet), 2);
  EXPECT_EQ(
      LogCapture::Messages(),
      std::vector<std::string>{
          "[T] INFO: Catching and handling HRESULT exception "
          ".\\SystemCapabilities:54 (0x80041002)\n\tGet last error failed\n"});
}

TEST_F(SystemCapabilitiesTest, PlatformEnclosureIsReadWhenScenarioLeavesIt) {
  // root\cimv2 goes to the platform's WMI, which answers without a failure.
  Load(R"({"namespaces": {"root\\ccm": {}}})");
  SystemCapabilities capabilities;
  capabilities.IsPortableChassis();
  EXPECT_TRUE(LogCapture::Messages().empty());
  EXPECT_EQ(Sim().CallCount(SimMethod::kConnectServer), 1);
  EXPECT_EQ(Sim().CallCount(SimMethod::kExecQuery), 0);
}

TEST_F(SystemCapabilitiesTest, ProcessWideInstanceIsOne) {
  EXPECT_EQ(&NTarn::TheSystemCapabilities(), &NTarn::TheSystemCapabilities());
}

TEST_F(SystemCapabilitiesTest, WineReportsAcWithoutBattery) {
  // Wine's power manager answers: AC on line, no battery present.
  EXPECT_FALSE(SystemCapabilities().IsOnAcWithBattery());
}

}  // namespace

#include "common/wmi/WbemErrors.h"

#include <wbemcli.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <thread>

#include "tests/simclient/SimulatedClient.h"
#include "tests/support/SimClientFixture.h"

namespace {

using NTarn::GetComErrorDescription;
using NTarn::GetWbemErrorName;
using NTarn::GetWbemStatusText;

struct NamedCode {
  HRESULT code;
  const char* name;
};

// Every named code, keyed by the platform SDK's own constants so that a
// name in the wrong slot cannot go unnoticed.
const NamedCode kSdkNames[] = {
    {static_cast<HRESULT>(0), "WBEM_NO_ERROR/WBEM_S_NO_ERROR/WBEM_S_SAME"},
    {static_cast<HRESULT>(0x40006), "WBEM_OPERATION_CANCELLED"},
    {static_cast<HRESULT>(WBEM_S_FALSE), "WBEM_S_FALSE"},
    {static_cast<HRESULT>(WBEM_S_ALREADY_EXISTS), "WBEM_S_ALREADY_EXISTS"},
    {static_cast<HRESULT>(WBEM_S_RESET_TO_DEFAULT), "WBEM_S_RESET_TO_DEFAULT"},
    {static_cast<HRESULT>(WBEM_S_DIFFERENT), "WBEM_S_DIFFERENT"},
    {static_cast<HRESULT>(WBEM_S_TIMEDOUT), "WBEM_S_TIMEDOUT"},
    {static_cast<HRESULT>(WBEM_S_NO_MORE_DATA), "WBEM_S_NO_MORE_DATA"},
    {static_cast<HRESULT>(WBEM_S_PENDING), "WBEM_S_PENDING"},
    {static_cast<HRESULT>(WBEM_S_DUPLICATE_OBJECTS),
     "WBEM_S_DUPLICATE_OBJECTS"},
    {static_cast<HRESULT>(WBEM_E_FAILED), "WBEM_E_FAILED"},
    {static_cast<HRESULT>(WBEM_E_NOT_FOUND), "WBEM_E_NOT_FOUND"},
    {static_cast<HRESULT>(WBEM_E_ACCESS_DENIED), "WBEM_E_ACCESS_DENIED"},
    {static_cast<HRESULT>(WBEM_E_PROVIDER_FAILURE), "WBEM_E_PROVIDER_FAILURE"},
    {static_cast<HRESULT>(WBEM_E_TYPE_MISMATCH), "WBEM_E_TYPE_MISMATCH"},
    {static_cast<HRESULT>(WBEM_E_OUT_OF_MEMORY), "WBEM_E_OUT_OF_MEMORY"},
    {static_cast<HRESULT>(WBEM_E_INVALID_CONTEXT), "WBEM_E_INVALID_CONTEXT"},
    {static_cast<HRESULT>(WBEM_E_INVALID_PARAMETER),
     "WBEM_E_INVALID_PARAMETER"},
    {static_cast<HRESULT>(WBEM_E_NOT_AVAILABLE), "WBEM_E_NOT_AVAILABLE"},
    {static_cast<HRESULT>(WBEM_E_CRITICAL_ERROR), "WBEM_E_CRITICAL_ERROR"},
    {static_cast<HRESULT>(WBEM_E_INVALID_STREAM), "WBEM_E_INVALID_STREAM"},
    {static_cast<HRESULT>(WBEM_E_NOT_SUPPORTED), "WBEM_E_NOT_SUPPORTED"},
    {static_cast<HRESULT>(WBEM_E_INVALID_SUPERCLASS),
     "WBEM_E_INVALID_SUPERCLASS"},
    {static_cast<HRESULT>(WBEM_E_INVALID_NAMESPACE),
     "WBEM_E_INVALID_NAMESPACE"},
    {static_cast<HRESULT>(WBEM_E_INVALID_OBJECT), "WBEM_E_INVALID_OBJECT"},
    {static_cast<HRESULT>(WBEM_E_INVALID_CLASS), "WBEM_E_INVALID_CLASS"},
    {static_cast<HRESULT>(WBEM_E_PROVIDER_NOT_FOUND),
     "WBEM_E_PROVIDER_NOT_FOUND"},
    {static_cast<HRESULT>(WBEM_E_INVALID_PROVIDER_REGISTRATION),
     "WBEM_E_INVALID_PROVIDER_REGISTRATION"},
    {static_cast<HRESULT>(WBEM_E_PROVIDER_LOAD_FAILURE),
     "WBEM_E_PROVIDER_LOAD_FAILURE"},
    {static_cast<HRESULT>(WBEM_E_INITIALIZATION_FAILURE),
     "WBEM_E_INITIALIZATION_FAILURE"},
    {static_cast<HRESULT>(WBEM_E_TRANSPORT_FAILURE),
     "WBEM_E_TRANSPORT_FAILURE"},
    {static_cast<HRESULT>(WBEM_E_INVALID_OPERATION),
     "WBEM_E_INVALID_OPERATION"},
    {static_cast<HRESULT>(WBEM_E_INVALID_QUERY), "WBEM_E_INVALID_QUERY"},
    {static_cast<HRESULT>(WBEM_E_INVALID_QUERY_TYPE),
     "WBEM_E_INVALID_QUERY_TYPE"},
    {static_cast<HRESULT>(WBEM_E_ALREADY_EXISTS), "WBEM_E_ALREADY_EXISTS"},
    {static_cast<HRESULT>(WBEM_E_OVERRIDE_NOT_ALLOWED),
     "WBEM_E_OVERRIDE_NOT_ALLOWED"},
    {static_cast<HRESULT>(WBEM_E_PROPAGATED_QUALIFIER),
     "WBEM_E_PROPAGATED_QUALIFIER"},
    {static_cast<HRESULT>(WBEM_E_PROPAGATED_PROPERTY),
     "WBEM_E_PROPAGATED_PROPERTY"},
    {static_cast<HRESULT>(WBEM_E_UNEXPECTED), "WBEM_E_UNEXPECTED"},
    {static_cast<HRESULT>(WBEM_E_ILLEGAL_OPERATION),
     "WBEM_E_ILLEGAL_OPERATION"},
    {static_cast<HRESULT>(WBEM_E_CANNOT_BE_KEY), "WBEM_E_CANNOT_BE_KEY"},
    {static_cast<HRESULT>(WBEM_E_INCOMPLETE_CLASS), "WBEM_E_INCOMPLETE_CLASS"},
    {static_cast<HRESULT>(WBEM_E_INVALID_SYNTAX), "WBEM_E_INVALID_SYNTAX"},
    {static_cast<HRESULT>(WBEM_E_NONDECORATED_OBJECT),
     "WBEM_E_NONDECORATED_OBJECT"},
    {static_cast<HRESULT>(WBEM_E_READ_ONLY), "WBEM_E_READ_ONLY"},
    {static_cast<HRESULT>(WBEM_E_PROVIDER_NOT_CAPABLE),
     "WBEM_E_PROVIDER_NOT_CAPABLE"},
    {static_cast<HRESULT>(WBEM_E_CLASS_HAS_CHILDREN),
     "WBEM_E_CLASS_HAS_CHILDREN"},
    {static_cast<HRESULT>(WBEM_E_CLASS_HAS_INSTANCES),
     "WBEM_E_CLASS_HAS_INSTANCES"},
    {static_cast<HRESULT>(WBEM_E_QUERY_NOT_IMPLEMENTED),
     "WBEM_E_QUERY_NOT_IMPLEMENTED"},
    {static_cast<HRESULT>(WBEM_E_ILLEGAL_NULL), "WBEM_E_ILLEGAL_NULL"},
    {static_cast<HRESULT>(WBEM_E_INVALID_QUALIFIER_TYPE),
     "WBEM_E_INVALID_QUALIFIER_TYPE"},
    {static_cast<HRESULT>(WBEM_E_INVALID_PROPERTY_TYPE),
     "WBEM_E_INVALID_PROPERTY_TYPE"},
    {static_cast<HRESULT>(WBEM_E_VALUE_OUT_OF_RANGE),
     "WBEM_E_VALUE_OUT_OF_RANGE"},
    {static_cast<HRESULT>(WBEM_E_CANNOT_BE_SINGLETON),
     "WBEM_E_CANNOT_BE_SINGLETON"},
    {static_cast<HRESULT>(WBEM_E_INVALID_CIM_TYPE), "WBEM_E_INVALID_CIM_TYPE"},
    {static_cast<HRESULT>(WBEM_E_INVALID_METHOD), "WBEM_E_INVALID_METHOD"},
    {static_cast<HRESULT>(WBEM_E_INVALID_METHOD_PARAMETERS),
     "WBEM_E_INVALID_METHOD_PARAMETERS"},
    {static_cast<HRESULT>(WBEM_E_SYSTEM_PROPERTY), "WBEM_E_SYSTEM_PROPERTY"},
    {static_cast<HRESULT>(WBEM_E_INVALID_PROPERTY), "WBEM_E_INVALID_PROPERTY"},
    {static_cast<HRESULT>(WBEM_E_CALL_CANCELLED), "WBEM_E_CALL_CANCELLED"},
    {static_cast<HRESULT>(WBEM_E_SHUTTING_DOWN), "WBEM_E_SHUTTING_DOWN"},
    {static_cast<HRESULT>(WBEM_E_PROPAGATED_METHOD),
     "WBEM_E_PROPAGATED_METHOD"},
    {static_cast<HRESULT>(WBEM_E_UNSUPPORTED_PARAMETER),
     "WBEM_E_UNSUPPORTED_PARAMETER"},
    {static_cast<HRESULT>(WBEM_E_MISSING_PARAMETER_ID),
     "WBEM_E_MISSING_PARAMETER_ID"},
    {static_cast<HRESULT>(WBEM_E_INVALID_PARAMETER_ID),
     "WBEM_E_INVALID_PARAMETER_ID"},
    {static_cast<HRESULT>(WBEM_E_NONCONSECUTIVE_PARAMETER_IDS),
     "WBEM_E_NONCONSECUTIVE_PARAMETER_IDS"},
    {static_cast<HRESULT>(WBEM_E_PARAMETER_ID_ON_RETVAL),
     "WBEM_E_PARAMETER_ID_ON_RETVAL"},
    {static_cast<HRESULT>(WBEM_E_INVALID_OBJECT_PATH),
     "WBEM_E_INVALID_OBJECT_PATH"},
    {static_cast<HRESULT>(WBEM_E_OUT_OF_DISK_SPACE),
     "WBEM_E_OUT_OF_DISK_SPACE"},
    {static_cast<HRESULT>(WBEM_E_BUFFER_TOO_SMALL), "WBEM_E_BUFFER_TOO_SMALL"},
    {static_cast<HRESULT>(WBEM_E_UNSUPPORTED_PUT_EXTENSION),
     "WBEM_E_UNSUPPORTED_PUT_EXTENSION"},
    {static_cast<HRESULT>(WBEM_E_UNKNOWN_OBJECT_TYPE),
     "WBEM_E_UNKNOWN_OBJECT_TYPE"},
    {static_cast<HRESULT>(WBEM_E_UNKNOWN_PACKET_TYPE),
     "WBEM_E_UNKNOWN_PACKET_TYPE"},
    {static_cast<HRESULT>(WBEM_E_MARSHAL_VERSION_MISMATCH),
     "WBEM_E_MARSHAL_VERSION_MISMATCH"},
    {static_cast<HRESULT>(WBEM_E_MARSHAL_INVALID_SIGNATURE),
     "WBEM_E_MARSHAL_INVALID_SIGNATURE"},
    {static_cast<HRESULT>(WBEM_E_INVALID_QUALIFIER),
     "WBEM_E_INVALID_QUALIFIER"},
    {static_cast<HRESULT>(WBEM_E_INVALID_DUPLICATE_PARAMETER),
     "WBEM_E_INVALID_DUPLICATE_PARAMETER"},
    {static_cast<HRESULT>(WBEM_E_TOO_MUCH_DATA), "WBEM_E_TOO_MUCH_DATA"},
    {static_cast<HRESULT>(WBEM_E_SERVER_TOO_BUSY), "WBEM_E_SERVER_TOO_BUSY"},
    {static_cast<HRESULT>(WBEM_E_INVALID_FLAVOR), "WBEM_E_INVALID_FLAVOR"},
    {static_cast<HRESULT>(WBEM_E_CIRCULAR_REFERENCE),
     "WBEM_E_CIRCULAR_REFERENCE"},
    {static_cast<HRESULT>(WBEM_E_UNSUPPORTED_CLASS_UPDATE),
     "WBEM_E_UNSUPPORTED_CLASS_UPDATE"},
    {static_cast<HRESULT>(WBEM_E_CANNOT_CHANGE_KEY_INHERITANCE),
     "WBEM_E_CANNOT_CHANGE_KEY_INHERITANCE"},
    {static_cast<HRESULT>(WBEM_E_CANNOT_CHANGE_INDEX_INHERITANCE),
     "WBEM_E_CANNOT_CHANGE_INDEX_INHERITANCE"},
    {static_cast<HRESULT>(WBEM_E_TOO_MANY_PROPERTIES),
     "WBEM_E_TOO_MANY_PROPERTIES"},
    {static_cast<HRESULT>(WBEM_E_UPDATE_TYPE_MISMATCH),
     "WBEM_E_UPDATE_TYPE_MISMATCH"},
    {static_cast<HRESULT>(WBEM_E_UPDATE_OVERRIDE_NOT_ALLOWED),
     "WBEM_E_UPDATE_OVERRIDE_NOT_ALLOWED"},
    {static_cast<HRESULT>(WBEM_E_UPDATE_PROPAGATED_METHOD),
     "WBEM_E_UPDATE_PROPAGATED_METHOD"},
    {static_cast<HRESULT>(WBEM_E_METHOD_NOT_IMPLEMENTED),
     "WBEM_E_METHOD_NOT_IMPLEMENTED"},
    {static_cast<HRESULT>(WBEM_E_METHOD_DISABLED), "WBEM_E_METHOD_DISABLED"},
    {static_cast<HRESULT>(WBEM_E_REFRESHER_BUSY), "WBEM_E_REFRESHER_BUSY"},
    {static_cast<HRESULT>(WBEM_E_UNPARSABLE_QUERY), "WBEM_E_UNPARSABLE_QUERY"},
    {static_cast<HRESULT>(WBEM_E_NOT_EVENT_CLASS), "WBEM_E_NOT_EVENT_CLASS"},
    {static_cast<HRESULT>(WBEM_E_MISSING_GROUP_WITHIN),
     "WBEM_E_MISSING_GROUP_WITHIN"},
    {static_cast<HRESULT>(WBEM_E_MISSING_AGGREGATION_LIST),
     "WBEM_E_MISSING_AGGREGATION_LIST"},
    {static_cast<HRESULT>(WBEM_E_PROPERTY_NOT_AN_OBJECT),
     "WBEM_E_PROPERTY_NOT_AN_OBJECT"},
    {static_cast<HRESULT>(WBEM_E_AGGREGATING_BY_OBJECT),
     "WBEM_E_AGGREGATING_BY_OBJECT"},
    {static_cast<HRESULT>(WBEM_E_UNINTERPRETABLE_PROVIDER_QUERY),
     "WBEM_E_UNINTERPRETABLE_PROVIDER_QUERY"},
    {static_cast<HRESULT>(WBEM_E_BACKUP_RESTORE_WINMGMT_RUNNING),
     "WBEM_E_BACKUP_RESTORE_WINMGMT_RUNNING"},
    {static_cast<HRESULT>(WBEM_E_QUEUE_OVERFLOW), "WBEM_E_QUEUE_OVERFLOW"},
    {static_cast<HRESULT>(WBEM_E_PRIVILEGE_NOT_HELD),
     "WBEM_E_PRIVILEGE_NOT_HELD"},
    {static_cast<HRESULT>(WBEM_E_INVALID_OPERATOR), "WBEM_E_INVALID_OPERATOR"},
    {static_cast<HRESULT>(WBEM_E_LOCAL_CREDENTIALS),
     "WBEM_E_LOCAL_CREDENTIALS"},
    {static_cast<HRESULT>(WBEM_E_CANNOT_BE_ABSTRACT),
     "WBEM_E_CANNOT_BE_ABSTRACT"},
    {static_cast<HRESULT>(WBEM_E_AMENDED_OBJECT), "WBEM_E_AMENDED_OBJECT"},
    {static_cast<HRESULT>(WBEM_E_CLIENT_TOO_SLOW), "WBEM_E_CLIENT_TOO_SLOW"},
    {static_cast<HRESULT>(0x80043001), "WBEM_E_RETRY_LATER"},
    {static_cast<HRESULT>(0x80043002), "WBEM_E_RESOURCE_CONTENTION"},
};

bool IsFallback(const char* text) {
  return std::strncmp(text, "WBEMerr ", 8) == 0;
}

TEST(WbemErrorNameTest, NamesMatchTheSdkConstants) {
  ASSERT_EQ(sizeof(kSdkNames) / sizeof(kSdkNames[0]), 108u);
  for (const NamedCode& entry : kSdkNames) {
    EXPECT_STREQ(GetWbemErrorName(entry.code), entry.name)
        << std::hex << static_cast<unsigned long>(entry.code);
  }
}

TEST(WbemErrorNameTest, ExactlyTheTableRangesAreNamed) {
  std::set<std::string> names;
  int named = 0;
  auto scan = [&](DWORD first, DWORD last) {
    for (DWORD code = first; code <= last; ++code) {
      const char* text = GetWbemErrorName(static_cast<HRESULT>(code));
      if (!IsFallback(text)) {
        ++named;
        names.insert(text);
      }
    }
  };
  scan(0, 0x10);
  scan(0x40000, 0x40010);
  scan(0x80041000, 0x80041070);
  scan(0x80042FFF, 0x80043010);
  EXPECT_EQ(named, 108);
  EXPECT_EQ(names.size(), 108u);
}

TEST(WbemErrorNameTest, GapsAndEdgesGetTheFormattedText) {
  for (DWORD code :
       {0x2ul, 0x40000ul, 0x40009ul, 0x80041000ul, 0x8004104Aul, 0x8004104Ful,
        0x8004105Eul, 0x80041068ul, 0x80043000ul, 0x80043003ul, 0x80070005ul}) {
    const std::string text = GetWbemErrorName(static_cast<HRESULT>(code));
    char prefix[32];
    snprintf(prefix, sizeof(prefix), "WBEMerr %08lX ", code);
    EXPECT_EQ(text.rfind(prefix, 0), 0u) << text;
    // At most 60 characters of the system text follow the code.
    EXPECT_LE(text.size(), std::strlen(prefix) + 60) << text;
  }
  EXPECT_STREQ(GetWbemErrorName(static_cast<HRESULT>(0x80041049)),
               "WBEM_E_CANNOT_CHANGE_KEY_INHERITANCE");
  EXPECT_STREQ(GetWbemErrorName(static_cast<HRESULT>(0x80041050)),
               "WBEM_E_CANNOT_CHANGE_INDEX_INHERITANCE");
  EXPECT_STREQ(GetWbemErrorName(static_cast<HRESULT>(0x8004105F)),
               "WBEM_E_UNINTERPRETABLE_PROVIDER_QUERY");
}

TEST(WbemErrorNameTest, FormattedTextStaysValidWhileAnotherThreadFormats) {
  const char* mine = GetWbemErrorName(static_cast<HRESULT>(0x8004104A));
  const std::string before = mine;
  std::string theirs;
  std::thread other([&theirs] {
    theirs = GetWbemErrorName(static_cast<HRESULT>(0x8004105E));
  });
  other.join();
  EXPECT_EQ(std::string(mine), before);
  EXPECT_EQ(theirs.rfind("WBEMerr 8004105E ", 0), 0u);
}

TEST(ComErrorDescriptionTest, WithoutErrorObjectIsUnknownError) {
  ::SetErrorInfo(0, nullptr);
  EXPECT_EQ(GetComErrorDescription(), "Unknown Error");
}

TEST(ComErrorDescriptionTest, ReadsAndConsumesTheThreadsErrorObject) {
  Microsoft::WRL::ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(::CreateErrorInfo(&create), S_OK);
  create->SetDescription(const_cast<LPOLESTR>(L"Provider is not capable"));
  Microsoft::WRL::ComPtr<IErrorInfo> info;
  ASSERT_EQ(create.As(&info), S_OK);
  ::SetErrorInfo(0, info.Get());
  info.Reset();
  create.Reset();

  EXPECT_EQ(GetComErrorDescription(), "Provider is not capable");
  EXPECT_EQ(GetComErrorDescription(), "Unknown Error");
}

using WbemStatusTextTest = vpltest::SimClientFixture;

TEST_F(WbemStatusTextTest, ReturnsTheStatusObjectsText) {
  Load("{}").SetStatusText(WBEM_E_INVALID_NAMESPACE, L"Invalid namespace");
  std::string text = "previous";
  EXPECT_EQ(GetWbemStatusText(WBEM_E_INVALID_NAMESPACE, text), S_OK);
  EXPECT_EQ(text, "Invalid namespace");
  EXPECT_EQ(Sim().CallCount(vpltest::SimMethod::kGetErrorCodeText), 1);
}

TEST_F(WbemStatusTextTest, FailedRequestGivesFixedText) {
  Load("{}").FailCall(vpltest::SimMethod::kGetErrorCodeText, 1, WBEM_E_FAILED);
  std::string text;
  EXPECT_EQ(GetWbemStatusText(WBEM_E_INVALID_CLASS, text), WBEM_E_FAILED);
  EXPECT_EQ(text, "Get last error failed");
}

TEST_F(WbemStatusTextTest, CreationFailureIsReturnedAndTextKept) {
  Load("{}").FailCall(vpltest::SimMethod::kCreateStatusText, 1, E_OUTOFMEMORY);
  std::string text = "unchanged";
  EXPECT_EQ(GetWbemStatusText(WBEM_E_INVALID_CLASS, text), E_OUTOFMEMORY);
  EXPECT_EQ(text, "unchanged");
  EXPECT_EQ(Sim().CallCount(vpltest::SimMethod::kGetErrorCodeText), 0);
}

}  // namespace

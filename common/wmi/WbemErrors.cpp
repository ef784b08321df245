#include "common/wmi/WbemErrors.h"

#include <wbemcli.h>
#include <wrl/client.h>

#include <cstdio>

#include "common/Logging.h"
#include "common/ScopedBstr.h"
#include "common/wmi/WbemText.h"

namespace NTarn {
namespace {

constexpr const char* kSuccessNames[] = {
    "WBEM_NO_ERROR/WBEM_S_NO_ERROR/WBEM_S_SAME",
    "WBEM_S_FALSE",
};

// 0x40001 onwards.
constexpr const char* kInformationNames[] = {
    "WBEM_S_ALREADY_EXISTS", "WBEM_S_RESET_TO_DEFAULT",
    "WBEM_S_DIFFERENT",      "WBEM_S_TIMEDOUT",
    "WBEM_S_NO_MORE_DATA",   "WBEM_OPERATION_CANCELLED",
    "WBEM_S_PENDING",        "WBEM_S_DUPLICATE_OBJECTS",
};

// 0x80041001 to 0x80041067; null where the code has no name.
constexpr const char* kErrorNames[] = {
    "WBEM_E_FAILED",
    "WBEM_E_NOT_FOUND",
    "WBEM_E_ACCESS_DENIED",
    "WBEM_E_PROVIDER_FAILURE",
    "WBEM_E_TYPE_MISMATCH",
    "WBEM_E_OUT_OF_MEMORY",
    "WBEM_E_INVALID_CONTEXT",
    "WBEM_E_INVALID_PARAMETER",
    "WBEM_E_NOT_AVAILABLE",
    "WBEM_E_CRITICAL_ERROR",
    "WBEM_E_INVALID_STREAM",
    "WBEM_E_NOT_SUPPORTED",
    "WBEM_E_INVALID_SUPERCLASS",
    "WBEM_E_INVALID_NAMESPACE",
    "WBEM_E_INVALID_OBJECT",
    "WBEM_E_INVALID_CLASS",
    "WBEM_E_PROVIDER_NOT_FOUND",
    "WBEM_E_INVALID_PROVIDER_REGISTRATION",
    "WBEM_E_PROVIDER_LOAD_FAILURE",
    "WBEM_E_INITIALIZATION_FAILURE",
    "WBEM_E_TRANSPORT_FAILURE",
    "WBEM_E_INVALID_OPERATION",
    "WBEM_E_INVALID_QUERY",
    "WBEM_E_INVALID_QUERY_TYPE",
    "WBEM_E_ALREADY_EXISTS",
    "WBEM_E_OVERRIDE_NOT_ALLOWED",
    "WBEM_E_PROPAGATED_QUALIFIER",
    "WBEM_E_PROPAGATED_PROPERTY",
    "WBEM_E_UNEXPECTED",
    "WBEM_E_ILLEGAL_OPERATION",
    "WBEM_E_CANNOT_BE_KEY",
    "WBEM_E_INCOMPLETE_CLASS",
    "WBEM_E_INVALID_SYNTAX",
    "WBEM_E_NONDECORATED_OBJECT",
    "WBEM_E_READ_ONLY",
    "WBEM_E_PROVIDER_NOT_CAPABLE",
    "WBEM_E_CLASS_HAS_CHILDREN",
    "WBEM_E_CLASS_HAS_INSTANCES",
    "WBEM_E_QUERY_NOT_IMPLEMENTED",
    "WBEM_E_ILLEGAL_NULL",
    "WBEM_E_INVALID_QUALIFIER_TYPE",
    "WBEM_E_INVALID_PROPERTY_TYPE",
    "WBEM_E_VALUE_OUT_OF_RANGE",
    "WBEM_E_CANNOT_BE_SINGLETON",
    "WBEM_E_INVALID_CIM_TYPE",
    "WBEM_E_INVALID_METHOD",
    "WBEM_E_INVALID_METHOD_PARAMETERS",
    "WBEM_E_SYSTEM_PROPERTY",
    "WBEM_E_INVALID_PROPERTY",
    "WBEM_E_CALL_CANCELLED",
    "WBEM_E_SHUTTING_DOWN",
    "WBEM_E_PROPAGATED_METHOD",
    "WBEM_E_UNSUPPORTED_PARAMETER",
    "WBEM_E_MISSING_PARAMETER_ID",
    "WBEM_E_INVALID_PARAMETER_ID",
    "WBEM_E_NONCONSECUTIVE_PARAMETER_IDS",
    "WBEM_E_PARAMETER_ID_ON_RETVAL",
    "WBEM_E_INVALID_OBJECT_PATH",
    "WBEM_E_OUT_OF_DISK_SPACE",
    "WBEM_E_BUFFER_TOO_SMALL",
    "WBEM_E_UNSUPPORTED_PUT_EXTENSION",
    "WBEM_E_UNKNOWN_OBJECT_TYPE",
    "WBEM_E_UNKNOWN_PACKET_TYPE",
    "WBEM_E_MARSHAL_VERSION_MISMATCH",
    "WBEM_E_MARSHAL_INVALID_SIGNATURE",
    "WBEM_E_INVALID_QUALIFIER",
    "WBEM_E_INVALID_DUPLICATE_PARAMETER",
    "WBEM_E_TOO_MUCH_DATA",
    "WBEM_E_SERVER_TOO_BUSY",
    "WBEM_E_INVALID_FLAVOR",
    "WBEM_E_CIRCULAR_REFERENCE",
    "WBEM_E_UNSUPPORTED_CLASS_UPDATE",
    "WBEM_E_CANNOT_CHANGE_KEY_INHERITANCE",
    nullptr,  // 0x8004104A
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,  // 0x8004104F
    "WBEM_E_CANNOT_CHANGE_INDEX_INHERITANCE",
    "WBEM_E_TOO_MANY_PROPERTIES",
    "WBEM_E_UPDATE_TYPE_MISMATCH",
    "WBEM_E_UPDATE_OVERRIDE_NOT_ALLOWED",
    "WBEM_E_UPDATE_PROPAGATED_METHOD",
    "WBEM_E_METHOD_NOT_IMPLEMENTED",
    "WBEM_E_METHOD_DISABLED",
    "WBEM_E_REFRESHER_BUSY",
    "WBEM_E_UNPARSABLE_QUERY",
    "WBEM_E_NOT_EVENT_CLASS",
    "WBEM_E_MISSING_GROUP_WITHIN",
    "WBEM_E_MISSING_AGGREGATION_LIST",
    "WBEM_E_PROPERTY_NOT_AN_OBJECT",
    "WBEM_E_AGGREGATING_BY_OBJECT",
    nullptr,  // 0x8004105E
    "WBEM_E_UNINTERPRETABLE_PROVIDER_QUERY",
    "WBEM_E_BACKUP_RESTORE_WINMGMT_RUNNING",
    "WBEM_E_QUEUE_OVERFLOW",
    "WBEM_E_PRIVILEGE_NOT_HELD",
    "WBEM_E_INVALID_OPERATOR",
    "WBEM_E_LOCAL_CREDENTIALS",
    "WBEM_E_CANNOT_BE_ABSTRACT",
    "WBEM_E_AMENDED_OBJECT",
    "WBEM_E_CLIENT_TOO_SLOW",
};

// 0x80043001 onwards.
constexpr const char* kLateErrorNames[] = {
    "WBEM_E_RETRY_LATER",
    "WBEM_E_RESOURCE_CONTENTION",
};

static_assert(sizeof(kErrorNames) / sizeof(kErrorNames[0]) == 0x67,
              "one slot per code from 0x80041001 to 0x80041067");

template <size_t N>
const char* Lookup(const char* const (&table)[N], DWORD code, DWORD first) {
  if (code < first || code - first >= N) return nullptr;
  return table[code - first];
}

constexpr size_t kFallbackTextSize = 261;
// Per thread, so that a text stays valid while its own thread logs it.
thread_local char t_fallbackText[kFallbackTextSize];

}  // namespace

const char* GetWbemErrorName(HRESULT hr) {
  const DWORD code = static_cast<DWORD>(hr);
  const char* name = Lookup(kSuccessNames, code, 0);
  if (!name) name = Lookup(kInformationNames, code, 0x40001);
  if (!name) name = Lookup(kErrorNames, code, 0x80041001);
  if (!name) name = Lookup(kLateErrorNames, code, 0x80043001);
  if (name) return name;
  snprintf(t_fallbackText, sizeof(t_fallbackText), "WBEMerr %08lX %.60s",
           static_cast<unsigned long>(code), FormatErrorText(code));
  return t_fallbackText;
}

std::string GetComErrorDescription() {
  Microsoft::WRL::ComPtr<IErrorInfo> errorInfo;
  if (::GetErrorInfo(0, &errorInfo) != S_OK || !errorInfo) {
    return "Unknown Error";
  }
  ScopedBstr description;
  if (FAILED(errorInfo->GetDescription(description.Receive())) ||
      description.IsNull()) {
    return std::string();
  }
  return WideToAnsi(description.Get(), description.Length());
}

HRESULT GetWbemStatusText(HRESULT hr, std::string& text) {
  Microsoft::WRL::ComPtr<IWbemStatusCodeText> statusText;
  const HRESULT created =
      ::CoCreateInstance(CLSID_WbemStatusCodeText, nullptr,
                         CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&statusText));
  if (FAILED(created)) return created;
  ScopedBstr message;
  const HRESULT result =
      statusText->GetErrorCodeText(hr, 0, 0, message.Receive());
  if (FAILED(result)) {
    text = "Get last error failed";
  } else {
    text = WideToAnsi(message.Get(), message.Length());
  }
  return result;
}

}  // namespace NTarn

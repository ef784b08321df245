#include "tests/simclient/Schema.h"

#include <cwchar>

namespace vpltest::sim {
namespace {

struct PropertyEntry {
  const wchar_t* name;
  CIMTYPE type;
};

struct ClassEntry {
  const wchar_t* name;
  const PropertyEntry* properties;
  size_t count;
  // The key properties, the one the repository finds instances by first;
  // none for a singleton.
  const wchar_t* keys[3];
  const wchar_t* superclass;
  // Where the plug-in reads the class, normalised as scenario namespaces are.
  const wchar_t* wmiNamespace;
};

constexpr wchar_t kSoftMgmtAgent[] = L"root\\ccm\\softmgmtagent";
constexpr wchar_t kActualConfig[] = L"root\\ccm\\policy\\machine\\actualconfig";
constexpr wchar_t kClientSdk[] = L"root\\ccm\\clientsdk";

constexpr PropertyEntry kClient[] = {
    {L"ClientId", CIM_STRING},
    {L"ClientIdChangeDate", CIM_STRING},
    {L"PreviousClientId", CIM_STRING},
};

constexpr PropertyEntry kExecutionRequest[] = {
    {L"RequestID", CIM_STRING},      {L"ContentID", CIM_STRING},
    {L"AdvertID", CIM_STRING},       {L"ProgramID", CIM_STRING},
    {L"State", CIM_STRING},          {L"RunningState", CIM_STRING},
    {L"ReceivedTime", CIM_DATETIME},
};

constexpr PropertyEntry kTargetedUpdate[] = {
    {L"UpdateId", CIM_STRING},        {L"UpdateStatus", CIM_UINT32},
    {L"UpdateState", CIM_UINT32},     {L"DownloadStatus", CIM_UINT32},
    {L"PercentComplete", CIM_UINT32},
};

constexpr PropertyEntry kSchedulerHistory[] = {
    {L"ScheduleID", CIM_STRING},
    {L"UserSID", CIM_STRING},
    {L"FirstEvalTime", CIM_DATETIME},
    {L"LastTriggerTime", CIM_DATETIME},
};

constexpr PropertyEntry kSoftwareDistribution[] = {
    {L"ADV_AdvertisementID", CIM_STRING},
    {L"ADV_ActiveTime", CIM_DATETIME},
    {L"ADV_ExpirationTime", CIM_DATETIME},
    {L"ADV_ExpirationTimeIsGMT", CIM_BOOLEAN},
    {L"PKG_PackageID", CIM_STRING},
    {L"PRG_ProgramID", CIM_STRING},
    {L"PRG_PRF_Disabled", CIM_BOOLEAN},
    {L"PRG_Requirements", CIM_STRING},
};

constexpr PropertyEntry kTaskSequence[] = {
    {L"TS_Sequence", CIM_STRING},
};

constexpr PropertyEntry kScheduledMessage[] = {
    {L"ScheduledMessageID", CIM_STRING},
    {L"TargetEndpoint", CIM_STRING},
    {L"TriggerMessage", CIM_STRING},
    {L"Triggers", CIM_STRING | CIM_FLAG_ARRAY},
};

constexpr PropertyEntry kServiceWindow[] = {
    {L"ID", CIM_STRING},        {L"StartTime", CIM_DATETIME},
    {L"EndTime", CIM_DATETIME}, {L"Duration", CIM_UINT32},
    {L"Type", CIM_UINT32},
};

constexpr PropertyEntry kSdkSoftwareUpdate[] = {
    {L"UpdateID", CIM_STRING},
    {L"ArticleID", CIM_STRING},
    {L"Name", CIM_STRING},
    {L"ComplianceState", CIM_UINT32},
    {L"EvaluationState", CIM_UINT32},
    {L"Deadline", CIM_DATETIME},
    {L"OverrideServiceWindows", CIM_BOOLEAN},
};

constexpr PropertyEntry kSdkApplication[] = {
    {L"Id", CIM_STRING},
    {L"Revision", CIM_STRING},
    {L"IsMachineTarget", CIM_BOOLEAN},
    {L"Name", CIM_STRING},
    {L"EvaluationState", CIM_UINT32},
    {L"Deadline", CIM_DATETIME},
    {L"OverrideServiceWindow", CIM_BOOLEAN},
};

constexpr PropertyEntry kUpdatesClientConfig[] = {
    {L"SiteSettingsKey", CIM_UINT32},
    {L"ServiceWindowManagement", CIM_BOOLEAN},
};

constexpr PropertyEntry kSystemEnclosure[] = {
    {L"ChassisTypes", CIM_UINT16 | CIM_FLAG_ARRAY},
    {L"Manufacturer", CIM_STRING},
    {L"SerialNumber", CIM_STRING},
    {L"SMBIOSAssetTag", CIM_STRING},
    {L"Tag", CIM_STRING},
};

// Keys come last; a class without any inherits its superclass's.
#define VPL_CLASS(name, table, superclass, ns, ...)                           \
  {                                                                           \
    name, table, sizeof(table) / sizeof(table[0]), {__VA_ARGS__}, superclass, \
        ns                                                                    \
  }
constexpr ClassEntry kClasses[] = {
    VPL_CLASS(L"CCM_Client", kClient, nullptr, L"root\\ccm"),
    VPL_CLASS(L"CCM_ExecutionRequestEx", kExecutionRequest, nullptr,
              kSoftMgmtAgent, L"RequestID"),
    VPL_CLASS(L"CCM_ExecutionRequest", kExecutionRequest, nullptr,
              kSoftMgmtAgent, L"RequestID"),
    VPL_CLASS(L"ExecutionRequest", kExecutionRequest, nullptr, kSoftMgmtAgent,
              L"RequestID"),
    VPL_CLASS(L"CCM_TSExecutionRequest", kExecutionRequest,
              L"CCM_ExecutionRequestEx", kSoftMgmtAgent),
    VPL_CLASS(L"CCM_TargetedUpdateEx1", kTargetedUpdate, nullptr,
              L"root\\ccm\\softwareupdates\\deploymentagent", L"UpdateId"),
    VPL_CLASS(L"CCM_Scheduler_History", kSchedulerHistory, nullptr,
              L"root\\ccm\\scheduler", L"ScheduleID", L"UserSID"),
    VPL_CLASS(L"CCM_SoftwareDistribution", kSoftwareDistribution, nullptr,
              kActualConfig, L"ADV_AdvertisementID", L"PKG_PackageID",
              L"PRG_ProgramID"),
    VPL_CLASS(L"CCM_TaskSequence", kTaskSequence, L"CCM_SoftwareDistribution",
              kActualConfig),
    VPL_CLASS(L"CCM_Scheduler_ScheduledMessage", kScheduledMessage, nullptr,
              kActualConfig, L"ScheduledMessageID"),
    VPL_CLASS(L"CCM_ServiceWindow", kServiceWindow, nullptr, kClientSdk, L"ID"),
    VPL_CLASS(L"CCM_SoftwareUpdate", kSdkSoftwareUpdate, nullptr, kClientSdk,
              L"UpdateID"),
    VPL_CLASS(L"CCM_Application", kSdkApplication, nullptr, kClientSdk, L"Id",
              L"Revision", L"IsMachineTarget"),
    VPL_CLASS(L"CCM_SoftwareUpdatesClientConfig", kUpdatesClientConfig, nullptr,
              kActualConfig, L"SiteSettingsKey"),
    VPL_CLASS(L"Win32_SystemEnclosure", kSystemEnclosure, nullptr,
              L"root\\cimv2", L"Tag"),
};
#undef VPL_CLASS

const ClassEntry* FindClass(const std::wstring& className) {
  for (const ClassEntry& entry : kClasses) {
    if (_wcsicmp(entry.name, className.c_str()) == 0) return &entry;
  }
  return nullptr;
}

const ClassEntry* SuperclassOf(const ClassEntry& entry) {
  return entry.superclass ? FindClass(entry.superclass) : nullptr;
}

}  // namespace

bool SchemaHasClass(const std::wstring& className) {
  return FindClass(className) != nullptr;
}

bool SchemaPropertyType(const std::wstring& className,
                        const std::wstring& property, CIMTYPE& type) {
  for (const ClassEntry* entry = FindClass(className); entry;
       entry = SuperclassOf(*entry)) {
    for (size_t i = 0; i < entry->count; ++i) {
      if (_wcsicmp(entry->properties[i].name, property.c_str()) == 0) {
        type = entry->properties[i].type;
        return true;
      }
    }
  }
  return false;
}

std::vector<std::wstring> SchemaKeyProperties(const std::wstring& className) {
  for (const ClassEntry* entry = FindClass(className); entry;
       entry = SuperclassOf(*entry)) {
    std::vector<std::wstring> keys;
    for (const wchar_t* key : entry->keys) {
      if (key) keys.push_back(key);
    }
    if (!keys.empty()) return keys;
  }
  return {};
}

bool SchemaKeyProperty(const std::wstring& className, std::wstring& key) {
  const std::vector<std::wstring> keys = SchemaKeyProperties(className);
  if (keys.empty()) return false;
  key = keys.front();
  return true;
}

std::wstring SchemaSuperclass(const std::wstring& className) {
  const ClassEntry* entry = FindClass(className);
  return entry && entry->superclass ? entry->superclass : L"";
}

bool SchemaDerivesFrom(const std::wstring& className,
                       const std::wstring& ancestor) {
  if (_wcsicmp(className.c_str(), ancestor.c_str()) == 0) return true;
  for (const ClassEntry* entry = FindClass(className); entry;
       entry = SuperclassOf(*entry)) {
    if (_wcsicmp(entry->name, ancestor.c_str()) == 0) return true;
  }
  return false;
}

bool SchemaReadsNamespace(const std::wstring& normalizedNamespace) {
  for (const ClassEntry& entry : kClasses) {
    if (normalizedNamespace == entry.wmiNamespace) return true;
  }
  return false;
}

bool SchemaReadsClass(const std::wstring& normalizedNamespace,
                      const std::wstring& className) {
  const ClassEntry* entry = FindClass(className);
  return entry && normalizedNamespace == entry->wmiNamespace;
}

bool SchemaAllowsProperty(const std::wstring& className,
                          const std::wstring& property) {
  CIMTYPE type;
  return !SchemaHasClass(className) ||
         SchemaPropertyType(className, property, type);
}

}  // namespace vpltest::sim

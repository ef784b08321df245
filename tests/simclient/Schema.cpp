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
  // The key property the repository finds instances by (the first one of a
  // compound key); null for a singleton.
  const wchar_t* key;
};

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
};

constexpr PropertyEntry kScheduledMessage[] = {
    {L"ScheduledMessageID", CIM_STRING},
    {L"TargetEndpoint", CIM_STRING},
    {L"TriggerMessage", CIM_STRING},
    {L"Triggers", CIM_STRING | CIM_FLAG_ARRAY},
};

constexpr PropertyEntry kSystemEnclosure[] = {
    {L"ChassisTypes", CIM_UINT16 | CIM_FLAG_ARRAY},
    {L"Manufacturer", CIM_STRING},
    {L"SerialNumber", CIM_STRING},
    {L"SMBIOSAssetTag", CIM_STRING},
    {L"Tag", CIM_STRING},
};

#define VPL_CLASS(name, table, key) \
  { name, table, sizeof(table) / sizeof(table[0]), key }
constexpr ClassEntry kClasses[] = {
    VPL_CLASS(L"CCM_Client", kClient, nullptr),
    VPL_CLASS(L"CCM_ExecutionRequestEx", kExecutionRequest, L"RequestID"),
    VPL_CLASS(L"CCM_ExecutionRequest", kExecutionRequest, L"RequestID"),
    VPL_CLASS(L"ExecutionRequest", kExecutionRequest, L"RequestID"),
    VPL_CLASS(L"CCM_TSExecutionRequest", kExecutionRequest, L"RequestID"),
    VPL_CLASS(L"CCM_TargetedUpdateEx1", kTargetedUpdate, L"UpdateId"),
    VPL_CLASS(L"CCM_Scheduler_History", kSchedulerHistory, L"ScheduleID"),
    VPL_CLASS(L"CCM_SoftwareDistribution", kSoftwareDistribution,
              L"ADV_AdvertisementID"),
    VPL_CLASS(L"CCM_Scheduler_ScheduledMessage", kScheduledMessage,
              L"ScheduledMessageID"),
    VPL_CLASS(L"Win32_SystemEnclosure", kSystemEnclosure, L"Tag"),
};
#undef VPL_CLASS

const ClassEntry* FindClass(const std::wstring& className) {
  for (const ClassEntry& entry : kClasses) {
    if (_wcsicmp(entry.name, className.c_str()) == 0) return &entry;
  }
  return nullptr;
}

}  // namespace

bool SchemaHasClass(const std::wstring& className) {
  return FindClass(className) != nullptr;
}

bool SchemaPropertyType(const std::wstring& className,
                        const std::wstring& property, CIMTYPE& type) {
  const ClassEntry* entry = FindClass(className);
  if (!entry) return false;
  for (size_t i = 0; i < entry->count; ++i) {
    if (_wcsicmp(entry->properties[i].name, property.c_str()) == 0) {
      type = entry->properties[i].type;
      return true;
    }
  }
  return false;
}

bool SchemaKeyProperty(const std::wstring& className, std::wstring& key) {
  const ClassEntry* entry = FindClass(className);
  if (!entry || !entry->key) return false;
  key = entry->key;
  return true;
}

bool SchemaAllowsProperty(const std::wstring& className,
                          const std::wstring& property) {
  CIMTYPE type;
  return !SchemaHasClass(className) ||
         SchemaPropertyType(className, property, type);
}

}  // namespace vpltest::sim

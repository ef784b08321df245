#include "bench/BenchScenario.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "tests/simclient/Scenario.h"
#include "tests/support/TokenText.h"

namespace vplbench {
namespace {

using Json = nlohmann::json;
using vpltest::TokenFields;

constexpr __time64_t kMinute = 60;
constexpr __time64_t kHour = 60 * kMinute;
constexpr __time64_t kDay = 24 * kHour;

std::string Narrow(const std::wstring& text) {
  return vpltest::sim::WideToUtf8(text);
}

tm LocalFields(__time64_t time) {
  tm fields{};
  _localtime64_s(&fields, &time);
  return fields;
}

// A token of `type` whose start is `start` (local time).
TokenFields StartingAt(__time64_t start, uint32_t type) {
  const tm local = LocalFields(start);
  TokenFields fields;
  fields.year = local.tm_year + 1900;
  fields.month = local.tm_mon + 1;
  fields.day = local.tm_mday;
  fields.hour = local.tm_hour;
  fields.minute = local.tm_min;
  fields.type = type;
  return fields;
}

std::string Token(const TokenFields& fields) {
  return Narrow(vpltest::TokenText(fields));
}

// CIM_DATETIME text of a local time, as the client stores policy times.
std::string CimDateTime(__time64_t time) {
  const tm local = LocalFields(time);
  char text[32];
  snprintf(text, sizeof(text), "%04d%02d%02d%02d%02d%02d.000000+000",
           local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
           local.tm_min, local.tm_sec);
  return text;
}

std::string Id(const char* prefix, int number) {
  char text[16];
  snprintf(text, sizeof(text), "%s%05X", prefix, number);
  return text;
}

// The schedule text of message `number` of `kind`, and how its
// advertisement stands.
struct Message {
  std::string schedule;
  bool expired = false;
  bool disabled = false;
  bool withPolicy = true;
};

Message MakeMessage(int number, int kind, __time64_t now) {
  Message message;
  TokenFields fields;
  // Daily, weekly and monthly occurrences at an hour before now's time of
  // day are never within the next half hour.
  const __time64_t earlierToday = now - kHour;
  switch (kind) {
    case 1:  // a one-off due in ten minutes, of an expired advertisement
      message.schedule = Token(StartingAt(now + 10 * kMinute, 1));
      message.expired = true;
      break;
    case 2:  // every quarter of an hour, of a disabled program
      fields = StartingAt(now - 3 * kDay, 2);
      fields.interval_minutes = 15;
      message.schedule = Token(fields);
      message.disabled = true;
      break;
    case 3:
    case 4:
    case 5:  // one-offs that ran
      message.schedule =
          Token(StartingAt(now - (number % 97 + 1) * kDay - 7 * kHour, 1));
      break;
    case 6:
    case 7:  // daily, three hours from now
      fields = StartingAt(now - 30 * kDay + 3 * kHour, 2);
      fields.interval_days = 1;
      message.schedule = Token(fields);
      break;
    case 8:  // every four hours, the next one an hour from now
      fields = StartingAt(now - 239 * kHour, 2);
      fields.interval_hours = 4;
      message.schedule = Token(fields);
      break;
    case 9:
    case 11: {  // weekly, on the weekday two days from now
      fields = StartingAt(earlierToday - 60 * kDay, 3);
      fields.weekday = LocalFields(now + 2 * kDay).tm_wday + 1;
      fields.weeks = 1;
      message.schedule = Token(fields);
      break;
    }
    case 12:
    case 13:  // second Tuesday, or last Friday, of the month
      fields = StartingAt(earlierToday - 400 * kDay, 4);
      fields.weekday = kind == 12 ? 3 : 6;
      fields.week_order = kind == 12 ? 2 : 0;
      fields.months = 1;
      message.schedule = Token(fields);
      break;
    case 14:
    case 15:  // the 15th, or the last day, of every month or quarter
      fields = StartingAt(earlierToday - 400 * kDay, 5);
      fields.month_day = kind == 14 ? 15 : 0;
      fields.months = kind == 14 ? 1 : 3;
      message.schedule = Token(fields);
      break;
    case 16:  // a one-off in two days
      message.schedule = Token(StartingAt(now + 2 * kDay, 1));
      break;
    case 17: {  // two tokens: a one-off that ran and a daily one
      fields = StartingAt(now - 30 * kDay + 5 * kHour, 2);
      fields.interval_days = 1;
      message.schedule = Token(StartingAt(now - 40 * kDay, 1)) + Token(fields);
      break;
    }
    case 18:  // an advertisement whose policy is gone
      fields = StartingAt(now - 30 * kDay + 6 * kHour, 2);
      fields.interval_days = 1;
      message.schedule = Token(fields);
      message.withPolicy = false;
      break;
    default:  // weekly on a fixed weekday, every other week
      fields = StartingAt(earlierToday - 90 * kDay, 3);
      fields.weekday = 2;
      fields.weeks = 2;
      message.schedule = Token(fields);
      break;
  }
  return message;
}

std::string TriggerMessage(const std::string& advert,
                           const std::string& package) {
  return "<?xml version='1.0' ?><SoftwareDeploymentMessage "
         "MessageType='Execute'><AdvertisementID>" +
         advert + "</AdvertisementID><PackageID>" + package +
         "</PackageID><ProgramID>Install</ProgramID></"
         "SoftwareDeploymentMessage>";
}

}  // namespace

std::string MakeBenchScenario(int messages, __time64_t now, bool dueLeftOut) {
  Json scheduled = Json::array();
  Json policies = Json::array();
  for (int number = 0; number < messages; ++number) {
    const int kind = number % 20;
    if (kind == 0 || kind == 10) {
      // The client's own schedules: never evaluated, however due.
      TokenFields fields = StartingAt(now - kDay, 2);
      fields.interval_minutes = 5;
      char id[48];
      snprintf(id, sizeof(id), "{%08X-0000-0000-0000-000000000021}", number);
      scheduled.push_back(
          {{"ScheduledMessageID", id},
           {"TargetEndpoint", "direct:PolicyAgent_RequestAssignments"},
           {"TriggerMessage", ""},
           {"Triggers",
            Json::array({"SimpleInterval;Minutes=5;MaxRandomDelayMinutes=0",
                         "SMSSchedule=" + Token(fields)})}});
      continue;
    }
    const Message message = MakeMessage(number, kind, now);
    const std::string advert = Id("BEN2", number);
    const std::string package = Id("BEN0", number);
    char hash[16];
    snprintf(hash, sizeof(hash), "%08X", 0x6F6BCC28u ^ (number * 2654435761u));
    Json triggers = Json::array({"SMSSchedule=" + message.schedule});
    if (kind == 19)
      triggers.insert(triggers.begin(), "SimpleInterval;Minutes=60");
    scheduled.push_back(
        {{"ScheduledMessageID", advert + "-" + package + "-" + hash},
         {"TargetEndpoint", "direct:execmgr"},
         {"TriggerMessage", TriggerMessage(advert, package)},
         {"Triggers", triggers}});
    if (!message.withPolicy) continue;
    Json expiration = nullptr;
    if (message.expired && dueLeftOut) expiration = CimDateTime(now - kDay);
    if (kind == 19) expiration = CimDateTime(now + 200 * kDay);
    policies.push_back({{"ADV_AdvertisementID", advert},
                        {"ADV_ActiveTime", CimDateTime(now - 500 * kDay)},
                        {"ADV_ExpirationTime", expiration},
                        {"PKG_PackageID", package},
                        {"PRG_ProgramID", "Install"},
                        {"PRG_PRF_Disabled", message.disabled && dueLeftOut}});
  }

  Json requests = Json::array();
  Json updates = Json::array();
  for (int number = 0; number < 5; ++number) {
    requests.push_back(
        {{"RequestID", "{BEN-REQUEST-" + std::to_string(number) + "}"},
         {"ContentID", Id("BEN0", number)},
         {"AdvertID", Id("BEN2", number)},
         {"ProgramID", "Install"},
         {"State", "Completed"},
         {"RunningState", "Completed"},
         {"ReceivedTime", CimDateTime(now - number * kDay)}});
    updates.push_back({{"UpdateId", "Site_BEN/SUM_" + std::to_string(number)},
                       {"UpdateState", 2},
                       {"UpdateStatus", 12},
                       {"DownloadStatus", 2},
                       {"PercentComplete", 100}});
  }

  const Json scenario = {
      {"host", {{"portable", false}}},
      {"namespaces",
       {{"root\\ccm", {{"CCM_Client", {{"ClientId", "GUID:BENCH"}}}}},
        {"root\\ccm\\SoftMgmtAgent",
         {{"CCM_ExecutionRequestEx", requests},
          {"CCM_TSExecutionRequest", Json::array()}}},
        {"root\\ccm\\SoftwareUpdates\\DeploymentAgent",
         {{"CCM_TargetedUpdateEx1", updates}}},
        {"root\\ccm\\Policy\\Machine\\ActualConfig",
         {{"CCM_Scheduler_ScheduledMessage", scheduled},
          {"CCM_SoftwareDistribution", policies}}}}}};
  return scenario.dump();
}

}  // namespace vplbench

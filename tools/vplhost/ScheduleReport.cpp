#include "tools/vplhost/ScheduleReport.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <nlohmann/json.hpp>
#include <optional>

#include "common/HResultException.h"
#include "jobs/DateTime.h"
#include "jobs/SMSJobsDetector.h"
#include "jobs/Schedule.h"
#include "jobs/ScheduleToken.h"
#include "tools/vplhost/ExitCode.h"

namespace vplhost {
namespace {

using nlohmann::ordered_json;

constexpr const char* kWeekdays[] = {"Sunday",    "Monday",   "Tuesday",
                                     "Wednesday", "Thursday", "Friday",
                                     "Saturday"};
constexpr const char* kWeekOrders[] = {"last", "first", "second", "third",
                                       "fourth"};

std::string Format(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  vsnprintf(buffer, sizeof(buffer), format, args);
  va_end(args);
  return buffer;
}

std::string Ascii(const std::wstring& text) {
  std::string narrow;
  for (wchar_t c : text) narrow += c < 0x80 ? static_cast<char>(c) : '?';
  return narrow;
}

std::string WeekdayName(int weekday) {
  return weekday >= 1 && weekday <= 7 ? kWeekdays[weekday - 1]
                                      : Format("day %d", weekday);
}

std::string WeekOrderName(int order) {
  return order >= 0 && order <= 4 ? kWeekOrders[order]
                                  : Format("week %d", order);
}

std::string EveryMonths(int months) {
  return months == 1 ? "every month" : Format("every %d months", months);
}

// "1 week", "2 weeks".
std::string Count(int number, const char* unit) {
  return Format("%d %s%s", number, unit, number == 1 ? "" : "s");
}

// "20 minutes", "1 day 2 hours": the parts that are not zero, or "0
// minutes" when none is.
std::string Span(int days, int hours, int minutes) {
  std::string text;
  const auto add = [&text](int number, const char* unit) {
    if (number == 0) return;
    if (!text.empty()) text += " ";
    text += Count(number, unit);
  };
  add(days, "day");
  add(hours, "hour");
  add(minutes, "minute");
  return text.empty() ? Count(0, "minute") : text;
}

std::string LocalTimeText(__time64_t time) {
  return Ascii(FormatLocalTime(time, L"%Y-%m-%d %H:%M:%S"));
}

// Why the product's decoder rejects the token, read from the same bits.
// Characters that are not hexadecimal digits are refused here first: the
// decoder would read such a half only up to the stray character.
std::optional<std::string> InvalidReason(const std::wstring& token) {
  if (token.size() != CScheduleToken::kTextLength) {
    return Format("%zu characters instead of 16", token.size());
  }
  for (size_t i = 0; i < token.size(); ++i) {
    if (!iswxdigit(token[i]))
      return Format("character %zu is not a hexadecimal digit", i + 1);
  }
  const uint32_t high = std::wcstoul(token.substr(0, 8).c_str(), nullptr, 16);
  const uint32_t low = std::wcstoul(token.substr(8).c_str(), nullptr, 16);
  const uint32_t minute = high >> 26;
  const uint32_t hour = (high >> 21) & 0x1f;
  const uint32_t month = (high >> 12) & 0xf;
  const uint32_t type = (low >> 19) & 0x7;
  if (minute > 59) return Format("start minute %u is out of range", minute);
  if (hour > 23) return Format("start hour %u is out of range", hour);
  if (month < 1 || month > 12)
    return Format("start month %u is out of range", month);
  if (type < OneTime || type > MonthlyByWeekdayOffset)
    return Format("recurrence type %u is unknown", type);
  return std::nullopt;
}

ordered_json Recurrence(const CScheduleToken& token) {
  ordered_json recurrence;
  switch (token.recurrence_type) {
    case OneTime:
      recurrence["type"] = "none";
      break;
    case Interval:
      recurrence["type"] = "interval";
      recurrence["days"] = token.interval_days;
      recurrence["hours"] = token.interval_hours;
      recurrence["minutes"] = token.interval_minutes;
      break;
    case Weekly:
      recurrence["type"] = "weekly";
      recurrence["weekday"] = WeekdayName(token.weekday);
      recurrence["weeks"] = token.weeks;
      break;
    case MonthlyByWeekday:
      recurrence["type"] = "monthly by weekday";
      recurrence["week"] = WeekOrderName(token.week_order);
      recurrence["weekday"] = WeekdayName(token.weekday);
      recurrence["months"] = token.months;
      break;
    case MonthlyByWeekdayOffset:
      recurrence["type"] = "monthly by weekday with offset";
      recurrence["week"] = WeekOrderName(token.week_order);
      recurrence["weekday"] = WeekdayName(token.weekday);
      recurrence["months"] = token.months;
      recurrence["offset_days"] = token.offset_days;
      break;
    case MonthlyByDate:
      recurrence["type"] = "monthly by date";
      recurrence["day"] = token.month_day;
      recurrence["months"] = token.months;
      break;
  }
  return recurrence;
}

std::string RecurrenceText(const CScheduleToken& token) {
  switch (token.recurrence_type) {
    case Interval:
      return "every " + Span(token.interval_days, token.interval_hours,
                             token.interval_minutes);
    case Weekly:
      return "every " + Count(token.weeks, "week") + " on " +
             WeekdayName(token.weekday);
    case MonthlyByWeekday:
      return Format("the %s %s of %s", WeekOrderName(token.week_order).c_str(),
                    WeekdayName(token.weekday).c_str(),
                    EveryMonths(token.months).c_str());
    case MonthlyByWeekdayOffset:
      return Format("%d day%s after the %s %s of %s", token.offset_days,
                    token.offset_days == 1 ? "" : "s",
                    WeekOrderName(token.week_order).c_str(),
                    WeekdayName(token.weekday).c_str(),
                    EveryMonths(token.months).c_str());
    case MonthlyByDate:
      return token.month_day == 0
                 ? "the last day of " + EveryMonths(token.months)
                 : Format("day %d of %s", token.month_day,
                          EveryMonths(token.months).c_str());
    default:
      return "none (once)";
  }
}

ordered_json DescribeToken(const std::wstring& text, __time64_t reference) {
  ordered_json entry;
  entry["token"] = Ascii(text);
  CScheduleToken token;
  if (const auto reason = InvalidReason(text)) {
    entry["valid"] = false;
    entry["error"] = *reason;
    return entry;
  }
  if (!token.Decode(text.c_str())) {
    entry["valid"] = false;
    entry["error"] = "the schedule code refuses it";
    return entry;
  }
  entry["valid"] = true;
  entry["start"] = Format("%04d-%02d-%02d %02d:%02d", token.year, token.month,
                          token.day, token.hour, token.minute);
  entry["utc"] = token.utc != 0;
  entry["duration"] = {{"days", token.duration_days},
                       {"hours", token.duration_hours},
                       {"minutes", token.duration_minutes}};
  entry["recurrence"] = Recurrence(token);
  entry["recurrence_text"] = RecurrenceText(token);
  entry["next"] = nullptr;
  entry["next_end"] = nullptr;
  entry["last"] = nullptr;
  if (!token.has_start) {
    entry["note"] = "the start has no time value, so no occurrences";
    return entry;
  }
  CSchedule schedule(text.c_str());
  __time64_t next = 0;
  __time64_t end = 0;
  __time64_t last = 0;
  try {
    if (schedule.GetOccurrences(&next, &end, &reference, &last)) {
      entry["next"] = LocalTimeText(next);
      if (end != next && end != CSchedule::kNoNext)
        entry["next_end"] = LocalTimeText(end);
    }
    if (last != 0) entry["last"] = LocalTimeText(last);
  } catch (const NTarn::HResultException&) {
    entry["note"] = "the occurrences cannot be evaluated";
  }
  return entry;
}

std::string OrNone(const ordered_json& value) {
  return value.is_null() ? "none" : value.get<std::string>();
}

std::string HumanText(const ordered_json& entry) {
  std::string text = "token " + entry["token"].get<std::string>() + "\n";
  if (!entry["valid"].get<bool>()) {
    return text + "  invalid: " + entry["error"].get<std::string>() + "\n";
  }
  const ordered_json& duration = entry["duration"];
  text +=
      Format("  start:      %s %s\n", entry["start"].get<std::string>().c_str(),
             entry["utc"].get<bool>() ? "UTC" : "local time");
  text += "  duration:   " +
          Span(duration["days"].get<int>(), duration["hours"].get<int>(),
               duration["minutes"].get<int>()) +
          "\n";
  text += "  recurrence: " + entry["recurrence"]["type"].get<std::string>() +
          ", " + entry["recurrence_text"].get<std::string>() + "\n";
  text += Format("  UTC flag:   %d\n", entry["utc"].get<bool>() ? 1 : 0);
  text += "  next:       " + OrNone(entry["next"]);
  if (!entry["next_end"].is_null())
    text += " until " + entry["next_end"].get<std::string>();
  text += "\n  last:       " + OrNone(entry["last"]) + "\n";
  if (entry.contains("note"))
    text += "  note:       " + entry["note"].get<std::string>() + "\n";
  return text;
}

}  // namespace

int DescribeSchedules(const std::vector<std::wstring>& schedules, bool json,
                      __time64_t reference, std::string* out) {
  ordered_json tokens = ordered_json::array();
  for (const std::wstring& operand : schedules) {
    // A Triggers element pasted whole ("SMSSchedule=<tokens>") is split as
    // the plug-in splits it; the plug-in evaluates only schedule triggers.
    std::wstring schedule = operand;
    if (operand.find_first_of(L"=;") != std::wstring::npos) {
      if (!CSMSJobsDetector::IsScheduleTrigger(operand)) {
        tokens.push_back({{"token", Ascii(operand)},
                          {"valid", false},
                          {"error",
                           "not an SMSSchedule trigger, which is "
                           "all the plug-in evaluates"}});
        continue;
      }
      schedule = CSMSJobsDetector::ScheduleTextOf(operand.c_str());
    }
    // A schedule string holds its tokens back to back; a tail shorter than a
    // token is shown as an invalid token of its own.
    if (schedule.empty()) tokens.push_back(DescribeToken(schedule, reference));
    for (size_t at = 0; at < schedule.size();
         at += CScheduleToken::kTextLength) {
      tokens.push_back(DescribeToken(
          schedule.substr(at, CScheduleToken::kTextLength), reference));
    }
  }
  bool allValid = true;
  for (const ordered_json& entry : tokens)
    allValid = allValid && entry["valid"].get<bool>();

  if (json) {
    ordered_json document;
    document["reference"] = LocalTimeText(reference);
    document["tokens"] = tokens;
    *out = document.dump(2) + "\n";
  } else {
    *out = "occurrences around " + LocalTimeText(reference) + " (local time)\n";
    for (const ordered_json& entry : tokens) *out += HumanText(entry);
  }
  return allValid ? kExitSuccess : kExitInvalidToken;
}

std::string DescribeScheduleWords(const std::wstring& schedule) {
  CSchedule parsed;
  if (!parsed.Parse(schedule.c_str())) return "does not decode";
  if (parsed.tokens().empty()) return "no schedule token";
  std::string words;
  for (const std::unique_ptr<CScheduleToken>& token : parsed.tokens()) {
    if (!words.empty()) words += "; ";
    words += RecurrenceText(*token) +
             Format(" from %04d-%02d-%02d %02d:%02d%s", token->year,
                    token->month, token->day, token->hour, token->minute,
                    token->utc ? " UTC" : "");
  }
  return words;
}

bool ParseLocalTime(const std::wstring& text, __time64_t* time) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  wchar_t tail = 0;
  const int fields = swscanf(text.c_str(), L"%4d-%2d-%2d %2d:%2d:%2d%lc", &year,
                             &month, &day, &hour, &minute, &second, &tail);
  if (!(fields == 5 && text.size() == 16) &&
      !(fields == 6 && text.size() == 19)) {
    return false;
  }
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
      hour > 23 || minute > 59 || second > 59 || year < 1971) {
    return false;
  }
  try {
    *time =
        MakeLocalTime(year, month, day, hour, minute, second, kDstAutomatic);
  } catch (const NTarn::HResultException&) {
    return false;
  }
  return true;
}

}  // namespace vplhost

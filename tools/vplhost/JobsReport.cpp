#include "tools/vplhost/JobsReport.h"

#include <wbemcli.h>

#include <cstdio>

#include <optional>
#include <vector>

#include "common/wmi/WbemConnection.h"

#include "jobs/JobFindings.h"
#include "jobs/SMSJobsDetector.h"
#include "jobs/Schedule.h"
#include "tools/vplhost/ConsoleText.h"
#include "tools/vplhost/IsoTime.h"
#include "tools/vplhost/JobText.h"
#include "tools/vplhost/ScheduleReport.h"

namespace vplhost {
namespace {

using nlohmann::ordered_json;
using Kind = ScheduledMessageEvaluation::Kind;

constexpr __time64_t kSecondsPerMinute = 60;

// Where an element's next start falls, best first.
enum class Place { kWindow, kHorizon, kBeyond, kNone };

const char* PlaceName(Place place) {
  switch (place) {
    case Place::kWindow:
      return "inside the window";
    case Place::kHorizon:
      return "within the horizon";
    case Place::kBeyond:
      return "beyond the horizon";
    case Place::kNone:
      break;
  }
  return "no start ahead";
}

Place PlaceOf(const TriggerEvaluation& trigger, const JobsQuestion& question) {
  if (!HasStartAhead(trigger, question.now)) return Place::kNone;
  // The observer's own test of the window.
  if (CSMSJobsDetector::IsDueWithin(*trigger.next, question.now,
                                    kSecondsPerMinute * question.windowMinutes))
    return Place::kWindow;
  if (*trigger.next - question.now <=
      static_cast<__time64_t>(question.hours) * 60 * kSecondsPerMinute)
    return Place::kHorizon;
  return Place::kBeyond;
}

ordered_json TriggerEntry(const TriggerEvaluation& trigger,
                          const JobsQuestion& question, Place place) {
  const std::wstring schedule =
      CSMSJobsDetector::ScheduleTextOf(trigger.trigger.c_str());
  ordered_json entry = {{"trigger", Narrow(trigger.trigger)},
                        {"schedule", DescribeScheduleWords(schedule)}};
  const bool ahead = place != Place::kNone;
  entry["next"] = ahead ? ordered_json(IsoLocalTime(*trigger.next)) : nullptr;
  entry["minutesFromNow"] =
      ahead ? ordered_json(MinutesAhead(*trigger.next, question.now)) : nullptr;
  entry["end"] = ahead && trigger.end && *trigger.end != *trigger.next &&
                         *trigger.end != CSchedule::kNoNext
                     ? ordered_json(IsoLocalTime(*trigger.end))
                     : nullptr;
  entry["place"] = PlaceName(place);
  // Only with the window rules on: the start a window does not cover.
  if (trigger.waitsForWindow) {
    entry["waitsForWindow"] = true;
    entry["windowOpens"] =
        trigger.nextWindow
            ? ordered_json(IsoLocalTime(trigger.nextWindow->start))
            : ordered_json();
  }
  return entry;
}

ordered_json JobEntry(const ScheduledMessageEvaluation& message,
                      const JobsQuestion& question) {
  ordered_json entry = {{"id", Narrow(message.id)}};
  // A job left out is not read further: its trigger message stays unknown.
  if (message.triggers.empty()) {
    entry["advertisement"] = entry["package"] = entry["program"] = nullptr;
  } else {
    const JobParts parts = JobPartsOf(message.triggers.front());
    entry["advertisement"] = parts.advertisement;
    entry["package"] = parts.package;
    entry["program"] = parts.program;
  }
  entry["disabled"] = message.standing.disabled;
  entry["expired"] = message.standing.expired;
  Place best = Place::kNone;
  bool waits = false;
  ordered_json triggers = ordered_json::array();
  for (const TriggerEvaluation& trigger : message.triggers) {
    const Place place = PlaceOf(trigger, question);
    // A start no window covers is not due, as the observer judges it.
    if (trigger.waitsForWindow && place == Place::kWindow) {
      waits = true;
    } else if (place < best) {
      best = place;
    }
    triggers.push_back(TriggerEntry(trigger, question, place));
  }
  entry["triggers"] = std::move(triggers);
  const bool leftOut = message.kind == Kind::kLeftOut;
  entry["inWindow"] = !leftOut && best == Place::kWindow;
  entry["status"] =
      leftOut ? (message.standing.expired && message.standing.disabled
                     ? "disabled, expired"
                 : message.standing.expired ? "expired"
                                            : "disabled")
      : waits && best != Place::kWindow
          ? "inside the window, but it waits for a maintenance window"
          : PlaceName(best);
  return entry;
}

// The window occurrences open now or opening within the horizon, and how
// many placeholders (no window) the client listed; none when they cannot be
// read.
void ListWindows(CSMSJobsDetector& detector, const JobsQuestion& question,
                 ordered_json& listing) {
  NTarn::CWbemConnection connection;
  const std::optional<ServiceWindowSet> windows =
      detector.ReadWindowSet(connection);
  if (!windows) {
    listing["windows"] = nullptr;
    return;
  }
  const __time64_t horizon =
      static_cast<__time64_t>(question.hours) * 60 * kSecondsPerMinute;
  ordered_json entries = ordered_json::array();
  int placeholders = 0;
  for (const ServiceWindow& window : windows->Occurrences()) {
    if (window.IsPlaceholder()) {
      ++placeholders;
      continue;
    }
    if (window.End() <= question.now || window.start - question.now > horizon)
      continue;
    entries.push_back({{"id", Narrow(window.id)},
                       {"type", window.type},
                       {"typeName", Narrow(ServiceWindowTypeName(window.type))},
                       {"start", IsoLocalTime(window.start)},
                       {"end", IsoLocalTime(window.End())},
                       {"openNow", window.IsOpenAt(question.now)}});
  }
  listing["windows"] = std::move(entries);
  listing["windowPlaceholders"] = placeholders;
}

}  // namespace

ordered_json ListJobs(const JobsQuestion& question) {
  ordered_json listing = {{"now", IsoLocalTime(question.now)},
                          {"windowMinutes", question.windowMinutes},
                          {"windowSource", question.windowSource},
                          {"hours", question.hours}};
  // The detector with the observer's window; the walk never stops early.
  CSMSJobsDetector detector(L"", question.windowMinutes, nullptr, nullptr);
  detector.SetMaintenanceWindows(question.maintenanceWindows);
  std::vector<ScheduledMessageEvaluation> messages;
  const HRESULT hr = detector.WalkScheduledMessages(
      question.now, [](const TriggerEvaluation&) { return false; }, &messages);
  ordered_json jobs = ordered_json::array();
  int clientSchedules = 0;
  for (const ScheduledMessageEvaluation& message : messages) {
    if (message.kind == Kind::kClientSchedule) ++clientSchedules;
    if (message.kind == Kind::kEvaluated || message.kind == Kind::kLeftOut)
      jobs.push_back(JobEntry(message, question));
  }
  listing["jobs"] = std::move(jobs);
  listing["clientSchedules"] = clientSchedules;
  if (question.maintenanceWindows) ListWindows(detector, question, listing);
  listing["client"] = hr != static_cast<HRESULT>(WBEM_E_INVALID_NAMESPACE);
  if (FAILED(hr) && hr != static_cast<HRESULT>(WBEM_E_INVALID_NAMESPACE)) {
    char text[64];
    snprintf(text, sizeof(text),
             "the scheduled messages cannot be read: 0x%08lx",
             static_cast<unsigned long>(hr));
    listing["error"] = text;
  }
  return listing;
}

std::string JobsText(const ordered_json& listing) {
  std::string text =
      "jobs at " + listing["now"].get<std::string>() + ": window " +
      std::to_string(listing["windowMinutes"].get<DWORD>()) + " minutes (" +
      listing["windowSource"].get<std::string>() + "), horizon " +
      std::to_string(listing["hours"].get<unsigned>()) +
      (listing["hours"].get<unsigned>() == 1 ? " hour\n" : " hours\n");
  if (!listing["client"].get<bool>()) return text + "no ConfigMgr client\n";
  for (const ordered_json& job : listing["jobs"]) {
    text += job["id"].get<std::string>();
    if (!job["advertisement"].is_null()) {
      text += " [" + job["advertisement"].get<std::string>() + "/" +
              job["package"].get<std::string>() + "/" +
              job["program"].get<std::string>() + "]";
    }
    text += ": " + job["status"].get<std::string>() + "\n";
    for (const ordered_json& trigger : job["triggers"]) {
      text += "  " + trigger["trigger"].get<std::string>() + ": " +
              trigger["schedule"].get<std::string>() + "\n";
      if (trigger["next"].is_null()) {
        text += "    no start ahead\n";
        continue;
      }
      text += "    next " + trigger["next"].get<std::string>() + ", in " +
              std::to_string(trigger["minutesFromNow"].get<long long>()) +
              " minutes";
      if (!trigger["end"].is_null())
        text += ", until " + trigger["end"].get<std::string>();
      text += ": " + trigger["place"].get<std::string>();
      if (trigger.contains("waitsForWindow")) {
        text += ", waits for a maintenance window";
        if (!trigger["windowOpens"].is_null())
          text += " (the next opens " +
                  trigger["windowOpens"].get<std::string>() + ")";
      }
      text += "\n";
    }
  }
  text += std::to_string(listing["clientSchedules"].get<int>()) +
          " of the client's own schedules counted, not listed\n";
  if (!listing.contains("windows")) return text;
  if (listing["windows"].is_null())
    return text + "maintenance windows cannot be read\n";
  for (const ordered_json& window : listing["windows"]) {
    text += "maintenance window " + window["id"].get<std::string>() + ": " +
            window["typeName"].get<std::string>() + " (type " +
            std::to_string(window["type"].get<DWORD>()) + "), " +
            window["start"].get<std::string>() + " to " +
            window["end"].get<std::string>() +
            (window["openNow"].get<bool>() ? ", open now" : "") + "\n";
  }
  if (listing["windows"].empty())
    text += "no maintenance window within the horizon\n";
  if (listing["windowPlaceholders"].get<int>() > 0)
    text += "the client's placeholder for no window listed, not counted\n";
  return text;
}

}  // namespace vplhost

#include "tools/vplhost/HistoryReport.h"

#include <map>

namespace vplhost {
namespace {

using nlohmann::ordered_json;
namespace texts = NTarn::decision_texts;

// What decided an entry, in words; empty when nothing did.
std::string ItemOf(const NTarn::DecisionEntry& entry) {
  if (!entry.contentId.empty())
    return "request " + entry.contentId + " in state " + entry.state;
  if (!entry.updateId.empty()) {
    return "update " + entry.updateId + " with status " +
           std::to_string(entry.updateStatus.value_or(0));
  }
  if (!entry.scheduledMessageId.empty()) {
    return "job " + entry.scheduledMessageId +
           (entry.nextStart.empty() ? "" : " starting " + entry.nextStart);
  }
  if (!entry.windowItem.empty()) {
    return entry.windowItem + " waiting for the window at " + entry.windowStart;
  }
  return std::string();
}

ordered_json EntryObject(const NTarn::DecisionEntry& entry) {
  auto text = [](const std::string& value) {
    return value.empty() ? ordered_json() : ordered_json(value);
  };
  auto number = [](const std::optional<DWORD>& value) {
    return value ? ordered_json(*value) : ordered_json();
  };
  return {{"key", entry.name},
          {"firstTime", entry.firstTime},
          {"lastTime", entry.lastTime},
          {"count", number(entry.count)},
          {"question", entry.question},
          {"answer", entry.answer},
          {"ground", entry.ground},
          {"item", text(ItemOf(entry))},
          {"contentId", text(entry.contentId)},
          {"advertId", text(entry.advertId)},
          {"state", text(entry.state)},
          {"updateId", text(entry.updateId)},
          {"updateStatus", number(entry.updateStatus)},
          {"scheduledMessageId", text(entry.scheduledMessageId)},
          {"nextStart", text(entry.nextStart)},
          {"windowItem", text(entry.windowItem)},
          {"windowStart", text(entry.windowStart)},
          {"pendingWindowMinutes", number(entry.pendingWindowMinutes)}};
}

// "objected 5 of the last 7 questions, every time for request CAS07337 in
// state Running"; the same for "would have objected" in report-only mode.
std::string Objections(const char* verb, unsigned objected, unsigned questions,
                       const std::map<std::string, unsigned>& items) {
  std::string text = std::string(verb) + " " + std::to_string(objected) +
                     " of the last " + std::to_string(questions) + " questions";
  if (items.size() == 1 && !items.begin()->first.empty())
    return text + ", every time for " + items.begin()->first;
  std::string list;
  for (const auto& [item, count] : items) {
    if (item.empty()) continue;
    list += (list.empty() ? ": " : ", ") + item + " " + std::to_string(count) +
            (count == 1 ? " time" : " times");
  }
  return text + list;
}

std::string CountsText(const ordered_json& counts) {
  std::string text;
  for (const auto& [name, count] : counts.items())
    text += (text.empty() ? "" : ", ") + name + " " + count.dump();
  return text.empty() ? "none" : text;
}

}  // namespace

ordered_json DescribeHistory(const std::vector<NTarn::DecisionEntry>& entries,
                             const std::optional<std::string>& since) {
  ordered_json list = ordered_json::array();
  ordered_json answers = ordered_json::object();
  ordered_json grounds = ordered_json::object();
  unsigned questions = 0, objected = 0, wouldObject = 0;
  std::map<std::string, unsigned> objectedFor, wouldObjectFor;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    const NTarn::DecisionEntry& entry = *it;
    // ISO 8601 UTC texts compare as their times do.
    if (since && entry.lastTime < *since) continue;
    const unsigned count = entry.count.value_or(1);
    list.push_back(EntryObject(entry));
    answers[entry.answer] = answers.value(entry.answer, 0u) + count;
    grounds[entry.ground] = grounds.value(entry.ground, 0u) + count;
    if (entry.question != texts::kPowerDownQuestion) continue;
    questions += count;
    if (entry.answer == texts::kObjection) {
      objected += count;
      objectedFor[ItemOf(entry)] += count;
    } else if (entry.answer == texts::kWouldObject) {
      wouldObject += count;
      wouldObjectFor[ItemOf(entry)] += count;
    }
  }
  std::string summary;
  if (questions == 0) {
    summary = "no power-down question recorded";
  } else {
    summary = objected || !wouldObject
                  ? Objections("objected", objected, questions, objectedFor)
                  : std::string();
    if (wouldObject) {
      summary += (summary.empty() ? "" : "; ") +
                 Objections("would have objected (VetoMode REPORT)",
                            wouldObject, questions, wouldObjectFor);
    }
  }
  return {{"record", "HKLM\\Software\\Tarn\\Vesperline\\Decisions"},
          {"since", since ? ordered_json(*since) : ordered_json()},
          {"entries", list},
          {"answers", answers},
          {"grounds", grounds},
          {"questions", questions},
          {"objected", objected},
          {"wouldObject", wouldObject},
          {"summary", summary}};
}

std::string HistoryText(const ordered_json& history) {
  std::string text = "vplhost: decision record " +
                     history["record"].get<std::string>() + ": " +
                     std::to_string(history["entries"].size()) + " entries";
  if (!history["since"].is_null())
    text += " since " + history["since"].get<std::string>();
  text += ", newest first\n";
  for (const ordered_json& entry : history["entries"]) {
    const std::string first = entry["firstTime"].get<std::string>();
    const std::string last = entry["lastTime"].get<std::string>();
    text += "  " + first + (first == last ? "" : " to " + last) + "  " +
            entry["count"].dump() + "x " +
            entry["question"].get<std::string>() + ": " +
            entry["answer"].get<std::string>() + " (" +
            entry["ground"].get<std::string>() + ")";
    if (!entry["item"].is_null())
      text += ", " + entry["item"].get<std::string>();
    if (!entry["pendingWindowMinutes"].is_null())
      text += ", window " + entry["pendingWindowMinutes"].dump() + " minutes";
    text += "\n";
  }
  text += "vplhost: answers: " + CountsText(history["answers"]) + "\n";
  text += "vplhost: grounds: " + CountsText(history["grounds"]) + "\n";
  text += "vplhost: " + history["summary"].get<std::string>() + "\n";
  return text;
}

}  // namespace vplhost

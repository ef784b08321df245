#include "common/DecisionEntry.h"

#include <cstdio>

namespace NTarn {

const DecisionTextField kDecisionTextFields[13] = {
    {"FirstTime", &DecisionEntry::firstTime},
    {"LastTime", &DecisionEntry::lastTime},
    {"Question", &DecisionEntry::question},
    {"Answer", &DecisionEntry::answer},
    {"Ground", &DecisionEntry::ground},
    {"ContentID", &DecisionEntry::contentId},
    {"AdvertID", &DecisionEntry::advertId},
    {"State", &DecisionEntry::state},
    {"UpdateID", &DecisionEntry::updateId},
    {"ScheduledMessageID", &DecisionEntry::scheduledMessageId},
    {"NextStart", &DecisionEntry::nextStart},
    {"WindowItem", &DecisionEntry::windowItem},
    {"WindowStart", &DecisionEntry::windowStart},
};

const DecisionNumberField kDecisionNumberFields[3] = {
    {"UpdateStatus", &DecisionEntry::updateStatus},
    {"PendingWindowMins", &DecisionEntry::pendingWindowMinutes},
    {"Count", &DecisionEntry::count},
};

std::string IsoUtcTime(__time64_t time) {
  tm fields{};
  if (_gmtime64_s(&fields, &time) != 0) return std::string();
  char text[32];
  snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02dZ",
           fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,
           fields.tm_hour, fields.tm_min, fields.tm_sec);
  return text;
}

DecisionEntry DecisionEntry::At(__time64_t now) {
  DecisionEntry entry;
  entry.firstTime = IsoUtcTime(now);
  entry.lastTime = entry.firstTime;
  entry.count = 1;
  return entry;
}

bool DecisionEntry::SameDecisionAs(const DecisionEntry& other) const {
  for (const DecisionTextField& field : kDecisionTextFields) {
    if (field.member == &DecisionEntry::firstTime ||
        field.member == &DecisionEntry::lastTime) {
      continue;
    }
    if (this->*field.member != other.*field.member) return false;
  }
  for (const DecisionNumberField& field : kDecisionNumberFields) {
    if (field.member == &DecisionEntry::count) continue;
    if (this->*field.member != other.*field.member) return false;
  }
  return true;
}

bool DecisionEntry::IsWhole() const {
  return !firstTime.empty() && !lastTime.empty() && !question.empty() &&
         !answer.empty() && !ground.empty() && count.has_value();
}

}  // namespace NTarn

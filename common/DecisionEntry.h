// One entry of the plug-in's record of its decisions: what was asked, what
// the plug-in answered and why, and what decided it. Each field is one
// registry value of the entry's key, named as the field; a hardware
// inventory class reads them by these names, so the names never change.
#pragma once

#include <windows.h>

#include <ctime>
#include <optional>
#include <string>

namespace NTarn {

struct DecisionEntry {
  // The entry's key below the record; set once it is stored or read.
  std::string name;
  // UTC, ISO 8601 ("2026-12-09T02:15:00Z"): the first and the latest of the
  // consecutive identical decisions the entry stands for, and how many.
  std::string firstTime;
  std::string lastTime;
  std::optional<DWORD> count;

  std::string question;  // decision_texts::kPowerDownQuestion, ...
  std::string answer;    // decision_texts::kObjection, ...
  std::string ground;    // where the question ended, or the worker's outcome

  // The deciding item, where there is one: an execution request, a
  // software update, a scheduled job with its next start, or the work
  // waiting for a maintenance window with the window's start (times ISO
  // 8601 UTC).
  std::string contentId;
  std::string advertId;
  std::string state;
  std::string updateId;
  std::optional<DWORD> updateStatus;
  std::string scheduledMessageId;
  std::string nextStart;
  std::string windowItem;
  std::string windowStart;

  std::optional<DWORD> pendingWindowMinutes;

  // A new entry at `now`: first and last time set, count 1.
  static DecisionEntry At(__time64_t now);
  // Whether `other` is the same decision again: every field but the times
  // and the count agrees, so the two coalesce into one entry.
  bool SameDecisionAs(const DecisionEntry& other) const;
  // Every field has a value that a whole entry needs.
  bool IsWhole() const;
};

// The fields as registry values, in the order they are written: the count
// last, so an entry that has a count was written whole.
struct DecisionTextField {
  const char* valueName;
  std::string DecisionEntry::*member;
};
struct DecisionNumberField {
  const char* valueName;
  std::optional<DWORD> DecisionEntry::*member;
};
extern const DecisionTextField kDecisionTextFields[13];
extern const DecisionNumberField kDecisionNumberFields[3];

// "2026-12-09T02:15:00Z"; empty for a time that cannot be shown.
std::string IsoUtcTime(__time64_t time);

namespace decision_texts {
// The questions.
inline constexpr char kPowerDownQuestion[] = "power-down question";
inline constexpr char kPowerDownQuestion2[] = "power-down question 2";
inline constexpr char kAutoPowerDown[] = "auto power-down";
// The observer's answers.
inline constexpr char kObjection[] = "objection";
inline constexpr char kNoObjection[] = "no objection";
inline constexpr char kWouldObject[] = "would object";
// The auto power-down worker's ends.
inline constexpr char kPowerDownRequested[] = "power-down requested";
inline constexpr char kCancelledByUserInput[] = "cancelled by user input";
inline constexpr char kStopped[] = "stopped";
inline constexpr char kFailed[] = "failed";
}  // namespace decision_texts

}  // namespace NTarn

#include "jobs/Schedule.h"

#include <windows.h>

#include <cwchar>

#include "common/HResultException.h"
#include "jobs/Clock.h"
#include "jobs/DateTime.h"
#include "jobs/MonthlyRecurrence.h"
#include "jobs/Recurrence.h"

namespace {

// Now as the local wall clock reads it, whole seconds.
__time64_t LocalWallClockNow() {
  const __time64_t now = CurrentTime();
  tm fields{};
  if (_localtime64_s(&fields, &now) != 0) return now;
  if (fields.tm_year + 1900 < 1900) return 0;
  try {
    return MakeLocalTime(fields.tm_year + 1900, fields.tm_mon + 1,
                         fields.tm_mday, fields.tm_hour, fields.tm_min,
                         fields.tm_sec, kDstAutomatic);
  } catch (const NTarn::HResultException&) {
    return now;
  }
}

__time64_t EndOf(const CScheduleToken& token, __time64_t start) {
  if (token.duration_days == 0 && token.duration_hours == 0 &&
      token.duration_minutes == 0) {
    return CSchedule::kNoNext;
  }
  const __time64_t duration =
      ((token.duration_days * 24LL + token.duration_hours) * 60 +
       token.duration_minutes) *
      60;
  return start + duration;
}

TokenOccurrences OccurrencesOf(const CScheduleToken& token, __time64_t start,
                               __time64_t reference) {
  switch (token.recurrence_type) {
    case OneTime:
      return OneTimeOccurrences(start, reference);
    case Interval:
      return IntervalOccurrences(token, start, reference);
    case Weekly:
      return WeeklyOccurrences(token, start, reference);
    case MonthlyByWeekday:
    case MonthlyByWeekdayOffset:
      return MonthlyByWeekdayOccurrences(token, start, reference);
    case MonthlyByDate:
      return MonthlyByDateOccurrences(token, start, reference);
    default:
      return TokenOccurrences();
  }
}

}  // namespace

CSchedule::CSchedule(const wchar_t* text) {
  if (text) Parse(text);
}

bool CSchedule::Parse(const wchar_t* text) {
  m_tokens.clear();
  if (!text) return false;
  const size_t count = std::wcslen(text) / CScheduleToken::kTextLength;
  wchar_t tokenText[CScheduleToken::kTextLength + 1] = L"";
  for (size_t i = 0; i < count; ++i) {
    std::wmemcpy(tokenText, text + i * CScheduleToken::kTextLength,
                 CScheduleToken::kTextLength);
    auto token = std::make_unique<CScheduleToken>();
    if (!token->Decode(tokenText)) {
      m_tokens.clear();
      return false;
    }
    m_tokens.push_back(std::move(token));
  }
  return true;
}

bool CSchedule::GetOccurrences(__time64_t* next, __time64_t* end,
                               const __time64_t* reference, __time64_t* last) {
  if (!next) return false;
  const __time64_t now = reference ? *reference : LocalWallClockNow();
  if (m_tokens.empty()) return false;

  // The first next start is taken whatever it is, even beyond the no-next
  // marker.
  __time64_t bestNext = kNoNext;
  bool tookNext = false;
  __time64_t bestEnd = 0;
  bool foundNext = false;
  __time64_t bestLast = 0;
  bool foundLast = false;
  for (const std::unique_ptr<CScheduleToken>& token : m_tokens) {
    if (!token->has_start) continue;
    if (token->effective_start == 0)
      token->effective_start = token->nominal_start;
    TokenOccurrences occurrences;
    try {
      occurrences = OccurrencesOf(*token, token->effective_start, now);
    } catch (const NTarn::HResultException&) {
      // A token whose calendar cannot be evaluated has no occurrences; the
      // others still count.
      continue;
    }
    if (occurrences.has_next && (!tookNext || occurrences.next < bestNext)) {
      bestNext = occurrences.next;
      tookNext = true;
      bestEnd = EndOf(*token, occurrences.next);
      foundNext = true;
    }
    if (occurrences.marks_found) foundNext = true;
    if (last && occurrences.has_last && occurrences.last > bestLast) {
      bestLast = occurrences.last;
      foundLast = true;
    }
  }

  if (foundLast && last) *last = bestLast;
  if (!foundNext) return false;
  *next = bestNext;
  if (end) *end = bestEnd;
  return true;
}

// Prints the time one CSchedule::GetOccurrences takes for each recurrence
// type, for tokens that started one month, five years and forty years before
// the reference. The monthly rules jump ahead to the reference, so their cost
// should not grow with the token's age; the plain month-by-month walk is
// shown beside them for comparison.
#include "bench/ScheduleBench.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

#include "jobs/DateTime.h"
#include "jobs/MonthlyRecurrence.h"
#include "jobs/Schedule.h"
#include "tests/unit/jobs/PlainMonthlyWalk.h"

namespace {

constexpr int kBatches = 7;
constexpr double kBatchSeconds = 0.05;

struct Age {
  const char* name;
  int years;
  int months;
};
constexpr Age kAges[] = {
    {"1 month", 0, 1}, {"5 years", 5, 0}, {"40 years", 40, 0}};

struct Type {
  const char* name;
  uint32_t type;
  uint32_t rule;  // the type's low-half fields
};
constexpr Type kTypes[] = {
    {"OneTime", 1, 0},
    {"Interval (1 day)", 2, 1u << 3},
    {"Weekly (Mon)", 3, (2u << 16) | (1u << 13)},
    {"MonthlyByWeekday (2nd Tue)", 4, (3u << 16) | (1u << 12) | (2u << 9)},
    {"MonthlyByDate (15th)", 5, (15u << 14) | (1u << 10)},
    {"MonthlyByWeekdayOffset (2nd Tue +2)", 6,
     (3u << 16) | (1u << 12) | (2u << 9) | (2u << 6)},
};

std::wstring TokenText(int year, int month, int day, const Type& type) {
  const uint32_t high = (30u << 26) | (9u << 21) | (day << 16) | (month << 12) |
                        ((year - 1970) << 6);
  const uint32_t low = (1u << 27) | (type.type << 19) | type.rule;
  wchar_t text[17];
  swprintf(text, 17, L"%08X%08X", high, low);
  return text;
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / frequency.QuadPart;
}

// Microseconds per call: the best of several batches, each running for a
// fixed time, so that other load on the machine counts as little as it can.
double MicrosecondsPerCall(const std::function<void()>& call) {
  double best = 1e30;
  for (int batch = 0; batch < kBatches; ++batch) {
    LARGE_INTEGER start;
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&start);
    long calls = 0;
    do {
      for (int i = 0; i < 64; ++i) call();
      calls += 64;
      ::QueryPerformanceCounter(&now);
    } while (Seconds(start, now) < kBatchSeconds);
    best = std::min(best, Seconds(start, now) * 1e6 / calls);
  }
  return best;
}

}  // namespace

namespace vplbench {

bool RunScheduleBench() {
  const int refYear = 2026;
  const int refMonth = 6;
  const __time64_t reference =
      MakeLocalTime(refYear, refMonth, 15, 12, 0, 0, kDstAutomatic);
  std::printf("GetOccurrences, microseconds per call (reference %ls)\n\n",
              FormatLocalTime(reference, kLogTimePattern).c_str());
  std::printf("%-38s", "recurrence type");
  for (const Age& age : kAges) std::printf("%10s", age.name);
  std::printf("%10s\n", "40y/1m");

  for (const Type& type : kTypes) {
    double results[3];
    double plain[3] = {0, 0, 0};
    for (int a = 0; a < 3; ++a) {
      int year = refYear - kAges[a].years;
      int month = refMonth - kAges[a].months;
      if (month < 1) {
        month += 12;
        --year;
      }
      CSchedule schedule(TokenText(year, month, 10, type).c_str());
      if (schedule.tokens().size() != 1) {
        std::printf("token for %s did not decode\n", type.name);
        return false;
      }
      __time64_t next = 0;
      __time64_t end = 0;
      __time64_t last = 0;
      results[a] = MicrosecondsPerCall(
          [&] { schedule.GetOccurrences(&next, &end, &reference, &last); });
      const CScheduleToken& token = *schedule.tokens()[0];
      if (type.type == 4) {
        plain[a] = MicrosecondsPerCall([&] {
          vpltest::PlainMonthlyByWeekday(token, token.effective_start,
                                         reference);
        });
      } else if (type.type == 5) {
        plain[a] = MicrosecondsPerCall([&] {
          vpltest::PlainMonthlyByDate(token, token.effective_start, reference);
        });
      }
    }
    std::printf("%-38s%10.3f%10.3f%10.3f%10.2f\n", type.name, results[0],
                results[1], results[2], results[2] / results[0]);
    if (plain[0] > 0) {
      std::printf("%-38s%10.3f%10.3f%10.3f%10.2f\n",
                  "  plain month-by-month walk", plain[0], plain[1], plain[2],
                  plain[2] / plain[0]);
    }
  }
  return true;
}

}  // namespace vplbench

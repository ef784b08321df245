// An OLE Automation date with a validity status: whole days since 1899-12-30
// 00:00 with the time of day as the fraction. Before 1899-12-30 the whole part
// is negative while the fraction still counts forward from that day's
// midnight, so -1.25 is 1899-12-29 06:00.
#pragma once

#include <ctime>
#include <string>

class CAutomationDate {
 public:
  enum Status : int { kValid = 0, kInvalid = 1, kNull = 2 };

  CAutomationDate() = default;
  CAutomationDate(double date, Status status)
      : m_date(date), m_status(status) {}
  // The time value as local date and time; invalid when it has no local form
  // or no automation form that converts back to the same second.
  explicit CAutomationDate(__time64_t time);

  double date() const { return m_date; }
  Status status() const { return m_status; }

  // The date `minutes` earlier (later for a negative count); always valid.
  CAutomationDate SubtractMinutes(int minutes) const;

  // wcsftime text of a valid date, "Invalid DateTime" for an invalid one (or
  // one the platform cannot split), empty for a null one or a pattern the
  // runtime cannot format. A null pattern throws E_INVALIDARG.
  std::wstring Format(const wchar_t* pattern) const;

 private:
  double m_date = 0;
  Status m_status = kValid;
};

// The test programs' own vLogPrintf: every message the plug-in logs is
// captured with "%T" expanded to kLogTimeStamp, so tests can compare exact
// lines.
#pragma once

#include <string>
#include <vector>

namespace vpltest {

inline constexpr char kLogTimeStamp[] = "[T]";

class LogCapture {
 public:
  // Clears what was captured so far.
  static void Clear();
  // Every message, one entry per vLogPrintf call, as formatted.
  static std::vector<std::string> Messages();
  // Whether any message contains `text`.
  static bool Contains(const std::string& text);
};

// Replaces each "%T" (not "%%T") in a printf format with `stamp`, escaped so
// that the result is still a valid format.
std::string ExpandTimeStamp(const char* format, const char* stamp);

}  // namespace vpltest

// `vplhost schedule`: ConfigMgr schedule strings decoded by the product's
// own schedule code.
#include <cstdio>
#include <string>

#include "jobs/Clock.h"
#include "tools/vplhost/Commands.h"
#include "tools/vplhost/ScheduleReport.h"

namespace vplhost {
namespace {

std::string CheckSchedule(const Options& options) {
  if (options.operands.empty()) return "schedule needs a token";
  return std::string();
}

int RunSchedule(const Options& options) {
  std::string text;
  const int result =
      DescribeSchedules(options.operands, options.json,
                        options.at ? *options.at : CurrentTime(), &text);
  fputs(text.c_str(), stdout);
  return result;
}

}  // namespace

const Command kScheduleCommand = {
    L"schedule",
    "vplhost schedule [--json] [--at \"YYYY-MM-DD HH:MM\"] TOKEN...\n",
    "Decodes ConfigMgr schedule strings (each one or more 16-digit tokens\n"
    "back to back) with the plug-in's own schedule code: each token's start,\n"
    "duration, recurrence and its next and last occurrence around now or\n"
    "--at. Exit code 6 when a token does not decode.\n",
    kJsonOption | kAtOption,
    true,
    CheckSchedule,
    RunSchedule,
};

}  // namespace vplhost

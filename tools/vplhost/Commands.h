// vplhost's commands, one file each; CommandLine.cpp lists them.
#pragma once

#include <string>

#include "tools/vplhost/CommandLine.h"

namespace vplhost {

extern const Command kDetailsCommand;
extern const Command kQueryCommand;
extern const Command kStatusCommand;
extern const Command kJobsCommand;
extern const Command kAutoshutdownCommand;
extern const Command kCaptureCommand;
extern const Command kScheduleCommand;
extern const Command kHistoryCommand;

// The plain run and `details`: the plug-in at `path` loaded, initialised and
// let go; `origin` says why that path, for a load failure's message.
int RunDetails(const std::wstring& path, const std::string& origin, bool json);

}  // namespace vplhost

// vplhost's usage texts: the whole list (vplhost --help, a bad command line)
// and each command's own (vplhost COMMAND --help).
#pragma once

#include <cstdio>

#include "tools/vplhost/CommandLine.h"

namespace vplhost {

void PrintUsage(FILE* stream);
// The usage line of one command.
void PrintCommandUsage(const Command& command, FILE* stream);
// The usage line, what the command does and each option it takes.
void PrintCommandHelp(const Command& command, FILE* stream);

}  // namespace vplhost

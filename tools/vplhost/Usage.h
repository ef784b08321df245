// vplhost's usage texts: the whole list (vplhost --help, a bad command line)
// and each command's own (vplhost COMMAND --help).
#pragma once

#include <cstdio>
#include <string>

namespace vplhost {

// Whether `command` is one of vplhost's commands.
bool IsCommand(const std::wstring& command);
void PrintUsage(FILE* stream);
// The usage of one command; the whole list for a word that is none.
void PrintCommandUsage(const std::wstring& command, FILE* stream);

}  // namespace vplhost

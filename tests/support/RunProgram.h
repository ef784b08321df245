// Runs a program to its end, as an administrator's command line would.
#pragma once

#include <windows.h>

#include <string>

namespace vpltest {

// Runs `commandLine` and returns its exit code (~0u when it did not start).
// With `output` the program's standard output, and its standard error unless
// `errorsToConsole`, are read into `*output`. With `input` the program reads
// that text from a pipe as its standard input, which then ends.
DWORD RunProgram(std::wstring commandLine, std::string* output = nullptr,
                 bool errorsToConsole = false,
                 const std::string* input = nullptr);

}  // namespace vpltest

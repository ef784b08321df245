#include "tests/support/RunProgram.h"

#include <gtest/gtest.h>

#include "common/ScopedHandle.h"

namespace vpltest {

DWORD RunProgram(std::wstring commandLine, std::string* output,
                 bool errorsToConsole, const std::string* input) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  NTarn::ScopedHandle readEnd;
  NTarn::ScopedHandle writeEnd;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  if (output) {
    if (!::CreatePipe(readEnd.Receive(), writeEnd.Receive(), &inherit, 0)) {
      ADD_FAILURE() << "CreatePipe: " << ::GetLastError();
      return ~0u;
    }
    ::SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.Get();
    startup.hStdError =
        errorsToConsole ? ::GetStdHandle(STD_ERROR_HANDLE) : writeEnd.Get();
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  }
  // The text is written before the child starts: it fits the pipe's buffer.
  NTarn::ScopedHandle inputRead;
  if (input) {
    NTarn::ScopedHandle inputWrite;
    DWORD written = 0;
    if (!::CreatePipe(inputRead.Receive(), inputWrite.Receive(), &inherit,
                      static_cast<DWORD>(input->size() + 1)) ||
        !::SetHandleInformation(inputWrite.Get(), HANDLE_FLAG_INHERIT, 0) ||
        !::WriteFile(inputWrite.Get(), input->data(),
                     static_cast<DWORD>(input->size()), &written, nullptr)) {
      ADD_FAILURE() << "input pipe: " << ::GetLastError();
      return ~0u;
    }
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead.Get();
    if (!output) {
      startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
      startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    }
  }
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr,
                        output || input, 0, nullptr, nullptr, &startup,
                        &process)) {
    ADD_FAILURE() << "the program did not start: " << ::GetLastError();
    return ~0u;
  }
  const NTarn::ScopedHandle thread(process.hThread);
  const NTarn::ScopedHandle child(process.hProcess);
  // Only the child's copy keeps the input open.
  inputRead.Reset();
  if (output) {
    // Our copy of the write end closes so that the read ends with the child.
    writeEnd.Reset();
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(readEnd.Get(), buffer, sizeof(buffer), &read, nullptr) &&
           read > 0) {
      output->append(buffer, read);
    }
  }
  ::WaitForSingleObject(child.Get(), INFINITE);
  DWORD exitCode = ~0u;
  ::GetExitCodeProcess(child.Get(), &exitCode);
  return exitCode;
}

}  // namespace vpltest

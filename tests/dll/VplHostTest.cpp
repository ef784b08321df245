// vplhost.exe run as an administrator runs it: every bundled scenario gives
// its documented decision and exit code, and the error paths their own codes.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/ScopedHandle.h"

namespace {

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  folder.resize(folder.find_last_of(L"\\/") + 1);
  return folder;
}

struct HostRun {
  DWORD exitCode = MAXDWORD;
  std::string output;  // standard output and error together
};

// Runs vplhost.exe from the test program's folder with the plug-in beside it.
HostRun RunVplHost(const std::wstring& arguments) {
  const std::wstring folder = ProgramFolder();
  std::wstring commandLine = L"\"" + folder + L"vplhost.exe\" " + arguments;
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  NTarn::ScopedHandle readEnd;
  NTarn::ScopedHandle writeEnd;
  HostRun run;
  if (!::CreatePipe(readEnd.Receive(), writeEnd.Receive(), &inherit, 0)) {
    ADD_FAILURE() << "CreatePipe: " << ::GetLastError();
    return run;
  }
  ::SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd.Get();
  startup.hStdError = writeEnd.Get();
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                        nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "CreateProcess: " << ::GetLastError();
    return run;
  }
  NTarn::ScopedHandle processHandle(process.hProcess);
  NTarn::ScopedHandle threadHandle(process.hThread);
  writeEnd.Reset();
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(readEnd.Get(), buffer, sizeof(buffer), &read, nullptr) &&
         read > 0) {
    run.output.append(buffer, read);
  }
  ::WaitForSingleObject(processHandle.Get(), INFINITE);
  ::GetExitCodeProcess(processHandle.Get(), &run.exitCode);
  return run;
}

std::wstring Sample(const wchar_t* name) {
  return L"--scenario \"" VPL_SAMPLES_DIR_W L"/" + std::wstring(name) +
         L"\" --dll \"" + ProgramFolder() + L"VplCMgr.dll\"";
}

TEST(VplHost, EachBundledScenarioGivesItsDecision) {
  const struct {
    const wchar_t* arguments;
    DWORD exitCode;
    const char* decision;
  } cases[] = {
      {L"default.json", 0, "vplhost: decision: no objection (0)"},
      {L"deployment-running.json", 3,
       "vplhost: decision: objection (3), reason \"SMS\\CMgr jobs in "
       "progress\""},
      {L"job-pending.json\" --window \"30", 3,
       "vplhost: decision: objection (3), reason \"SMS\\CMgr jobs pending in "
       "30 minutes\""},
      {L"job-expired.json\" --window \"30", 0,
       "vplhost: decision: no objection (0)"},
      {L"job-disabled.json\" --window \"30", 0,
       "vplhost: decision: no objection (0)"},
      {L"update-installing.json", 3,
       "vplhost: decision: objection (3), reason \"SMS\\CMgr jobs in "
       "progress\""},
      {L"no-client.json", 0, "vplhost: decision: no objection (0)"},
  };
  for (const auto& c : cases) {
    const HostRun run = RunVplHost(L"query " + Sample(c.arguments));
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
    EXPECT_NE(run.output.find(c.decision), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("DllCanUnloadNow returned S_OK"),
              std::string::npos)
        << run.output;
  }
}

TEST(VplHost, ErrorsHaveTheirOwnExitCodes) {
  const struct {
    std::wstring arguments;
    DWORD exitCode;
    const char* message;
  } cases[] = {
      {L"query", 2, "vplhost: query needs --scenario FILE"},
      {L"query --scenario x.json --window soon", 2,
       "vplhost: --window needs a number of minutes"},
      {L"query " + Sample(L"no-such-scenario.json"), 4,
       "no-such-scenario.json: cannot be opened"},
      {L"details --dll Z:\\no\\such\\VplCMgr.dll", 5, "vplhost: cannot load"},
      {L"schedule 00011E0000300000", 6,
       "invalid: recurrence type 6 is unknown"},
  };
  for (const auto& c : cases) {
    const HostRun run = RunVplHost(c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
    EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
  }
}

}  // namespace

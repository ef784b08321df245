// Redirects HKEY_LOCAL_MACHINE, for the whole process, to a scratch key of
// the test prefix while the object lives, so that code reading and writing
// its fixed settings paths (and the plug-in DLL, in the same process) touches
// nothing real. The scratch key and everything below it go afterwards.
//
//   ScratchLocalMachine registry;
//   registry.SetString("Software\\Tarn\\Vesperline", "MonitorJobs", "ON");
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace vpltest {

class ScratchLocalMachine {
 public:
  ScratchLocalMachine();
  ScratchLocalMachine(const ScratchLocalMachine&) = delete;
  ScratchLocalMachine& operator=(const ScratchLocalMachine&) = delete;
  ~ScratchLocalMachine();

  // Values below the redirected HKEY_LOCAL_MACHINE; keys are created.
  void SetString(const std::string& key, const std::string& name,
                 const std::string& text) const;
  void SetDword(const std::string& key, const std::string& name,
                DWORD value) const;
  void DeleteValue(const std::string& key, const std::string& name) const;
  // The text of a REG_SZ value; none when it is missing or of another type.
  std::optional<std::string> ReadString(const std::string& key,
                                        const std::string& name) const;

 private:
  HKEY m_scratch = nullptr;
};

}  // namespace vpltest

// Reads the administrator's commands, one a line, from standard input on a
// thread of its own, so that the console host can wait for a command, the
// next minute and Ctrl+C at once. Works the same on a console and a pipe.
//
// The reader hands over one line at a time and reads the next only once
// that one is taken, so it blocks in a read only while a command is awaited.
#pragma once

#include <windows.h>

#include <mutex>
#include <optional>
#include <string>

#include "common/ScopedHandle.h"

namespace vplhost {

class CommandReader {
 public:
  CommandReader() = default;
  CommandReader(const CommandReader&) = delete;
  CommandReader& operator=(const CommandReader&) = delete;
  // Stops the reader and joins it; a read still blocked is cancelled.
  ~CommandReader();

  // Starts reading `input`; the handle stays the caller's.
  HRESULT Start(HANDLE input);
  // Signalled while a line, or the end of the input, waits to be taken.
  HANDLE Available() const { return m_available.Get(); }
  // The waiting line, trimmed of blanks; nullopt once the input has ended
  // (or cannot be read). Call only when Available() is signalled.
  std::optional<std::string> Take();
  // Lets the reader go on to the next line once the taken one is done with;
  // a run that stops after a line never reads further.
  void ReadNext();

 private:
  static unsigned __stdcall ThreadMain(void* self);
  void ReadLines();
  // The next line of the input; false at its end.
  bool ReadLine(std::string* line);

  HANDLE m_input = nullptr;
  NTarn::ScopedHandle m_available;  // manual reset
  NTarn::ScopedHandle m_taken;      // auto reset
  NTarn::ScopedHandle m_stop;       // manual reset
  NTarn::ScopedHandle m_thread;
  std::string m_buffer;  // read but not yet handed over; the reader's own
  std::mutex m_mutex;
  std::optional<std::string> m_line;  // under m_mutex
};

}  // namespace vplhost

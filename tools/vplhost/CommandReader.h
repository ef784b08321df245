// Reads the administrator's commands, one a line, from standard input on a
// thread of its own, so that the console host can wait for a command, the
// next minute and Ctrl+C at once. Works the same on a console and a pipe.
//
// The reader hands over one line at a time and reads the next only once
// asked to, so it is in a read only while a command is awaited. A pipe is
// read only as far as it holds data, so the reader always ends when told.
#pragma once

#include <windows.h>

#include <memory>
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
  // Stops the reader and joins it. A console read that neither Ctrl+C nor a
  // cancellation ends is left to the process's end; the thread shares its
  // state, so nothing it touches goes away under it.
  ~CommandReader();

  // Starts reading `input`; the handle stays the caller's.
  HRESULT Start(HANDLE input);
  // Signalled while a line, or the end of the input, waits to be taken.
  HANDLE Available() const;
  // The waiting line, trimmed of blanks; nullopt once the input has ended
  // (or cannot be read). Call only when Available() is signalled.
  std::optional<std::string> Take();
  // Lets the reader go on to the next line once the taken one is done with;
  // a run that stops after a line never reads further.
  void ReadNext();

 private:
  struct State {
    HANDLE input = nullptr;
    bool isPipe = false;
    NTarn::ScopedHandle available;  // manual reset
    NTarn::ScopedHandle readNext;   // auto reset
    NTarn::ScopedHandle stop;       // manual reset
    std::string buffer;             // read but not yet handed over
    std::mutex mutex;
    std::optional<std::string> line;  // under mutex
  };

  static unsigned __stdcall ThreadMain(void* state);
  static void ReadLines(State& state);
  // The next line of the input; false at its end or when told to stop.
  static bool ReadLine(State& state, std::string* line);

  std::shared_ptr<State> m_state;
  NTarn::ScopedHandle m_thread;
};

}  // namespace vplhost

#include "tools/vplhost/CommandReader.h"

#include <process.h>

namespace vplhost {
namespace {

// How long a reader that was asked to stop gets before its read is
// cancelled, and then before it is given up on.
constexpr DWORD kStopMilliseconds = 200;
constexpr DWORD kCancelMilliseconds = 2000;
// How often an empty pipe is looked at again.
constexpr DWORD kPipePollMilliseconds = 50;

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  const size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

}  // namespace

CommandReader::~CommandReader() {
  if (!m_thread) return;
  ::SetEvent(m_state->stop.Get());
  if (::WaitForSingleObject(m_thread.Get(), kStopMilliseconds) ==
      WAIT_TIMEOUT) {
    // Blocked in a console read.
    ::CancelSynchronousIo(m_thread.Get());
    ::WaitForSingleObject(m_thread.Get(), kCancelMilliseconds);
  }
}

HRESULT CommandReader::Start(HANDLE input) {
  auto state = std::make_shared<State>();
  state->input = input;
  state->isPipe = ::GetFileType(input) == FILE_TYPE_PIPE;
  state->available.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  state->readNext.Reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  state->stop.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!state->available || !state->readNext || !state->stop)
    return HRESULT_FROM_WIN32(::GetLastError());
  // The thread's own reference, released when it ends.
  auto* shared = new std::shared_ptr<State>(state);
  m_thread.Reset(reinterpret_cast<HANDLE>(_beginthreadex(
      nullptr, 0, &CommandReader::ThreadMain, shared, 0, nullptr)));
  if (!m_thread) {
    delete shared;
    return E_FAIL;
  }
  m_state = std::move(state);
  return S_OK;
}

HANDLE CommandReader::Available() const {
  return m_state ? m_state->available.Get() : nullptr;
}

std::optional<std::string> CommandReader::Take() {
  std::optional<std::string> line;
  {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    line = std::move(m_state->line);
    m_state->line.reset();
  }
  ::ResetEvent(m_state->available.Get());
  return line;
}

void CommandReader::ReadNext() { ::SetEvent(m_state->readNext.Get()); }

unsigned __stdcall CommandReader::ThreadMain(void* state) {
  const std::unique_ptr<std::shared_ptr<State>> shared(
      static_cast<std::shared_ptr<State>*>(state));
  ReadLines(**shared);
  return 0;
}

void CommandReader::ReadLines(State& state) {
  for (;;) {
    std::string line;
    const bool more = ReadLine(state, &line);
    {
      std::lock_guard<std::mutex> lock(state.mutex);
      if (more) state.line = Trim(line);
    }
    ::SetEvent(state.available.Get());
    if (!more) return;
    const HANDLE handles[] = {state.stop.Get(), state.readNext.Get()};
    if (::WaitForMultipleObjects(2, handles, FALSE, INFINITE) !=
        WAIT_OBJECT_0 + 1)
      return;
  }
}

bool CommandReader::ReadLine(State& state, std::string* line) {
  for (;;) {
    const size_t end = state.buffer.find('\n');
    if (end != std::string::npos) {
      *line = state.buffer.substr(0, end);
      state.buffer.erase(0, end + 1);
      return true;
    }
    DWORD size = 256;
    if (state.isPipe) {
      // A pipe read would block past a stop; wait for data instead. A
      // closed pipe reads as the end below.
      DWORD waiting = 0;
      while (::PeekNamedPipe(state.input, nullptr, 0, nullptr, &waiting,
                             nullptr) &&
             waiting == 0) {
        if (::WaitForSingleObject(state.stop.Get(), kPipePollMilliseconds) ==
            WAIT_OBJECT_0)
          return false;
      }
      if (waiting > 0 && waiting < size) size = waiting;
    } else if (::WaitForSingleObject(state.stop.Get(), 0) == WAIT_OBJECT_0) {
      return false;
    }
    char chunk[256];
    DWORD read = 0;
    if (!::ReadFile(state.input, chunk, size, &read, nullptr) || read == 0) {
      // The end of the input; a last line without a line feed still counts.
      if (state.buffer.empty()) return false;
      line->swap(state.buffer);
      state.buffer.clear();
      return true;
    }
    state.buffer.append(chunk, read);
  }
}

}  // namespace vplhost

#include "tools/vplhost/CommandReader.h"

#include <process.h>

namespace vplhost {
namespace {

// How long a reader that was asked to stop gets before its read is
// cancelled, and then before it is given up on.
constexpr DWORD kStopMilliseconds = 200;
constexpr DWORD kCancelMilliseconds = 2000;

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  const size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

}  // namespace

CommandReader::~CommandReader() {
  if (!m_thread) return;
  ::SetEvent(m_stop.Get());
  if (::WaitForSingleObject(m_thread.Get(), kStopMilliseconds) ==
      WAIT_TIMEOUT) {
    // Blocked in a read: a console or pipe read can be cancelled.
    ::CancelSynchronousIo(m_thread.Get());
    ::WaitForSingleObject(m_thread.Get(), kCancelMilliseconds);
  }
}

HRESULT CommandReader::Start(HANDLE input) {
  m_input = input;
  m_available.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  m_taken.Reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  m_stop.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!m_available || !m_taken || !m_stop)
    return HRESULT_FROM_WIN32(::GetLastError());
  m_thread.Reset(reinterpret_cast<HANDLE>(_beginthreadex(
      nullptr, 0, &CommandReader::ThreadMain, this, 0, nullptr)));
  if (!m_thread) return E_FAIL;
  return S_OK;
}

std::optional<std::string> CommandReader::Take() {
  std::optional<std::string> line;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    line = std::move(m_line);
    m_line.reset();
  }
  ::ResetEvent(m_available.Get());
  return line;
}

void CommandReader::ReadNext() { ::SetEvent(m_taken.Get()); }

unsigned __stdcall CommandReader::ThreadMain(void* self) {
  static_cast<CommandReader*>(self)->ReadLines();
  return 0;
}

void CommandReader::ReadLines() {
  for (;;) {
    std::string line;
    const bool more = ReadLine(&line);
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (more) m_line = Trim(line);
    }
    ::SetEvent(m_available.Get());
    if (!more) return;
    const HANDLE handles[] = {m_stop.Get(), m_taken.Get()};
    if (::WaitForMultipleObjects(2, handles, FALSE, INFINITE) !=
        WAIT_OBJECT_0 + 1)
      return;
  }
}

bool CommandReader::ReadLine(std::string* line) {
  for (;;) {
    const size_t end = m_buffer.find('\n');
    if (end != std::string::npos) {
      *line = m_buffer.substr(0, end);
      m_buffer.erase(0, end + 1);
      return true;
    }
    if (::WaitForSingleObject(m_stop.Get(), 0) == WAIT_OBJECT_0) return false;
    char chunk[256];
    DWORD read = 0;
    if (!::ReadFile(m_input, chunk, sizeof(chunk), &read, nullptr) ||
        read == 0) {
      // The end of the input; a last line without a line feed still counts.
      if (m_buffer.empty()) return false;
      line->swap(m_buffer);
      m_buffer.clear();
      return true;
    }
    m_buffer.append(chunk, read);
  }
}

}  // namespace vplhost

#include "common/Logging.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "common/CurrentModule.h"
#include "common/EventLogSink.h"
#include "common/ScopedHandle.h"

namespace NTarn {

std::atomic<uint32_t> DebugFlags{9};

namespace {

using LogPrintfFunction = int (*)(const char* format, va_list args);

constexpr size_t kTimeStampSize = 40;
constexpr size_t kErrorTextSize = 1024;
constexpr char kEventSourceName[32] = "Vesperline";

// The host entry point: written without a lock; racing first calls find and
// store the same value.
std::atomic<void*> g_logPrintf{nullptr};
std::atomic<HMODULE> g_logHostModule{nullptr};

// Per thread so that host threads and the worker thread can format at once.
struct TimeStampBuffers {
  char buffers[2][kTimeStampSize];
  unsigned toggle;
};
thread_local TimeStampBuffers t_timeStamp;
thread_local TimeStampBuffers t_timeStampMs;
thread_local char t_errorText[kErrorTextSize];
thread_local wchar_t t_errorTextW[kErrorTextSize];

LogPrintfFunction FindHostLogger() {
  if (void* cached = g_logPrintf.load(std::memory_order_acquire)) {
    return reinterpret_cast<LogPrintfFunction>(cached);
  }
  HMODULE host = g_logHostModule.load(std::memory_order_acquire);
  if (!host) host = ::GetModuleHandleW(nullptr);
  auto* function =
      reinterpret_cast<void*>(::GetProcAddress(host, "vLogPrintf"));
  g_logPrintf.store(function, std::memory_order_release);
  return reinterpret_cast<LogPrintfFunction>(function);
}

char* FormatStamp(TimeStampBuffers& own, char* buffer, size_t size,
                  ULONGLONG fileTime, bool withMilliseconds) {
  if (!buffer) {
    buffer = own.buffers[own.toggle];
    own.toggle ^= 1;
    size = kTimeStampSize;
  }
  SYSTEMTIME time{};
  if (fileTime != 0) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(fileTime);
    ft.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
    ::FileTimeToSystemTime(&ft, &time);
  } else {
    ::GetLocalTime(&time);
  }
  char date[20] = "";
  ::GetDateFormatA(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, &time, nullptr, date,
                   static_cast<int>(sizeof(date)));
  if (withMilliseconds) {
    sprintf_s(buffer, size, "%s %02d:%02d:%02d.%03d", date, time.wHour,
              time.wMinute, time.wSecond, time.wMilliseconds);
  } else {
    sprintf_s(buffer, size, "%s %02d:%02d:%02d", date, time.wHour, time.wMinute,
              time.wSecond);
  }
  return buffer;
}

// Copies a system message without its final line break and without any other
// carriage returns or line feeds, at most capacity - 1 characters.
template <typename Char>
void CopyOneLine(const Char* message, Char* out, size_t capacity) {
  size_t length = 0;
  while (message[length]) ++length;
  length = length > 2 ? length - 2 : 0;
  size_t written = 0;
  for (size_t i = 0; i < length && written < capacity - 1; ++i) {
    if (message[i] == '\r' || message[i] == '\n') continue;
    out[written++] = message[i];
  }
  out[written] = 0;
}

// Finds string `id` in this module's string table: a length and a pointer
// into the resource, or length 0.
const wchar_t* FindStringResource(UINT id, int* length) {
  *length = 0;
  HMODULE module = GetCurrentModule();
  LPCSTR block = MAKEINTRESOURCEA(id / 16 + 1);
  HRSRC resource = ::FindResourceExA(module, MAKEINTRESOURCEA(6), block, 0);
  if (!resource) resource = ::FindResourceA(module, block, MAKEINTRESOURCEA(6));
  if (!resource) return nullptr;
  HGLOBAL loaded = ::LoadResource(module, resource);
  if (!loaded) return nullptr;
  const auto* cursor = static_cast<const wchar_t*>(::LockResource(loaded));
  const auto* end =
      reinterpret_cast<const wchar_t*>(reinterpret_cast<const BYTE*>(cursor) +
                                       ::SizeofResource(module, resource));
  if (!cursor) return nullptr;
  for (UINT position = id % 16; position > 0; --position) {
    if (cursor >= end) return nullptr;
    cursor += 1 + *cursor;
  }
  if (cursor >= end || *cursor == 0) return nullptr;
  const int count = *cursor;
  if (cursor + 1 + count > end) return nullptr;
  *length = count;
  return cursor + 1;
}

}  // namespace

int LogMessage(const char* format, ...) {
  LogPrintfFunction logPrintf = FindHostLogger();
  if (!logPrintf) return 0;
  va_list args;
  va_start(args, format);
  const int result = logPrintf(format, args);
  va_end(args);
  return result;
}

void SetLogHostModuleForTesting(HMODULE module) {
  g_logHostModule.store(module, std::memory_order_release);
  g_logPrintf.store(nullptr, std::memory_order_release);
}

char* FormatTimeStamp(char* buffer, size_t size, ULONGLONG fileTime) {
  return FormatStamp(t_timeStamp, buffer, size, fileTime, false);
}

char* FormatTimeStampMs(char* buffer, size_t size, ULONGLONG fileTime) {
  return FormatStamp(t_timeStampMs, buffer, size, fileTime, true);
}

void WriteEventLog(WORD type, DWORD eventId, const char* insertion1,
                   const char* insertion2, const char* insertion3) {
  if (DeliverToEventLogSink(type, eventId, insertion1, insertion2, insertion3))
    return;
  const ScopedEventSource source(
      ::RegisterEventSourceA(nullptr, kEventSourceName));
  if (!source) return;
  const char* strings[3] = {insertion1 ? insertion1 : "",
                            insertion2 ? insertion2 : "",
                            insertion3 ? insertion3 : ""};
  ::ReportEventA(source.Get(), type, 0, eventId, nullptr, 3, 0, strings,
                 nullptr);
}

void ReportInsufficientMemory(const char* where) {
  LogMessage("%T: %s - Insufficient Memory in %s\n",
             FormatTimeStamp(nullptr, 0, 0), where);
  WriteEventLog(EVENTLOG_ERROR_TYPE, 0xC0040022, where, nullptr, nullptr);
}

const char* FormatErrorText(DWORD error) {
  if (error == 0) error = ::GetLastError();
  // Insertion markers in system messages come out as themselves.
  DWORD_PTR markers[] = {
      reinterpret_cast<DWORD_PTR>("%1"), reinterpret_cast<DWORD_PTR>("%2"),
      reinterpret_cast<DWORD_PTR>("%3"), reinterpret_cast<DWORD_PTR>("%4"),
      reinterpret_cast<DWORD_PTR>("%5"), reinterpret_cast<DWORD_PTR>("%6"),
      reinterpret_cast<DWORD_PTR>("%7"), 0};
  ScopedLocalMemory message;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_ARGUMENT_ARRAY,
      nullptr, error, 0x400, reinterpret_cast<LPSTR>(message.Receive()), 0,
      reinterpret_cast<va_list*>(markers));
  if (length == 0 || !message) {
    sprintf_s(t_errorText, kErrorTextSize, "Error 0x%08lx", error);
    return t_errorText;
  }
  CopyOneLine(static_cast<const char*>(message.Get()), t_errorText,
              kErrorTextSize);
  return t_errorText;
}

const wchar_t* FormatErrorTextW(DWORD error) {
  if (error == 0) error = ::GetLastError();
  DWORD_PTR markers[] = {
      reinterpret_cast<DWORD_PTR>(L"%1"), reinterpret_cast<DWORD_PTR>(L"%2"),
      reinterpret_cast<DWORD_PTR>(L"%3"), reinterpret_cast<DWORD_PTR>(L"%4"),
      reinterpret_cast<DWORD_PTR>(L"%5"), reinterpret_cast<DWORD_PTR>(L"%6"),
      reinterpret_cast<DWORD_PTR>(L"%7"), 0};
  ScopedLocalMemory message;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_ARGUMENT_ARRAY,
      nullptr, error, 0x400, reinterpret_cast<LPWSTR>(message.Receive()), 0,
      reinterpret_cast<va_list*>(markers));
  if (length == 0 || !message) {
    swprintf_s(t_errorTextW, kErrorTextSize, L"Error 0x%08lx", error);
    return t_errorTextW;
  }
  CopyOneLine(static_cast<const wchar_t*>(message.Get()), t_errorTextW,
              kErrorTextSize);
  return t_errorTextW;
}

int LoadStringResource(UINT id, wchar_t* buffer, int capacity) {
  if (!buffer || capacity <= 0) return 0;
  buffer[0] = L'\0';
  int length = 0;
  const wchar_t* text = FindStringResource(id, &length);
  if (!text) return 0;
  const int copied = length < capacity - 1 ? length : capacity - 1;
  wmemcpy(buffer, text, copied);
  buffer[copied] = L'\0';
  return copied;
}

int LoadStringResourceA(UINT id, char* buffer, int capacity) {
  if (!buffer || capacity <= 0) return 0;
  buffer[0] = '\0';
  int length = 0;
  const wchar_t* text = FindStringResource(id, &length);
  if (!text) return 0;
  // Convert in full first: a too-small buffer would make the conversion fail
  // rather than cut the text.
  const int needed =
      ::WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, ".", nullptr);
  if (needed <= 0) return 0;
  std::string converted(static_cast<size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text, length, converted.data(), needed, ".",
                        nullptr);
  const int copied = needed < capacity - 1 ? needed : capacity - 1;
  memcpy(buffer, converted.data(), static_cast<size_t>(copied));
  buffer[copied] = '\0';
  return copied;
}

}  // namespace NTarn

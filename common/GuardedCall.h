// The edge where exceptions of the WMI and date layers stop: a host call, a
// thread body or a question with a safe answer runs its body through
// GuardedCall, which logs what was raised and returns the safe answer.
#pragma once

#include <windows.h>

#include <utility>

#include "common/HResultException.h"

namespace NTarn {

// Names the place in log lines: "<source>:<line>".
struct CallSite {
  const char* source;
  int line;
};

// "%T INFO: Catching and handling HRESULT exception %s:%d (0x%X)\n\t%s\n"
// with the WMI status text of `hr`.
void LogCaughtHResult(const CallSite& site, HRESULT hr) noexcept;
// "%T WARNING: Caught and handled general exception %s:%d\n".
void LogCaughtException(const CallSite& site) noexcept;

// Returns what `body` returns, or `safeAnswer` after logging when it raises
// anything at all (out of memory included).
template <typename T, typename Body>
T GuardedCall(const CallSite& site, T safeAnswer, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (const HResultException& error) {
    LogCaughtHResult(site, error.Error());
  } catch (...) {
    LogCaughtException(site);
  }
  return safeAnswer;
}

// As above for a body that answers with an HRESULT: a raised failure becomes
// its HRESULT (E_OUTOFMEMORY for anything else).
template <typename Body>
HRESULT GuardedHResultCall(const CallSite& site, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (const HResultException& error) {
    LogCaughtHResult(site, error.Error());
    return error.Error();
  } catch (...) {
    LogCaughtException(site);
    return E_OUTOFMEMORY;
  }
}

}  // namespace NTarn

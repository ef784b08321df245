// How long the plug-in waits for a WMI provider, and what it says when the
// provider did not answer.
#pragma once

#include <windows.h>

namespace NTarn {

// The longest one WMI call waits for its provider: each object of a query,
// a single object read by path. A provider that never answers (the client's
// do, during a repair or an upgrade) costs a question this much per call.
constexpr LONG kWbemCallTimeoutMs = 10000;

// Makes the thread's COM error object say that the provider did not answer
// (or, once this thread's question has ended early, that the question has no
// time left or was refused), so that a failure line printing it names the
// time-out and not an older fault, and returns WBEM_E_TIMED_OUT.
HRESULT WbemTimedOut();

}  // namespace NTarn

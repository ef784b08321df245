// Texts for WMI status codes and COM errors, for log lines.
#pragma once

#include <windows.h>

#include <string>

namespace NTarn {

// The WMI status name of `hr`, or for a code without a name a text
// "WBEMerr <code> <system text>" kept in a per-thread buffer until this thread
// asks again.
const char* GetWbemErrorName(HRESULT hr);

// Description of the calling thread's current COM error object (which is
// consumed), or "Unknown Error" when there is none.
std::string GetComErrorDescription();

// Asks the platform's WMI status-text object for the text of `hr` and stores
// it in `text`; "Get last error failed" when the object cannot answer.
// Returns the creation failure, else the request's result.
HRESULT GetWbemStatusText(HRESULT hr, std::string& text);

}  // namespace NTarn

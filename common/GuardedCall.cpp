#include "common/GuardedCall.h"

#include <string>

#include "common/Logging.h"
#include "common/wmi/WbemErrors.h"

namespace NTarn {

void LogCaughtHResult(const CallSite& site, HRESULT hr) noexcept {
  std::string text;
  try {
    GetWbemStatusText(hr, text);
  } catch (...) {
    text.clear();
  }
  LogMessage(
      "%T INFO: Catching and handling HRESULT exception %s:%d (0x%X)\n\t%s\n",
      site.source, site.line, static_cast<unsigned>(hr), text.c_str());
}

void LogCaughtException(const CallSite& site) noexcept {
  LogMessage("%T WARNING: Caught and handled general exception %s:%d\n",
             site.source, site.line);
}

}  // namespace NTarn

// `vplhost details`, and the plain run `vplhost [PATH]`: where the plug-in
// is, whether its class is registered, and what it says about itself.
#include <optional>
#include <string>

#include "tools/vplhost/ComApartment.h"
#include "tools/vplhost/Commands.h"
#include "tools/vplhost/ConsoleText.h"
#include "tools/vplhost/ExitCode.h"
#include "tools/vplhost/HostSession.h"
#include "tools/vplhost/PluginLibrary.h"
#include "tools/vplhost/PluginLocation.h"

namespace vplhost {
namespace {

int ReportDetails(const std::wstring& path, const std::string& origin,
                  RunReport& report) {
  const std::optional<std::wstring> registered = RegisteredPluginPath();
  PluginLibrary library(path, report, origin);
  if (!library.IsUsable()) return kExitPlugin;
  const std::string module = Narrow(ModulePath(library.Module()));
  report.Line("vplhost: module %s\n", module.c_str());
  report.Set("module", module);
  if (registered) {
    report.Line("vplhost: registered, InprocServer32 %s\n",
                Narrow(*registered).c_str());
    report.Set("registered", Narrow(*registered));
  } else {
    report.Line("vplhost: not registered\n");
    report.Set("registered", nullptr);
  }
  const ComApartment apartment;
  if (!apartment.Entered()) return kExitFailure;
  int result = kExitSuccess;
  {
    HostSession host(report);
    result = host.Start(library);
    if (result == kExitSuccess) host.Stop();
  }
  const bool unloadable = library.ReportCanUnloadNow(report);
  if (result != kExitSuccess) return result;
  return unloadable ? kExitSuccess : kExitPlugin;
}

int RunDetailsCommand(const Options& options) {
  return RunDetails(PluginPath(options), PluginOrigin(options), options.json);
}

}  // namespace

int RunDetails(const std::wstring& path, const std::string& origin, bool json) {
  RunReport report(json, "details");
  RunReport::SetCurrent(&report);
  const int result = ReportDetails(path, origin, report);
  RunReport::SetCurrent(nullptr);
  if (report.IsJson()) fputs(report.Json(result).c_str(), stdout);
  return result;
}

const Command kDetailsCommand = {
    L"details",
    "vplhost details [--dll PATH] [--json]\n",
    "Prints the plug-in module's full path, whether its class is registered\n"
    "and to which InprocServer32 path, and the plug-in's name and version.\n",
    kDllOption | kJsonOption,
    false,
    nullptr,
    RunDetailsCommand,
};

}  // namespace vplhost

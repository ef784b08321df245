// `vplhost capture`: this machine (or the simulated client in place) as a
// scenario to replay elsewhere: every class and property the plug-in reads,
// read through WMI with their CIM types, the settings and policy values it
// reads, and the battery state.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "tests/simclient/Scenario.h"

namespace vplhost {

// `battery` is the state to record, when not the power manager's; the
// comment names `comment` first, then the capture time and the time zone.
nlohmann::ordered_json CaptureScenario(
    const std::string& comment,
    const std::optional<vpltest::sim::HostFacts::Battery>& battery);

// Writes `scenario` as UTF-8 to `path`, opened by its wide path; a Win32
// error code, 0 on success.
DWORD WriteScenario(const std::wstring& path,
                    const nlohmann::ordered_json& scenario);

}  // namespace vplhost

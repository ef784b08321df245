// `vplhost history`: the plug-in's record of its decisions as it stands,
// newest first, with how often each answer and ground came up and, in one
// sentence, what held the machine up.
#pragma once

#include <windows.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "common/DecisionEntry.h"

namespace vplhost {

// The entries (oldest first, as the record reads) whose last decision is
// at or after `since` (UTC, ISO 8601, when given), as one document:
// `entries` newest first, `answers` and `grounds` counted over every
// decision, `questions`, `objected`, `wouldObject` over the power-down
// questions, and `summary`.
nlohmann::ordered_json DescribeHistory(
    const std::vector<NTarn::DecisionEntry>& entries,
    const std::optional<std::string>& since);

// The same for people: one line per entry, then the counts and the summary.
std::string HistoryText(const nlohmann::ordered_json& history);

}  // namespace vplhost

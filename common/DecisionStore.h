// The decision record as registry keys: below
// HKLM\Software\Tarn\Vesperline\Decisions one key per entry, named after
// its first time so that the names sort by time ("20261209T021500Z", with
// "-0001" and up for further entries of the same second), one value per
// field. Keys are created with the security the record key passes on; no
// function here changes any key's security.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/DecisionEntry.h"

namespace NTarn {

namespace decision_store {
inline constexpr char kDecisionsKey[] = "Software\\Tarn\\Vesperline\\Decisions";
inline constexpr size_t kMaxEntries = 64;
}  // namespace decision_store

// The whole entries below the open record key, oldest first. An entry
// without its count (cut short while it was written) is left out.
std::vector<DecisionEntry> ReadDecisionEntries(HKEY decisions);

// Stores `entry` as a new key and sets its name. A key that cannot be
// written whole is deleted again. Returns the first failure.
LSTATUS AddDecisionEntry(HKEY decisions, DecisionEntry& entry);

// Rewrites the last time and the count of the stored entry `entry.name`;
// ERROR_FILE_NOT_FOUND when that key is gone.
LSTATUS UpdateDecisionEntry(HKEY decisions, const DecisionEntry& entry);

// Deletes the oldest entries until at most `keep` remain.
LSTATUS PruneDecisionEntries(HKEY decisions, size_t keep);

}  // namespace NTarn

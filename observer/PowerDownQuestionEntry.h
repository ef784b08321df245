// A power-down question as the decision record keeps it: where the question
// ended, the item that decided it, and the window it was asked with.
#pragma once

#include <ctime>

#include "common/DecisionEntry.h"
#include "jobs/JobFindings.h"
#include "observer/PowerDownJudgement.h"

// The entry of a question answered as judged at `now`: "objection" when the
// judgement objects, else "no objection". The deciding item is the first
// running deployment or software update that is not left aside, or the due
// job the pending question stopped at, as `findings` recorded them, or the
// work waiting for a maintenance window with the window's start.
NTarn::DecisionEntry PowerDownQuestionEntry(const PowerDownJudgement& judgement,
                                            const JobFindings& findings,
                                            __time64_t now);

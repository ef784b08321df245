// The cost of one schedule evaluation per recurrence type against the
// token's age.
#pragma once

namespace vplbench {

// Prints the table; false when a token of the table does not decode.
bool RunScheduleBench();

}  // namespace vplbench

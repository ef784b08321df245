// What the plug-in logs during a benchmark run. The program exports the
// host's logging entry point; lines are counted, the last one kept, and
// nothing is printed, so that logging costs what it costs a quiet host.
#pragma once

#include <string>

namespace vplbench {

long LoggedCalls();
// The text of the last logging call, "%T" shown as "[T]".
std::string LastLogged();

}  // namespace vplbench

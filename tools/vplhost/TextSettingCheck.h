// Text settings stored longer than the plug-in reads. The plug-in reads such
// a text not at all and goes on with its previous or default text, without a
// line in its log, so vplhost status names them.
#pragma once

#include <string>
#include <vector>

namespace vplhost {

// One warning line for each text setting below the settings key or its
// policy twin (of HKEY_LOCAL_MACHINE as this process sees it) that the
// plug-in's own reader turns away as too long.
std::vector<std::string> LongTextSettingWarnings();

}  // namespace vplhost

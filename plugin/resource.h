// Resource identifiers of VplCMgr.dll.
#pragma once

#include "contract/StringIds.h"

// Registry scripts (resource type "REGISTRY"): the module's AppID, the class.
#define IDR_VPLCMGR 101
#define IDR_CONFIGMGRPLUGIN 102

// The host contract: the interfaces and identifiers generated from
// VplCMgr.idl, included the same way everywhere.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <servprov.h>

// IPowerDownContext has a method named GetMessage; winuser.h would otherwise
// rename it to GetMessageW in some files and not in others.
#undef GetMessage

#include "VplCMgr.h"

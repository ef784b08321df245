// Removal of a whole registry key tree.
#pragma once

#include <windows.h>

namespace NTarn {

// Deletes `path` below `root` with all its subkeys, bottom-up. A key whose
// security refuses the deletion has it repaired (see ResetSecurity) and is
// tried once more; subkeys that still cannot be deleted are skipped, which
// makes their parent's deletion fail. Returns 1 when the key is gone
// afterwards (including when it never existed), else 0.
BOOL RecurDeleteKey(HKEY root, const char* path);

}  // namespace NTarn

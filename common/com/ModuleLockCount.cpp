#include "common/com/ModuleLockCount.h"

namespace NTarn {

namespace {
ModuleLockCount g_moduleLocks;
}  // namespace

ModuleLockCount& ModuleLocks() { return g_moduleLocks; }

}  // namespace NTarn

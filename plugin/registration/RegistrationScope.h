#pragma once

namespace registration {

// Machine-wide registration writes below HKEY_CLASSES_ROOT; per-user
// registration writes below the current user's Software\Classes and needs no
// administrator.
enum class RegistrationScope { kMachine, kPerUser };

}  // namespace registration

// Defines the contract's interface, service, event and class identifiers.
#include <initguid.h>

#include "contract/HostContract.h"

// Gives a test a HKEY_LOCAL_MACHINE of its own: for the object's lifetime
// every open of a HKEY_LOCAL_MACHINE path in this process, on any thread,
// lands below a fresh test key, so that product code reading and writing its
// fixed settings paths touches nothing else. Create test keys inside it with
// TestRegistryKey as usual.
#pragma once

#include <string>

#include "tests/unit/registry/TestRegistryKey.h"

namespace vpltest {

class OverriddenMachineHive {
 public:
  OverriddenMachineHive();
  // Restores the real hive, then removes the test key and all below it.
  ~OverriddenMachineHive();
  OverriddenMachineHive(const OverriddenMachineHive&) = delete;
  OverriddenMachineHive& operator=(const OverriddenMachineHive&) = delete;

 private:
  TestRegistryKey m_scratch;
};

}  // namespace vpltest

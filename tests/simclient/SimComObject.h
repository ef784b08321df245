// Base of the simulated client's COM objects: an atomic reference count and
// a process-wide count of live objects, so tests can check that everything
// handed out was released.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>

#include "tests/support/FakeComObject.h"

namespace vpltest::sim {

std::atomic<long>& LiveObjectCounter();

// A test double that also counts itself among the simulator's live objects.
// Created with one reference, the creator's.
template <typename... Interfaces>
class SimComObject : public FakeComObject<Interfaces...> {
 protected:
  SimComObject() {
    ++LiveObjectCounter();
    this->AddRef();
  }
  ~SimComObject() override { --LiveObjectCounter(); }
};

}  // namespace vpltest::sim

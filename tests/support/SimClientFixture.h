// The shared fixture of unit tests that run product code against the
// simulated ConfigMgr client: a clean log capture, a scenario loaded on
// demand, and at the end the checks that every simulated object was released
// and no plug-in object keeps the module locked. (The test main has put the
// thread in the multithreaded apartment.)
//
//   TEST_F(SimClientFixture, Something) {
//     Load(R"({"namespaces": {"root\\ccm": {"CCM_Client": {}}}})");
//     ... run product code ...
//   }
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "plugin/Module.h"
#include "tests/simclient/SimulatedClient.h"
#include "tests/support/LogCapture.h"

namespace vpltest {

// What the plug-in's failure lines say of a provider that did not answer.
inline const std::string kTimedOutText =
    "The WMI provider did not answer within 10 seconds";

class SimClientFixture : public ::testing::Test {
 protected:
  void SetUp() override { LogCapture::Clear(); }
  void TearDown() override {
    m_sim.reset();
    EXPECT_EQ(SimulatedClient::LiveObjects(), 0);
    EXPECT_EQ(Module().GetLockCount(), 0);
  }

  // Installs `scenario` (JSON text or a file path), replacing any earlier one.
  SimulatedClient& Load(const std::string& scenario) {
    m_sim.reset();
    m_sim = std::make_unique<SimulatedClient>(scenario);
    return *m_sim;
  }
  SimulatedClient& Sim() { return *m_sim; }
  // Removes the scenario: the platform's WMI answers again.
  void Unload() { m_sim.reset(); }

 private:
  std::unique_ptr<SimulatedClient> m_sim;
};

}  // namespace vpltest

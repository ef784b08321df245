#include "observer/ConfigMgrClientPresence.h"

#include <windows.h>
#include <wbemcli.h>
#include <wrl/client.h>

#include "common/Logging.h"
#include "common/wmi/ConnectToNamespace.h"
#include "common/wmi/WbemGetObject.h"
#include "common/wmi/WbemQuestion.h"

using NTarn::IsDebugFlagSet;
using NTarn::LogMessage;
namespace debug_flags = NTarn::debug_flags;

using Microsoft::WRL::ComPtr;

bool IsConfigMgrClientPresent() noexcept {
  const NTarn::WbemWalk walk("IsConfigMgrClientPresent");
  if (NTarn::WbemQuestionIsOver()) return false;
  try {
    ComPtr<IWbemServices> services;
    NTarn::ConnectToNamespace(services, L".", L"root\\ccm", nullptr, nullptr,
                              RPC_C_AUTHN_LEVEL_PKT,
                              RPC_C_IMP_LEVEL_IMPERSONATE);
    ComPtr<IWbemClassObject> client;
    // Only the object counts: a client whose provider does not answer in
    // time is treated as absent, like one that is not installed.
    NTarn::GetWbemObject(services.Get(), L"CCM_Client=@", client);
    return client != nullptr && !NTarn::WbemQuestionIsOver();
  } catch (...) {
    if (IsDebugFlagSet(debug_flags::kVerbose) && !NTarn::WbemQuestionIsOver()) {
      LogMessage(
          "%T: SMS/ConfigMgr agent not installed; ignoring check for running "
          "and pending jobs.\n");
    }
    return false;
  }
}

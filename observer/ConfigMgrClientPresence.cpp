#include "observer/ConfigMgrClientPresence.h"

#include <windows.h>
#include <wbemcli.h>
#include <wrl/client.h>

#include "common/Logging.h"
#include "common/ScopedBstr.h"
#include "common/wmi/ConnectToNamespace.h"
#include "common/wmi/WbemText.h"

using NTarn::IsDebugFlagSet;
using NTarn::LogMessage;
namespace debug_flags = NTarn::debug_flags;

using Microsoft::WRL::ComPtr;

bool IsConfigMgrClientPresent() noexcept {
  try {
    ComPtr<IWbemServices> services;
    NTarn::ConnectToNamespace(services, L".", L"root\\ccm", nullptr, nullptr,
                              RPC_C_AUTHN_LEVEL_PKT,
                              RPC_C_IMP_LEVEL_IMPERSONATE);
    const NTarn::ScopedBstr path = NTarn::MakeBstr(L"CCM_Client=@");
    ComPtr<IWbemClassObject> client;
    // Only the object counts; the call's result says nothing more.
    services->GetObject(path.Get(), 0, nullptr, &client, nullptr);
    return client != nullptr;
  } catch (...) {
    if (IsDebugFlagSet(debug_flags::kVerbose)) {
      LogMessage(
          "%T: SMS/ConfigMgr agent not installed; ignoring check for running "
          "and pending jobs.\n");
    }
    return false;
  }
}

#include "common/wmi/WbemGetObject.h"

#include <utility>

#include "common/ScopedBstr.h"
#include "common/wmi/WbemQuestion.h"
#include "common/wmi/WbemText.h"
#include "common/wmi/WbemTimeout.h"

namespace NTarn {

HRESULT GetWbemObject(IWbemServices* services, const wchar_t* path,
                      Microsoft::WRL::ComPtr<IWbemClassObject>& object) {
  if (!services) return E_POINTER;
  // A synchronous read returns only when the provider does; the call result
  // of a semisynchronous one can be waited on with a bound.
  const ScopedBstr objectPath = MakeBstr(path);
  Microsoft::WRL::ComPtr<IWbemCallResult> call;
  HRESULT hr = services->GetObject(
      objectPath.Get(), WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, nullptr, &call);
  if (FAILED(hr)) return hr;
  if (!call) return E_POINTER;
  Microsoft::WRL::ComPtr<IWbemClassObject> result;
  const DWORD waitMs = WbemWaitMs();
  hr = waitMs ? call->GetResultObject(static_cast<LONG>(waitMs), &result)
              : static_cast<HRESULT>(WBEM_S_TIMEDOUT);
  if (hr == WBEM_S_TIMEDOUT) {
    NoteWbemWaitTimedOut(waitMs);
    return WbemTimedOut();
  }
  if (FAILED(hr)) return hr;
  if (!result) return WBEM_E_NOT_FOUND;
  object = std::move(result);
  return S_OK;
}

}  // namespace NTarn

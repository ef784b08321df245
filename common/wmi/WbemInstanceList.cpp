#include "common/wmi/WbemInstanceList.h"

#include "common/HResultException.h"
#include "common/ScopedBstr.h"
#include "common/wmi/WbemText.h"

namespace NTarn {

void CWbemInstanceList::ExecQuery(const wchar_t* query, LONG flags) {
  IWbemServices* services = m_services->Get();
  if (!services) ThrowHResult(E_POINTER);
  const ScopedBstr language = MakeBstr(L"WQL");
  const ScopedBstr queryText = MakeBstr(query);
  Microsoft::WRL::ComPtr<IEnumWbemClassObject> enumerator;
  const HRESULT hr = services->ExecQuery(language.Get(), queryText.Get(), flags,
                                         nullptr, &enumerator);
  if (FAILED(hr)) ThrowHResult(hr);
  if (!enumerator) return;

  for (;;) {
    Microsoft::WRL::ComPtr<IWbemClassObject> object;
    ULONG returned = 0;
    const HRESULT next =
        enumerator->Next(kObjectTimeoutMs, 1, &object, &returned);
    // The end, a time-out or a failure without an object ends the list
    // quietly.
    if (next == WBEM_S_FALSE || returned == 0 || !object) break;
    if (FAILED(next)) ThrowHResult(next);
    emplace_back(object.Get());
  }
}

}  // namespace NTarn

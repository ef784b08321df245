#include "common/wmi/WbemInstanceList.h"

#include <utility>

#include "common/HResultException.h"
#include "common/ScopedBstr.h"
#include "common/wmi/WbemResults.h"
#include "common/wmi/WbemText.h"

namespace NTarn {

void CWbemInstanceList::ExecQuery(const wchar_t* query, LONG flags) {
  IWbemServices* services = m_services->Get();
  if (!services) ThrowHResult(E_POINTER);
  const ScopedBstr language = MakeBstr(L"WQL");
  const ScopedBstr queryText = MakeBstr(query);
  Microsoft::WRL::ComPtr<IEnumWbemClassObject> enumerator;
  HRESULT hr = services->ExecQuery(language.Get(), queryText.Get(), flags,
                                   nullptr, &enumerator);
  if (FAILED(hr)) ThrowHResult(hr);
  if (!enumerator) return;
  // A semisynchronous query fails with its first object.
  CWbemResults results;
  hr = results.Open(std::move(enumerator));
  if (FAILED(hr)) ThrowHResult(hr);

  for (;;) {
    Microsoft::WRL::ComPtr<IWbemClassObject> object;
    const HRESULT next = results.Next(object);
    // The end, a time-out or a failure without an object ends the list
    // quietly.
    if (next == WBEM_S_FALSE || !object) break;
    if (FAILED(next)) ThrowHResult(next);
    emplace_back(object.Get());
  }
}

}  // namespace NTarn

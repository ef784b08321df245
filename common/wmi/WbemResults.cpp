#include "common/wmi/WbemResults.h"

#include <utility>

#include "common/wmi/WbemErrors.h"
#include "common/wmi/WbemQuestion.h"

namespace NTarn {
namespace {

// Waits the lesser of the per-call limit and what is left of the question.
HRESULT NextObject(IEnumWbemClassObject* enumerator,
                   Microsoft::WRL::ComPtr<IWbemClassObject>& object) {
  object.Reset();
  const DWORD waitMs = WbemWaitMs();
  if (waitMs == 0) {
    NoteWbemWaitTimedOut(waitMs);
    return WBEM_S_TIMEDOUT;
  }
  ULONG returned = 0;
  const HRESULT hr =
      enumerator->Next(static_cast<LONG>(waitMs), 1, &object, &returned);
  if (hr == WBEM_S_TIMEDOUT) NoteWbemWaitTimedOut(waitMs);
  return hr;
}

}  // namespace

HRESULT CWbemResults::Open(
    Microsoft::WRL::ComPtr<IEnumWbemClassObject> enumerator) {
  Reset();
  if (!enumerator) return E_POINTER;
  Microsoft::WRL::ComPtr<IWbemClassObject> first;
  const HRESULT hr = NextObject(enumerator.Get(), first);
  // The enumerator is released only once its failure's text is taken.
  if (FAILED(hr)) return Failed(hr);
  if (hr == WBEM_S_TIMEDOUT && !first) return Failed(WbemTimedOut());
  m_enumerator = std::move(enumerator);
  m_first = std::move(first);
  m_firstResult = hr;
  m_firstTaken = false;
  return S_OK;
}

HRESULT CWbemResults::Next(Microsoft::WRL::ComPtr<IWbemClassObject>& object) {
  object.Reset();
  if (!m_enumerator) return E_POINTER;
  if (!m_firstTaken) {
    m_firstTaken = true;
    object = std::move(m_first);
    return m_firstResult;
  }
  return NextObject(m_enumerator.Get(), object);
}

HRESULT CWbemResults::Failed(HRESULT hr) {
  m_failureText = GetComErrorDescription();
  return hr;
}

void CWbemResults::Reset() {
  m_enumerator.Reset();
  m_first.Reset();
  m_firstResult = S_OK;
  m_firstTaken = true;
  m_failureText.clear();
}

}  // namespace NTarn

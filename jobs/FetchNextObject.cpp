#include "jobs/FetchNextObject.h"

#include "common/wmi/WbemInstanceList.h"

HRESULT FetchNextObject(IEnumWbemClassObject* enumerator,
                        Microsoft::WRL::ComPtr<IWbemClassObject>& object) {
  object.Reset();
  if (!enumerator) return E_POINTER;
  ULONG returned = 0;
  return enumerator->Next(NTarn::CWbemInstanceList::kObjectTimeoutMs, 1,
                          &object, &returned);
}

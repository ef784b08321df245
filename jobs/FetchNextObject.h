// One step of a WMI result walk in the detection questions.
#pragma once

#include <windows.h>
#include <wbemcli.h>
#include <wrl/client.h>

// Takes the next object of `enumerator` into `object`, waiting no longer than
// the WMI layer's per-object limit, so that a stalled provider cannot hold a
// power-down question or the auto-shutdown worker. Returns what
// IEnumWbemClassObject::Next returned; a time-out is WBEM_S_TIMEDOUT with no
// object, which the walks treat as the end of the results. Whatever came back
// belongs to `object`, also with a failure.
HRESULT FetchNextObject(IEnumWbemClassObject* enumerator,
                        Microsoft::WRL::ComPtr<IWbemClassObject>& object);

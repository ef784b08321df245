// Holder of one WMI result object.
#pragma once

#include <windows.h>
#include <wbemcli.h>
#include <wrl/client.h>

namespace NTarn {

class CWbemInstance {
 public:
  // Adds a reference to `object`, released when the holder goes away.
  explicit CWbemInstance(IWbemClassObject* object) : m_object(object) {}

  // The held object; raises E_POINTER when the holder is empty.
  IWbemClassObject* Object() const;

 private:
  Microsoft::WRL::ComPtr<IWbemClassObject> m_object;
};

}  // namespace NTarn

#include "common/wmi/WbemInstance.h"

#include "common/HResultException.h"

namespace NTarn {

IWbemClassObject* CWbemInstance::Object() const {
  if (!m_object) ThrowHResult(E_POINTER);
  return m_object.Get();
}

}  // namespace NTarn

// The objects of one semisynchronous WMI query, taken one at a time.
#pragma once

#include <windows.h>
#include <wbemcli.h>
#include <wrl/client.h>

#include <string>

#include "common/wmi/WbemTimeout.h"

namespace NTarn {

class CWbemResults {
 public:
  CWbemResults() = default;
  CWbemResults(const CWbemResults&) = delete;
  CWbemResults& operator=(const CWbemResults&) = delete;

  // Takes `enumerator` and waits for its first object: a semisynchronous
  // query reports an unknown class or a failed provider only there. Returns
  // that failure, WBEM_E_TIMED_OUT (with a COM error object saying so) when
  // the provider did not answer in time, else S_OK; on failure the results
  // are empty.
  HRESULT Open(Microsoft::WRL::ComPtr<IEnumWbemClassObject> enumerator);

  // Takes the next object into `object`, waiting at most kWbemCallTimeoutMs.
  // Returns what IEnumWbemClassObject::Next returned: WBEM_S_FALSE without
  // an object at the end, WBEM_S_TIMEDOUT without one when the provider
  // stalled. Whatever came back belongs to `object`, also with a failure.
  HRESULT Next(Microsoft::WRL::ComPtr<IWbemClassObject>& object);

  // Whether a query has been opened into these results.
  explicit operator bool() const { return m_enumerator != nullptr; }

  // Records `hr` as the query's failure together with the description of the
  // thread's COM error object, taken now: releasing a proxy (the enumerator,
  // the services) clears that object, so a line printed afterwards would
  // read "Unknown Error". Returns `hr`.
  HRESULT Failed(HRESULT hr);
  // That description ("Unknown Error" without an error object); empty when
  // no failure was recorded.
  const std::string& FailureText() const { return m_failureText; }

  void Reset();

 private:
  Microsoft::WRL::ComPtr<IEnumWbemClassObject> m_enumerator;
  // The object Open took, handed out by the first Next.
  Microsoft::WRL::ComPtr<IWbemClassObject> m_first;
  HRESULT m_firstResult = S_OK;
  bool m_firstTaken = true;
  std::string m_failureText;
};

}  // namespace NTarn

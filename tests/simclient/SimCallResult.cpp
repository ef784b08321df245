#include "tests/simclient/SimCallResult.h"

#include <utility>

#include "tests/simclient/SimClassObject.h"

namespace vpltest::sim {

SimCallResult::SimCallResult(std::shared_ptr<SimState> state,
                             const SimInstance* found, DeferredAnswer answer)
    : m_state(std::move(state)),
      m_found(found ? std::optional<SimInstance>(*found) : std::nullopt),
      m_answer(std::move(answer)) {}

SimCallResult::~SimCallResult() { ::SetErrorInfo(0, nullptr); }

STDMETHODIMP SimCallResult::GetResultObject(LONG timeout,
                                            IWbemClassObject** object) {
  if (!object) return WBEM_E_INVALID_PARAMETER;
  *object = nullptr;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_answer.Await(*m_state, timeout)) return WBEM_S_TIMEDOUT;
  if (const HRESULT hr = m_answer.Failure(); FAILED(hr)) return hr;
  if (!m_found) return WBEM_E_NOT_FOUND;
  *object = new SimClassObject(m_state, *m_found, {});
  return WBEM_S_NO_ERROR;
}

STDMETHODIMP SimCallResult::GetCallStatus(LONG timeout, LONG* status) {
  if (!status) return WBEM_E_INVALID_PARAMETER;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_answer.Await(*m_state, timeout)) return WBEM_S_TIMEDOUT;
  *status = m_answer.Failure();
  return WBEM_S_NO_ERROR;
}

}  // namespace vpltest::sim

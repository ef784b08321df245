#include "tests/simclient/SimEnumerator.h"

#include "tests/simclient/SimClassObject.h"

namespace vpltest::sim {

SimEnumerator::SimEnumerator(std::shared_ptr<SimState> state,
                             std::vector<SimInstance> results,
                             std::vector<std::wstring> selected,
                             bool forwardOnly, DeferredAnswer answer)
    : m_state(std::move(state)),
      m_results(std::move(results)),
      m_selected(std::move(selected)),
      m_forwardOnly(forwardOnly),
      m_answer(std::move(answer)) {}

SimEnumerator::~SimEnumerator() { ::SetErrorInfo(0, nullptr); }

IWbemClassObject* SimEnumerator::MakeObject(size_t index) const {
  return new SimClassObject(m_state, m_results[index], m_selected);
}

STDMETHODIMP SimEnumerator::Reset() {
  if (m_forwardOnly) return WBEM_E_INVALID_OPERATION;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_position = 0;
  return S_OK;
}

STDMETHODIMP SimEnumerator::Next(LONG timeout, ULONG count,
                                 IWbemClassObject** objects, ULONG* returned) {
  m_state->Record([&](Recorded& recorded) { recorded.nextTimeout = timeout; });
  if (!objects || !returned) return WBEM_E_INVALID_PARAMETER;
  *returned = 0;
  std::lock_guard<std::mutex> lock(m_mutex);
  const auto failure = m_state->Enter(SimMethod::kNext);
  // The query's own answer comes first: a provider still busy, a query that
  // failed.
  if (!m_answer.Await(*m_state, timeout)) return WBEM_S_TIMEDOUT;
  if (const HRESULT hr = m_answer.Failure(); FAILED(hr)) return hr;
  if (const DWORD delay = m_state->ObjectDelay();
      delay && m_position < m_results.size()) {
    const DWORD wait = static_cast<DWORD>(timeout);
    if (wait != WBEM_INFINITE && wait < delay) {
      m_state->Wait(wait);
      return WBEM_S_TIMEDOUT;
    }
    m_state->Wait(delay);
  }
  if (failure) {
    if (failure->withObject && m_position < m_results.size()) {
      objects[0] = MakeObject(m_position++);
      *returned = 1;
    }
    return failure->hr;
  }
  while (*returned < count && m_position < m_results.size()) {
    objects[(*returned)++] = MakeObject(m_position++);
  }
  return *returned == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
}

STDMETHODIMP SimEnumerator::Clone(IEnumWbemClassObject** copy) {
  if (!copy) return WBEM_E_INVALID_PARAMETER;
  *copy = nullptr;
  if (m_forwardOnly) return WBEM_E_INVALID_OPERATION;
  std::lock_guard<std::mutex> lock(m_mutex);
  auto* clone =
      new SimEnumerator(m_state, m_results, m_selected, false, m_answer);
  clone->m_position = m_position;
  *copy = clone;
  return S_OK;
}

STDMETHODIMP SimEnumerator::Skip(LONG /*timeout*/, ULONG count) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const size_t left = m_results.size() - m_position;
  if (count > left) {
    m_position = m_results.size();
    return WBEM_S_FALSE;
  }
  m_position += count;
  return S_OK;
}

}  // namespace vpltest::sim

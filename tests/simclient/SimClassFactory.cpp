#include "tests/simclient/SimClassFactory.h"

namespace vpltest::sim {

SimClassFactory::SimClassFactory(std::shared_ptr<SimState> state,
                                 SimMethod method, Creator creator)
    : m_state(std::move(state)),
      m_method(method),
      m_creator(std::move(creator)) {}

STDMETHODIMP SimClassFactory::CreateInstance(IUnknown* outer, REFIID riid,
                                             void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  if (const auto failure = m_state->Enter(m_method)) return failure->hr;
  IUnknown* object = m_creator(m_state);
  const HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}

}  // namespace vpltest::sim

#include "tests/simclient/SimStatusCodeText.h"

namespace vpltest::sim {

STDMETHODIMP SimStatusCodeText::GetErrorCodeText(HRESULT hr, LCID /*locale*/,
                                                 LONG /*flags*/, BSTR* text) {
  if (text) *text = nullptr;
  if (const auto failure = m_state->Enter(SimMethod::kGetErrorCodeText)) {
    return failure->hr;
  }
  if (!text) return WBEM_E_INVALID_PARAMETER;
  *text = ::SysAllocString(m_state->StatusText(hr).c_str());
  return *text ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP SimStatusCodeText::GetFacilityCodeText(HRESULT /*hr*/,
                                                    LCID /*locale*/,
                                                    LONG /*flags*/,
                                                    BSTR* text) {
  if (!text) return WBEM_E_INVALID_PARAMETER;
  *text = ::SysAllocString(L"WMI");
  return *text ? S_OK : E_OUTOFMEMORY;
}

}  // namespace vpltest::sim

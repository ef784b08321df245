#include "common/wmi/WbemTimeout.h"

#include <oleauto.h>
#include <wbemcli.h>
#include <wrl/client.h>

#include "common/wmi/WbemQuestion.h"

namespace NTarn {

HRESULT WbemTimedOut() {
  static_assert(kWbemCallTimeoutMs == 10000, "the text names the limit");
  Microsoft::WRL::ComPtr<ICreateErrorInfo> create;
  if (SUCCEEDED(::CreateErrorInfo(&create))) {
    create->SetDescription(const_cast<LPOLESTR>(
        WbemQuestionIsOver()
            ? L"The question's time for WMI ran out"
            : L"The WMI provider did not answer within 10 seconds"));
    Microsoft::WRL::ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.As(&info))) ::SetErrorInfo(0, info.Get());
  }
  return WBEM_E_TIMED_OUT;
}

}  // namespace NTarn

// IWbemLocator::ConnectServer within the question's time. ConnectServer has
// no time limit of its own (WBEM_FLAG_CONNECT_USE_MAX_WAIT alone still allows
// two minutes), so the call runs on a thread of its own and is waited for no
// longer than WbemWaitMs(). A connection that has not answered by then is
// left to its thread, which keeps the library and the module's lock until
// ConnectServer returns and then drops what it got.
//
// One connecting thread at a time: a connection waits for another's to end
// (within its own time) before starting its thread, so no more than one
// thread is ever left waiting. While one is, later connections fail at once
// and their question is refused.
#pragma once

#include <windows.h>
#include <wbemcli.h>
#include <wrl/client.h>

namespace NTarn {

// Connects `locator` to `path` with `user` and `password` (null for none),
// no locale, authority or context. Returns ConnectServer's result, or
// WBEM_E_TIMED_OUT (the thread's COM error object saying why) when it did
// not answer in time or an earlier connection still has not, or the failure
// to start the thread. `services` is set only on success. COM must be
// initialised on the calling thread in the multithreaded apartment, where
// the connecting thread's services can be used.
HRESULT ConnectServerWithin(IWbemLocator* locator, const wchar_t* path,
                            const wchar_t* user, const wchar_t* password,
                            Microsoft::WRL::ComPtr<IWbemServices>& services);

}  // namespace NTarn

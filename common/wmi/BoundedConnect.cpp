#include "common/wmi/BoundedConnect.h"

#include <objbase.h>
#include <process.h>

#include <memory>
#include <mutex>
#include <utility>

#include "common/CurrentModule.h"
#include "common/ScopedBstr.h"
#include "common/ScopedHandle.h"
#include "common/SlimLock.h"
#include "common/com/ModuleLockCount.h"
#include "common/wmi/WbemQuestion.h"
#include "common/wmi/WbemText.h"
#include "common/wmi/WbemTimeout.h"

namespace NTarn {
namespace {

// One ConnectServer call, shared by the thread that makes it and the one
// that waits for it.
struct Connection {
  Microsoft::WRL::ComPtr<IWbemLocator> locator;
  ScopedBstr path;
  ScopedBstr user;
  ScopedBstr password;
  ScopedHandle done;
  // Written by the connecting thread under g_lock before `done` is set.
  bool finished = false;
  HRESULT result = E_PENDING;
  Microsoft::WRL::ComPtr<IWbemServices> services;
  // The waiter has given up: the result is dropped.
  bool abandoned = false;
};

SlimLock g_lock;
// The connection whose thread is alive, if any.
std::shared_ptr<Connection> g_connecting;

struct ThreadStart {
  std::shared_ptr<Connection> connection;
  HMODULE module;
};

unsigned __stdcall Connect(void* argument) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(argument));
  const HMODULE module = start->module;
  std::shared_ptr<Connection> connection = std::move(start->connection);
  start.reset();
  const HRESULT initialized = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  Microsoft::WRL::ComPtr<IWbemServices> services;
  const HRESULT hr = connection->locator->ConnectServer(
      connection->path.Get(), connection->user.Get(),
      connection->password.Get(), nullptr, 0, nullptr, nullptr, &services);
  // The waiter holds a locator of its own.
  connection->locator.Reset();
  {
    std::lock_guard<SlimLock> guard(g_lock);
    connection->finished = true;
    connection->result = hr;
    if (!connection->abandoned) connection->services = std::move(services);
    if (g_connecting == connection) g_connecting.reset();
  }
  // A late result is dropped here, on the thread that made it. Nothing of
  // the thread's is left to count once the waiter hears of the end; the
  // library stays loaded by the thread's own reference until it exits.
  services.Reset();
  if (SUCCEEDED(initialized)) ::CoUninitialize();
  ModuleLocks().Unlock();
  ::SetEvent(connection->done.Get());
  connection.reset();
  ::FreeLibraryAndExitThread(module, 0);
  return 0;
}

// Starts the thread for `connection`, which it keeps, with the library and
// the module's lock, until ConnectServer has returned; `thread` receives its
// handle.
HRESULT StartConnecting(const std::shared_ptr<Connection>& connection,
                        ScopedHandle& thread) {
  auto start = std::make_unique<ThreadStart>(
      ThreadStart{connection, ReferenceCurrentModule()});
  if (!start->module) return HRESULT_FROM_WIN32(::GetLastError());
  ModuleLocks().Lock();
  const uintptr_t handle =
      ::_beginthreadex(nullptr, 0, &Connect, start.get(), 0, nullptr);
  if (handle == 0) {
    ModuleLocks().Unlock();
    ::FreeLibrary(start->module);
    return E_FAIL;
  }
  start.release();
  thread.Reset(reinterpret_cast<HANDLE>(handle));
  return S_OK;
}

// Takes the one connecting slot for `connection`, waiting within this
// question's time for another connection's thread to end. False when the
// time ran out or the other thread was left waiting.
bool TakeConnectingSlot(const std::shared_ptr<Connection>& connection) {
  for (;;) {
    std::shared_ptr<Connection> other;
    {
      std::lock_guard<SlimLock> guard(g_lock);
      if (!g_connecting) {
        g_connecting = connection;
        return true;
      }
      other = g_connecting;
      if (other->abandoned) return false;
    }
    const DWORD waitMs = WbemWaitMs();
    if (waitMs == 0 ||
        ::WaitForSingleObject(other->done.Get(), waitMs) != WAIT_OBJECT_0) {
      // The question cannot connect in its time: it ends in this walk.
      NoteWbemConnectTimedOut();
      return false;
    }
  }
}

}  // namespace

HRESULT ConnectServerWithin(IWbemLocator* locator, const wchar_t* path,
                            const wchar_t* user, const wchar_t* password,
                            Microsoft::WRL::ComPtr<IWbemServices>& services) {
  if (!locator) return E_POINTER;
  auto connection = std::make_shared<Connection>();
  connection->locator = locator;
  connection->path = MakeBstr(path);
  connection->user = MakeBstr(user);
  connection->password = MakeBstr(password);
  connection->done.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!connection->done) return HRESULT_FROM_WIN32(::GetLastError());

  if (!TakeConnectingSlot(connection)) {
    RefuseWbemQuestion();
    return WbemTimedOut();
  }
  ScopedHandle thread;
  HRESULT hr = StartConnecting(connection, thread);
  if (FAILED(hr)) {
    std::lock_guard<SlimLock> guard(g_lock);
    g_connecting.reset();
    return hr;
  }
  // The thread's end, not only its answer: what it held is let go by then.
  const DWORD waitMs = WbemWaitMs();
  if (waitMs != 0) ::WaitForSingleObject(thread.Get(), waitMs);
  bool finished;
  {
    std::lock_guard<SlimLock> guard(g_lock);
    finished = connection->finished;
    if (!finished) {
      connection->abandoned = true;
    } else {
      hr = connection->result;
      if (SUCCEEDED(hr)) services = std::move(connection->services);
    }
  }
  if (!finished) {
    NoteWbemConnectTimedOut();
    return WbemTimedOut();
  }
  return hr;
}

}  // namespace NTarn

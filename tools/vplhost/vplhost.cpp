// vplhost: a console stand-in for the host service. It loads VplCMgr.dll the
// way the service does, offers its services, and drives the plug-in.
//
//   vplhost [path\to\VplCMgr.dll]
#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "common/ScopedBstr.h"
#include "plugin/HostContract.h"
#include "tools/vplhost/HostServices.h"

using Microsoft::WRL::ComPtr;

namespace {

using DllGetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID,
                                                           void**);
using DllCanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();

std::wstring DefaultPluginPath() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  folder.resize(folder.find_last_of(L"\\/") + 1);
  return folder + L"VplCMgr.dll";
}

std::string Narrow(BSTR text) {
  if (!text) return "(null)";
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), length, nullptr,
                        nullptr);
  narrow.resize(narrow.size() - 1);
  return narrow;
}

int Fail(const char* what, HRESULT hr) {
  printf("vplhost: %s failed: 0x%08lx\n", what, static_cast<unsigned long>(hr));
  return 1;
}

int RunPlugin(DllGetClassObjectFunction getClassObject) {
  ComPtr<IClassFactory> factory;
  HRESULT hr = getClassObject(CLSID_ConfigMgrPlugin, IID_PPV_ARGS(&factory));
  if (FAILED(hr)) return Fail("DllGetClassObject", hr);

  ComPtr<IVesperlinePlugin> plugin;
  hr = factory->CreateInstance(nullptr, IID_PPV_ARGS(&plugin));
  if (FAILED(hr)) return Fail("CreateInstance", hr);

  // Host objects start with no reference; each ComPtr takes the first.
  ComPtr<vplhost::PowerDownProvider> powerDown(new vplhost::PowerDownProvider);
  ComPtr<vplhost::EventBroker> broker(new vplhost::EventBroker);
  ComPtr<vplhost::TimeSinceLastInputProvider> idle(
      new vplhost::TimeSinceLastInputProvider);
  ComPtr<vplhost::ServiceProvider> services(
      new vplhost::ServiceProvider(powerDown.Get(), broker.Get(), idle.Get()));

  hr = plugin->Initialize(services.Get());
  printf("vplhost: Initialize returned 0x%08lx\n",
         static_cast<unsigned long>(hr));

  NTarn::ScopedBstr name;
  NTarn::ScopedBstr version;
  hr = plugin->GetPluginDetails(name.Receive(), version.Receive());
  if (SUCCEEDED(hr)) {
    printf("vplhost: plug-in \"%s\", version \"%s\"\n",
           Narrow(name.Get()).c_str(), Narrow(version.Get()).c_str());
  }

  hr = plugin->Uninitialize();
  printf("vplhost: Uninitialize returned 0x%08lx\n",
         static_cast<unsigned long>(hr));
  plugin.Reset();
  factory.Reset();
  // As the service does on shut-down: let go of what the plug-in gave us.
  broker->ReleaseAll();
  powerDown->ReleaseAll();
  return 0;
}

}  // namespace

// The host's logging entry point, found by the plug-in by name.
extern "C" __declspec(dllexport) int vLogPrintf(const char* format,
                                                va_list args) {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  char stamp[32];
  sprintf_s(stamp, sizeof(stamp), "%04d-%02d-%02d %02d:%02d:%02d.%03d",
            now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
            now.wSecond, now.wMilliseconds);
  std::string expanded;
  for (const char* p = format; *p; ++p) {
    if (p[0] == '%' && p[1] == '%') {
      expanded += "%%";
      ++p;
    } else if (p[0] == '%' && p[1] == 'T') {
      expanded += stamp;
      ++p;
    } else {
      expanded += *p;
    }
  }
  const int written = vfprintf(stdout, expanded.c_str(), args);
  fflush(stdout);
  return written;
}

int wmain(int argc, wchar_t** argv) {
  const std::wstring path = argc > 1 ? argv[1] : DefaultPluginPath();
  HMODULE library = ::LoadLibraryW(path.c_str());
  if (!library) {
    printf("vplhost: cannot load %ls: error %lu\n", path.c_str(),
           ::GetLastError());
    return 1;
  }
  auto getClassObject = reinterpret_cast<DllGetClassObjectFunction>(
      ::GetProcAddress(library, "DllGetClassObject"));
  auto canUnloadNow = reinterpret_cast<DllCanUnloadNowFunction>(
      ::GetProcAddress(library, "DllCanUnloadNow"));
  if (!getClassObject || !canUnloadNow) {
    printf("vplhost: %ls is not a COM server\n", path.c_str());
    return 1;
  }

  if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
  const int result = RunPlugin(getClassObject);
  const HRESULT unload = canUnloadNow();
  printf("vplhost: DllCanUnloadNow returned %s\n",
         unload == S_OK ? "S_OK" : "S_FALSE");
  ::CoUninitialize();
  ::FreeLibrary(library);
  return result != 0 ? result : (unload == S_OK ? 0 : 1);
}

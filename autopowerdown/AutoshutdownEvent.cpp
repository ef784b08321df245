#include "autopowerdown/AutoshutdownEvent.h"

#include <mutex>
#include <string>
#include <utility>

#include "autopowerdown/AutoshutdownThread.h"
#include "autopowerdown/PowerStateChangeHandler.h"
#include "autopowerdown/SettingsKeys.h"
#include "common/GuardedCall.h"
#include "common/HostServiceQueries.h"
#include "common/Logging.h"
#include "common/RegistryParameters.h"
#include "common/wmi/WbemText.h"
#include "jobs/ISMSJobsDetector.h"

using Microsoft::WRL::ComPtr;

namespace {

// A thread that ends within this time is not refused as running.
constexpr DWORD kRunningProbeMilliseconds = 500;

void ReadDebugFlags() {
  DWORD flags = NTarn::DebugFlags.load();
  NTarn::GetRegParameter(HKEY_LOCAL_MACHINE, autopowerdown_keys::kSettings,
                         "debug", REG_DWORD, &flags, sizeof(flags),
                         NTarn::reg_flags::kReadOnly);
  NTarn::DebugFlags.store(flags);
}

}  // namespace

AutoshutdownEvent::AutoshutdownEvent(const AutoshutdownTiming& timing)
    : m_timing(timing) {}

// The worker is stopped while the object still keeps the library loaded.
void AutoshutdownEvent::FinalRelease() {
  if (m_powerStateHandler) m_powerStateHandler->DetachThread();
  if (m_thread) m_thread->StopAndJoin();
}

AutoshutdownEvent::~AutoshutdownEvent() {
  m_detector.reset();
  m_thread.reset();
}

HRESULT AutoshutdownEvent::FinalConstruct() {
  std::shared_ptr<AutoshutdownThread> thread;
  try {
    thread = std::make_shared<AutoshutdownThread>(m_timing);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  const HRESULT hr = thread->Initialize();
  if (FAILED(hr)) return hr;
  m_thread = std::move(thread);
  return S_OK;
}

HRESULT AutoshutdownEvent::AttachHost(
    IServiceProvider* serviceProvider,
    std::unique_ptr<ISMSJobsDetector> detector) {
  if (!serviceProvider || !detector) return E_POINTER;
  {
    std::lock_guard guard(*this);
    // The running thread may be using the detector attached first.
    if (m_detector) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    m_detector = std::move(detector);
  }

  ComPtr<ITimeSinceLastInputProvider> timeSinceLastInput;
  HRESULT hr = serviceProvider->QueryService(SID_TimeSinceLastInputProvider,
                                             IID_PPV_ARGS(&timeSinceLastInput));
  if (FAILED(hr)) {
    NTarn::LogMessage(
        "%T: Time since last user input provider has not been registered "
        "with the service provider; bailing...\n");
    return hr;
  }
  m_thread->SetTimeSinceLastInputProvider(std::move(timeSinceLastInput));

  ComPtr<IPowerDownProvider> powerDownProvider;
  hr = NTarn::QueryPowerDownProvider(serviceProvider, &powerDownProvider);
  if (FAILED(hr)) return hr;
  m_thread->SetPowerDownProvider(std::move(powerDownProvider));

  ComPtr<IEventBroker> eventBroker;
  hr = NTarn::QueryEventBroker(serviceProvider, &eventBroker);
  if (FAILED(hr)) return hr;

  NTarn::ComObject<PowerStateChangeHandler>* created = nullptr;
  hr = NTarn::ComObject<PowerStateChangeHandler>::CreateInstance(&created);
  if (FAILED(hr)) return hr;
  const ComPtr<PowerStateChangeHandler> handler(created);
  ComPtr<IPowerStateChangeEvent> handlerEvent;
  hr = handler->QueryInterface(IID_PPV_ARGS(&handlerEvent));
  if (FAILED(hr)) return hr;
  {
    std::lock_guard guard(*this);
    m_powerStateHandler = handler;
  }
  hr = handler->AttachThread(m_thread);
  if (FAILED(hr)) return hr;
  return eventBroker->Subscribe(EVENTID_PowerStateChange, handlerEvent.Get());
}

void AutoshutdownEvent::SetDecisionRecord(
    std::shared_ptr<NTarn::DecisionRecord> record) {
  if (m_thread) m_thread->SetDecisionRecord(std::move(record));
}

STDMETHODIMP AutoshutdownEvent::OnAutoshutdown() {
  return NTarn::GuardedHResultCall(
      NTarn::CallSite{".\\AutoshutdownEvent", __LINE__},
      [this] { return StartThread(); });
}

HRESULT AutoshutdownEvent::StartThread() {
  std::shared_ptr<ISMSJobsDetector> detector;
  bool hasPowerStateHandler;
  {
    std::lock_guard guard(*this);
    detector = m_detector;
    hasPowerStateHandler = m_powerStateHandler != nullptr;
  }
  if (!m_thread || !detector) return E_POINTER;
  ReadDebugFlags();

  // Testing and starting are one step: a second event that arrives while
  // this one configures the detector is refused like one that finds the
  // thread running.
  if (m_thread->IsRunning(kRunningProbeMilliseconds) ||
      FAILED(m_thread->ReserveStart())) {
    NTarn::LogMessage(
        "%T: Auto power down thread is already running; exiting...\n");
    return HRESULT_FROM_WIN32(ERROR_SERVICE_ALREADY_RUNNING);
  }
  const HRESULT hr = NTarn::GuardedHResultCall(
      NTarn::CallSite{".\\AutoshutdownEvent", __LINE__},
      [this, detector, hasPowerStateHandler] {
        char jobStates[autopowerdown_keys::kStateListBytes] = "";
        char updateStates[autopowerdown_keys::kStateListBytes] = "";
        DWORD windowMinutes = 0;
        const DWORD flags =
            NTarn::reg_flags::kReadOnly | NTarn::reg_flags::kKeepDefault;
        NTarn::RegGetPolicyParameter(HKEY_LOCAL_MACHINE,
                                     autopowerdown_keys::kSettings,
                                     "AllowedShutdownJobStates", REG_SZ,
                                     jobStates, sizeof(jobStates), flags);
        NTarn::RegGetPolicyParameter(HKEY_LOCAL_MACHINE,
                                     autopowerdown_keys::kSettings,
                                     "AllowedShutdownUpdateStates", REG_SZ,
                                     updateStates, sizeof(updateStates), flags);
        NTarn::RegGetPolicyParameter(
            HKEY_LOCAL_MACHINE, autopowerdown_keys::kSettings,
            "PendingSMSJobWindowMins", REG_DWORD, &windowMinutes,
            sizeof(windowMinutes), flags);
        // The worker's detector follows the windows as the observer does.
        char maintenanceWindows[autopowerdown_keys::kMaintenanceWindowsBytes] =
            "OFF";
        NTarn::RegGetPolicyParameter(
            HKEY_LOCAL_MACHINE, autopowerdown_keys::kSettings,
            "MaintenanceWindows", REG_SZ, maintenanceWindows,
            sizeof(maintenanceWindows), flags);
        maintenanceWindows[autopowerdown_keys::kMaintenanceWindowsBytes - 1] =
            '\0';
        detector->SetMaintenanceWindows(_stricmp(maintenanceWindows, "ON") ==
                                        0);
        jobStates[autopowerdown_keys::kStateListBytes - 1] = '\0';
        updateStates[autopowerdown_keys::kStateListBytes - 1] = '\0';
        std::wstring wideJobStates = NTarn::AnsiToWide(jobStates);
        std::wstring wideUpdateStates = NTarn::AnsiToWide(updateStates);
        HRESULT result = detector->Init(windowMinutes, wideJobStates.data(),
                                        wideUpdateStates.data());
        if (FAILED(result)) return result;
        if (!hasPowerStateHandler) return E_POINTER;
        return m_thread->StartReserved(detector);
      });
  if (FAILED(hr)) m_thread->CancelReservedStart();
  return hr;
}

// The plug-in's voice in the host's power-down decisions: objects while the
// ConfigMgr client runs a deployment or a software update, or has a job due
// within the configured window, and gives the host a reason text.
#pragma once

#include <windows.h>

#include <memory>

#include "common/com/ComObject.h"
#include "jobs/ISMSJobsDetector.h"
#include "observer/ObserverSettings.h"
#include "observer/PowerDownJudgement.h"
#include "contract/HostContract.h"

namespace NTarn {
class DecisionRecord;
struct DecisionEntry;
class ScopedBstr;
}  // namespace NTarn

class PendingJobsPowerDownObserver : public NTarn::ComObjectRoot,
                                     public IPowerDownObserver {
 public:
  using InterfaceMap = NTarn::ComInterfaceMap<IPowerDownObserver>;

  // Makes the detector of one power-down question from the window and the
  // two lists of states to ignore (which it may write into).
  using DetectorFactory = std::unique_ptr<ISMSJobsDetector> (*)(
      DWORD windowMinutes, wchar_t* jobStates, wchar_t* updateStates);
  // The factory of the plug-in: a CSMSJobsDetector.
  static std::unique_ptr<ISMSJobsDetector> MakeDetector(DWORD windowMinutes,
                                                        wchar_t* jobStates,
                                                        wchar_t* updateStates);

  // IPowerDownObserver
  STDMETHOD(GetObserverName)(BSTR* name) override;
  STDMETHOD(QueryPowerDown)
  (IUnknown* host, PowerDownResponse* response, BSTR* reason) override;
  STDMETHOD(QueryPowerDown2)
  (IUnknown* host, PowerDownResponse* response, BSTR* reason) override;
  STDMETHOD(LoadSettings)(DWORD flags) override;
  STDMETHOD(LogStatus)() override;

  // Where every answer is recorded; none until set. Set before the observer
  // is registered with the host.
  void SetDecisionRecord(std::shared_ptr<NTarn::DecisionRecord> record);

 protected:
  // Monitoring "OFF", window 0 and empty lists until LoadSettings, so the
  // observer never objects before the host has loaded its settings.
  explicit PendingJobsPowerDownObserver(
      DetectorFactory makeDetector = &MakeDetector)
      : m_makeDetector(makeDetector) {}
  ~PendingJobsPowerDownObserver() = default;

 private:
  // A consistent copy of the settings, taken under the object lock.
  ObserverSettings CopySettings();
  // The question itself; may raise. Leaves `response` and `reason` alone
  // unless it objects, and describes the answer in `entry`.
  void Decide(PowerDownResponse& response, NTarn::ScopedBstr& reason,
              NTarn::DecisionEntry& entry);
  // The host's answer to `judgement`: the objection with its reason text.
  static void Answer(const PowerDownJudgement& judgement,
                     PowerDownResponse& response, NTarn::ScopedBstr& reason);
  // In report-only mode an objection is only recorded and logged.
  static void WithholdObjection(PowerDownResponse& response,
                                NTarn::ScopedBstr& reason,
                                NTarn::DecisionEntry& entry);
  // Hands a whole entry to the record, if there is one.
  void Record(NTarn::DecisionEntry entry);
  // An answer that needed no judgement: no objection on `ground`.
  void RecordNoObjection(const char* question, const char* ground) noexcept;

  const DetectorFactory m_makeDetector;
  // Written by LoadSettings and by every question on host threads at once:
  // read and written only under the object lock, and only by copy.
  ObserverSettings m_settings;
  std::shared_ptr<NTarn::DecisionRecord> m_record;
};

// A thread whose body waits on a manual-reset stop event that its owners set
// to ask it to finish.
#pragma once

#include <windows.h>

#include <string>

#include "autopowerdown/Thread.h"
#include "common/ScopedHandle.h"

class StoppableThread : public Thread {
 public:
  ~StoppableThread() override;

  // Creates the stop event, unsignalled.
  HRESULT Initialize();

  // Sets the stop event; the body notices it at its next wait.
  void RequestStop();
  // Asks the body to finish and waits until it has.
  void StopAndJoin();

 protected:
  explicit StoppableThread(std::string name);

  HANDLE StopEvent() const { return m_stopEvent.Get(); }

  // A new run starts with the event reset.
  void PrepareRun() override;

 private:
  NTarn::ScopedHandle m_stopEvent;
};

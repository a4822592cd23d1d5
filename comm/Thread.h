// Background threads that hand work to the user-interface thread and wait
// until it has been done there.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "platform/Events.h"

// The user-interface thread runs the calls that threads hand over in
// CheckSynchronize, which the application calls while it processes its
// messages. The wake hook tells the application that a call waits; it is
// called on the handing thread.
void SetSynchronizeWakeHook(std::function<void()> hook);
// Runs every call waiting for the user-interface thread; true when it ran one.
bool CheckSynchronize();

class TThread : public TObject {
 public:
  // Created suspended: the body starts at Resume.
  TThread() = default;
  // Ends the thread first (Terminate and WaitFor); owners of a derived class
  // do that themselves before its own destructor runs.
  ~TThread() override;
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Resume();
  // Asks the body to end. A hand-over the thread waits for is released
  // unrun (or, when it is running, no longer waited for), and nothing it hands
  // over afterwards runs, so the user-interface thread may Terminate and then
  // WaitFor without deadlock.
  void Terminate();
  bool Terminated() const { return terminated; }
  // Waits until the body has returned (when the thread was started).
  void WaitFor();

 protected:
  virtual void Execute() = 0;
  // Runs method on the user-interface thread and waits until it has run; an
  // exception it raises is raised here.
  void Synchronize(const std::function<void()>& method);

 private:
  std::thread thread;
  std::atomic<bool> terminated{false};
  bool handOverClosed = false;  // under the hand-over queue's lock
};

#include "comm/Thread.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

namespace {

struct Call {
  std::function<void()> method;
  TThread* owner;
  std::exception_ptr error;
  bool done = false;
};

std::mutex queueMutex;
std::condition_variable callDone;
std::deque<std::shared_ptr<Call>> waiting;
std::vector<std::shared_ptr<Call>> running;  // may nest: a call can process messages
std::function<void()> wakeHook;

void Finish(Call& call) {
  call.done = true;
  callDone.notify_all();
}

// Releases every call of owner; under queueMutex.
void ReleaseCalls(const TThread* owner) {
  for (const auto& call : running)
    if (call->owner == owner) Finish(*call);
  for (auto it = waiting.begin(); it != waiting.end();) {
    if ((*it)->owner == owner) {
      Finish(**it);
      it = waiting.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace

void SetSynchronizeWakeHook(std::function<void()> hook) {
  std::lock_guard lock(queueMutex);
  wakeHook = std::move(hook);
}

bool CheckSynchronize() {
  bool ran = false;
  for (;;) {
    std::shared_ptr<Call> call;
    {
      std::lock_guard lock(queueMutex);
      if (waiting.empty()) return ran;
      call = waiting.front();
      waiting.pop_front();
      running.push_back(call);
    }
    std::exception_ptr error;
    try {
      call->method();
    } catch (...) {
      error = std::current_exception();
    }
    ran = true;
    std::lock_guard lock(queueMutex);
    running.erase(std::find(running.begin(), running.end(), call));
    if (!call->done) {
      call->error = error;
      Finish(*call);
    }
  }
}

TThread::~TThread() {
  Terminate();
  WaitFor();
}

void TThread::Resume() {
  if (thread.joinable()) return;
  thread = std::thread([this] {
    try {
      Execute();
    } catch (...) {
      // An exception ends the body, and with it the thread; nothing else.
    }
  });
}

void TThread::Terminate() {
  terminated = true;
  std::lock_guard lock(queueMutex);
  handOverClosed = true;
  ReleaseCalls(this);
}

void TThread::WaitFor() {
  if (thread.joinable()) thread.join();
}

void TThread::Synchronize(const std::function<void()>& method) {
  auto call = std::make_shared<Call>(Call{method, this, nullptr});
  std::function<void()> wake;
  {
    std::lock_guard lock(queueMutex);
    if (handOverClosed) return;
    waiting.push_back(call);
    wake = wakeHook;
  }
  if (wake) wake();
  std::unique_lock lock(queueMutex);
  callDone.wait(lock, [&] { return call->done; });
  if (call->error) std::rethrow_exception(call->error);
}

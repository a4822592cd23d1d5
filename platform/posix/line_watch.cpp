#include "platform/posix/line_watch.h"

#include <signal.h>
#include <sys/ioctl.h>

#include <chrono>

#include "platform/posix/comm.h"

namespace {

int RealWaitChange(int fd, int mask) { return ::ioctl(fd, TIOCMIWAIT, mask); }
int RealGetLines(int fd, int* lines) { return ::ioctl(fd, TIOCMGET, lines); }
int RealGetCounters(int fd, serial_icounter_struct* counters) { return ::ioctl(fd, TIOCGICOUNT, counters); }

const LineCalls realCalls{RealWaitChange, RealGetLines, RealGetCounters};
std::atomic<const LineCalls*> calls{&realCalls};

// The signal that ends a blocked call. Its handler does nothing, and is set
// without SA_RESTART, so that the call returns with EINTR.
int WakeSignal() { return SIGRTMIN + 4; }

void Ignore(int) {}

void InstallWakeHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_handler = Ignore;
    sigemptyset(&action.sa_mask);
    sigaction(WakeSignal(), &action, nullptr);
  });
}

}  // namespace

void SetLineCalls(const LineCalls* replacement) { calls = replacement ? replacement : &realCalls; }

const LineCalls& CurrentLineCalls() { return *calls; }

DWORD EventsFromLines(int changed) {
  DWORD events = 0;
  if (changed & TIOCM_CTS) events |= EV_CTS;
  if (changed & TIOCM_DSR) events |= EV_DSR;
  if (changed & TIOCM_RNG) events |= EV_RING;
  if (changed & TIOCM_CAR) events |= EV_RLSD;
  return events;
}

DWORD EventsFromCounters(const serial_icounter_struct& before, const serial_icounter_struct& now) {
  DWORD events = 0;
  if (now.cts != before.cts) events |= EV_CTS;
  if (now.dsr != before.dsr) events |= EV_DSR;
  if (now.rng != before.rng) events |= EV_RING;
  if (now.dcd != before.dcd) events |= EV_RLSD;
  if (now.brk != before.brk) events |= EV_BREAK;
  if (now.frame != before.frame || now.overrun != before.overrun || now.parity != before.parity) events |= EV_ERR;
  return events;
}

DWORD ErrorsFromCounters(const serial_icounter_struct& before, const serial_icounter_struct& now) {
  DWORD errors = 0;
  if (now.frame != before.frame) errors |= CE_FRAME;
  if (now.overrun != before.overrun) errors |= CE_OVERRUN;
  if (now.parity != before.parity) errors |= CE_RXPARITY;
  if (now.brk != before.brk) errors |= CE_BREAK;
  if (now.buf_overrun != before.buf_overrun) errors |= CE_RXOVER;
  return errors;
}

void BlockedCallThread::Start(std::function<void(const std::atomic<bool>& stopping)> body) {
  InstallWakeHandler();
  stopping = false;
  done = false;
  thread = std::thread([this, body = std::move(body)] {
    // The thread inherits its creator's mask, which may block the signal.
    sigset_t wake;
    sigemptyset(&wake);
    sigaddset(&wake, WakeSignal());
    pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
    body(stopping);
    std::lock_guard lock(mutex);
    done = true;
    ended.notify_all();
  });
}

void BlockedCallThread::Stop() {
  if (!thread.joinable()) return;
  stopping = true;
  {
    std::unique_lock lock(mutex);
    while (!done) {
      pthread_kill(thread.native_handle(), WakeSignal());
      ended.wait_for(lock, std::chrono::milliseconds(10));
    }
  }
  thread.join();
}

// The watcher thread and the hand-over of line events, driven from the test
// thread, which plays the user-interface thread by running CheckSynchronize.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>

#include "comm/Comm.h"
#include "comm/Pty.h"
#include "support/CpuTime.h"
#include "support/Raised.h"

namespace {

// Handlers that write down what was called, in order.
class Recorder : public TObject {
 public:
  void Attach(TComm& comm) {
    comm.OnBreak = TNotifyEvent(this, &Recorder::Break);
    comm.OnCts = TNotifyEvent(this, &Recorder::Cts);
    comm.OnDsr = TNotifyEvent(this, &Recorder::Dsr);
    comm.OnRing = TNotifyEvent(this, &Recorder::Ring);
    comm.OnRlsd = TNotifyEvent(this, &Recorder::Rlsd);
    comm.OnError = TCommErrorEvent(this, &Recorder::Error);
    comm.OnRxChar = TCommRxCharEvent(this, &Recorder::RxChar);
    comm.OnRxFlag = TNotifyEvent(this, &Recorder::RxFlag);
    comm.OnTxEmpty = TNotifyEvent(this, &Recorder::TxEmpty);
    comm.OnComStatEvent = TCommStatEvent(this, &Recorder::ComStat);
  }
  void Break(TObject* s) { Note(s, "Break"); }
  void Cts(TObject* s) { Note(s, "Cts"); }
  void Dsr(TObject* s) { Note(s, "Dsr"); }
  void Ring(TObject* s) { Note(s, "Ring"); }
  void Rlsd(TObject* s) { Note(s, "Rlsd"); }
  void Error(TObject* s, int errors) { Note(s, "Error" + std::to_string(errors)); }
  void RxChar(TObject* s, DWORD count) { Note(s, "RxChar" + std::to_string(count)); }
  void RxFlag(TObject* s) { Note(s, "RxFlag"); }
  void TxEmpty(TObject* s) { Note(s, "TxEmpty"); }
  void ComStat(TObject* s, DWORD status, COMSTAT stat) {
    Note(s, "ComStat" + std::to_string(status) + "/" + std::to_string(stat.cbInQue));
  }

  std::string calls;
  TObject* expectedSender = nullptr;
  std::function<void()> during;  // runs inside every handler

 private:
  void Note(TObject* sender, const std::string& call) {
    EXPECT_EQ(sender, expectedSender);
    calls += calls.empty() ? call : " " + call;
    if (during) during();
  }
};

// Runs hand-overs until condition holds (five seconds at most).
bool PumpUntil(const std::function<bool()>& condition) {
  return WaitUntil([&] {
    CheckSynchronize();
    return condition();
  });
}

size_t Entries(const char* directory) {
  size_t n = 0;
  DIR* dir = opendir(directory);
  while (const dirent* e = readdir(dir))
    if (e->d_name[0] != '.') ++n;
  closedir(dir);
  return n;
}

class Watcher : public testing::Test {
 protected:
  void SetUp() override {
    recorder.expectedSender = &comm;
    comm.SetDeviceName(pty.path);
  }
  void TearDown() override { SetSynchronizeWakeHook(nullptr); }

  void WaitForBytes(int n) {
    ASSERT_TRUE(WaitUntil([&] { return comm.InQueCount() == n; }));
  }

  PtyPair pty;
  TComm comm;
  Recorder recorder;
};

TEST_F(Watcher, HandlersRunInTheirOrderWithThePortAsSender) {
  comm.Open();
  recorder.Attach(comm);
  pty.Send("abc");
  WaitForBytes(3);
  const DWORD all = 0x01FF;
  struct Case {
    DWORD status;
    const char* calls;
  };
  for (const Case& c : {
           Case{all, "Break Cts Dsr Error0 Ring Rlsd RxChar3 RxFlag TxEmpty ComStat511/3"},
           Case{EV_RXCHAR | EV_CTS, "Cts RxChar3 ComStat9/3"},
           Case{EV_TXEMPTY | EV_BREAK, "Break TxEmpty ComStat68/3"},
           Case{0, "ComStat0/3"},
       }) {
    recorder.calls.clear();
    comm.HandleCommEvent(nullptr, c.status);
    EXPECT_EQ(recorder.calls, c.calls);
  }
  char buffer[3];
  comm.Read(buffer, 3);
  recorder.calls.clear();
  comm.HandleCommEvent(nullptr, EV_RXCHAR);
  EXPECT_EQ(recorder.calls, "ComStat1/0") << "no OnRxChar when the bytes are gone";
}

TEST_F(Watcher, ArrivalsReachTheHandlersOnTheDrivingThreadOnce) {
  comm.SetMonitorEvents({evRxChar});
  comm.Open();
  recorder.Attach(comm);
  const auto driver = std::this_thread::get_id();
  recorder.during = [&] { EXPECT_EQ(std::this_thread::get_id(), driver); };
  pty.Send("hello");
  ASSERT_TRUE(PumpUntil([&] { return !recorder.calls.empty(); }));
  EXPECT_EQ(recorder.calls, "RxChar5 ComStat1/5");
  // The bytes still wait but nothing new arrived: no second report.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(CheckSynchronize());
  pty.Send("!");
  ASSERT_TRUE(PumpUntil([&] { return recorder.calls.size() > 20; }));
  EXPECT_EQ(recorder.calls, "RxChar5 ComStat1/5 RxChar6 ComStat1/6");
}

TEST_F(Watcher, AHandlerErrorEndsTheWatcherAndThePortGoesOn) {
  comm.Open();
  recorder.Attach(comm);
  int raised = 0;
  recorder.during = [&] {
    ++raised;
    throw std::runtime_error("handler failed");
  };
  pty.Send("a");
  ASSERT_TRUE(PumpUntil([&] { return raised == 1; }));
  EXPECT_EQ(recorder.calls, "RxChar1") << "the error ends the dispatch";
  pty.Send("b");
  WaitForBytes(2);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(CheckSynchronize()) << "no watcher is left to report";
  EXPECT_EQ(raised, 1);
  char buffer[2];
  EXPECT_EQ(comm.Read(buffer, 2), 2);
  EXPECT_EQ(comm.Write("c", 1), 1);
  EXPECT_EQ(pty.Receive(1), "c");
  comm.Close();
  EXPECT_FALSE(comm.Enabled());
}

TEST_F(Watcher, CloseReleasesAWatcherWaitingForTheHandOver) {
  std::mutex m;
  std::condition_variable queued;
  bool waiting = false;
  SetSynchronizeWakeHook([&] {
    std::lock_guard lock(m);
    waiting = true;
    queued.notify_all();
  });
  comm.Open();
  recorder.Attach(comm);
  pty.Send("x");
  {
    std::unique_lock lock(m);
    ASSERT_TRUE(queued.wait_for(lock, std::chrono::seconds(5), [&] { return waiting; }));
  }
  comm.Close();
  EXPECT_FALSE(comm.Enabled());
  EXPECT_FALSE(CheckSynchronize()) << "the event on its way is dropped";
  EXPECT_EQ(recorder.calls, "");
}

// A watcher whose terminated flag ends its loop purges the port on its
// way out, both queues; one that the port's Close abandons leaves them, since
// the purge would throw away a transfer's final ESC before it left.
TEST(WatcherThread, OnlyATerminatedWatcherPurgesThePort) {
  PtyPair pty;
  const HANDLE port = CreateFileA(pty.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  DCB dcb{};
  ASSERT_TRUE(GetCommState(port, &dcb) && SetCommState(port, &dcb));  // raw: every byte counts at once
  const auto waiting = [&] {
    COMSTAT stat{};
    ClearCommError(port, nullptr, &stat);
    return stat.cbInQue;
  };
  std::atomic<bool> handingOver = false;
  SetSynchronizeWakeHook([&] { handingOver = true; });
  for (const bool abandoned : {false, true}) {
    handingOver = false;
    TCommEventThread watcher(port, {evRxChar}, 5);
    watcher.Resume();
    pty.Send("abc");
    ASSERT_TRUE(WaitUntil([&] { return handingOver && waiting() == 3; }));
    // The hand-over is released unrun, and the loop ends.
    if (abandoned)
      watcher.Abandon();
    else
      watcher.Terminate();
    watcher.WaitFor();
    EXPECT_EQ(waiting(), abandoned ? 3u : 0u) << "abandoned " << abandoned;
  }
  SetSynchronizeWakeHook(nullptr);
  CloseHandle(port);
}

// A wait can fail while the device is there (on Windows a receive error
// under fAbortOnError does, until ClearCommError; here another wait is
// pending): the watcher waits again and hands over what comes next.
TEST(WatcherThread, AFailedWaitOfAPresentDeviceIsWaitedAgain) {
  PtyPair pty;
  const HANDLE port = CreateFileA(pty.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  DCB dcb{};
  ASSERT_TRUE(GetCommState(port, &dcb) && SetCommState(port, &dcb));
  std::atomic<bool> handingOver = false;
  SetSynchronizeWakeHook([&] { handingOver = true; });
  TCommEventThread watcher(port, {evRxChar}, 5);
  const HANDLE signalled = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  OVERLAPPED other{};
  other.hEvent = signalled;
  DWORD mask = 0;
  ASSERT_FALSE(WaitCommEvent(port, &mask, &other));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  watcher.Resume();  // its waits fail while the other one is pending
  EXPECT_LT(CpuShareWhile([] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }), 0.2)
      << "the failing waits spin";
  pty.Send("a");
  ASSERT_EQ(WaitForSingleObject(signalled, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(mask, static_cast<DWORD>(EV_RXCHAR));
  EXPECT_FALSE(handingOver);
  pty.Send("b");  // only the watcher waits now
  EXPECT_TRUE(WaitUntil([&] { return handingOver.load(); })) << "the watcher ended at its failed wait";
  watcher.Abandon();
  watcher.WaitFor();
  SetSynchronizeWakeHook(nullptr);
  CloseHandle(signalled);
  CloseHandle(port);
}

TEST_F(Watcher, AHandlerThatClosesThePortEndsTheDispatch) {
  comm.Open();
  recorder.Attach(comm);
  recorder.during = [&] { comm.Close(); };
  pty.Send("x");
  ASSERT_TRUE(PumpUntil([&] { return !recorder.calls.empty(); }));
  EXPECT_EQ(recorder.calls, "RxChar1");
  EXPECT_FALSE(comm.Enabled());
  // The port opens again with a new watcher.
  recorder.during = nullptr;
  recorder.calls.clear();
  comm.Open();
  pty.Send("y");
  ASSERT_TRUE(PumpUntil([&] { return !recorder.calls.empty(); }));
  EXPECT_EQ(recorder.calls.rfind("RxChar", 0), 0u) << recorder.calls;
}

// The device goes while the watcher waits for its next event: the watcher
// and the line's watch end by themselves, nothing is handed over, nothing
// spins, and every use of the port says why it fails until Close.
TEST_F(Watcher, AVanishedDeviceEndsTheWatcherAndEveryUseRaises) {
  comm.Open();  // the first open sets up what lives for the whole run (a sanitizer's thread)
  comm.Close();
  const size_t threads = Entries("/proc/self/task");
  comm.Open();
  recorder.Attach(comm);
  pty.Send("a");
  ASSERT_TRUE(PumpUntil([&] { return !recorder.calls.empty(); }));
  recorder.calls.clear();
  ASSERT_GT(Entries("/proc/self/task"), threads);

  pty.Vanish();
  EXPECT_TRUE(PumpUntil([&] { return Entries("/proc/self/task") == threads; })) << "the threads stay";
  const double share = CpuShareWhile([] {
    for (int i = 0; i < 100; ++i) {
      CheckSynchronize();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  EXPECT_LT(share, kAtRest);
  EXPECT_EQ(recorder.calls, "") << "a failed wait is no event";

  const std::string gone = "ClearCommError failure (Error: 22)";
  char buffer[1];
  EXPECT_EQ(RaisedBy([&] { comm.InQueCount(); }), gone);
  EXPECT_EQ(RaisedBy([&] { comm.OutQueCount(); }), gone);
  EXPECT_EQ(RaisedBy([&] { comm.Read(buffer, 1); }), gone);
  EXPECT_EQ(RaisedBy([&] { comm.Write("x", 1); }), gone);
  EXPECT_TRUE(comm.Enabled()) << "the port stays open until it is closed";
  comm.Close();
  EXPECT_FALSE(comm.Enabled());
  EXPECT_EQ(comm.InQueCount(), -1);
  EXPECT_EQ(Entries("/proc/self/task"), threads);
}

TEST_F(Watcher, ManyOpenCloseCyclesWithEventsLeaveNothingBehind) {
  recorder.Attach(comm);
  comm.Open();  // the first open sets up what lives for the whole run
  comm.Close();
  const size_t descriptors = Entries("/proc/self/fd"), threads = Entries("/proc/self/task");
  int handled = 0;
  recorder.during = [&] { ++handled; };
  for (int cycle = 0; cycle < 1000; ++cycle) {
    comm.Open();
    ASSERT_TRUE(comm.Enabled()) << cycle;
    pty.Send("e");
    if (cycle % 2 == 0) {
      const int before = handled;
      ASSERT_TRUE(PumpUntil([&] { return handled > before; })) << cycle;
    } else {
      CheckSynchronize();  // the event may be on its way while Close runs
    }
    comm.PurgeIn();
    comm.Close();
  }
  EXPECT_FALSE(CheckSynchronize());
  EXPECT_EQ(Entries("/proc/self/fd"), descriptors);
  EXPECT_EQ(Entries("/proc/self/task"), threads);
}

// The threads of this process.
std::set<std::string> Tasks() {
  std::set<std::string> tasks;
  DIR* dir = opendir("/proc/self/task");
  while (const dirent* e = readdir(dir))
    if (e->d_name[0] != '.') tasks.insert(e->d_name);
  closedir(dir);
  return tasks;
}

// A file of a thread in /proc ("wchan": where it sleeps), empty once the
// thread has ended.
std::string TaskFile(const std::string& task, const char* name) {
  std::string text;
  const int fd = open(("/proc/self/task/" + task + "/" + name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  close(fd);
  return text;
}

// The times a thread gave up the processor to wait.
std::string VoluntarySwitches(const std::string& task) {
  const std::string status = TaskFile(task, "status"), field = "voluntary_ctxt_switches:";
  const size_t at = status.find(field);
  return at == std::string::npos ? "" : status.substr(at + field.size(), status.find('\n', at) - at - field.size());
}

// A transfer's traffic, blocks one way and single bytes the other, with no
// handler and none of its events watched: the watcher sleeps through it
// (each wake-up would be a voluntary switch once it sleeps again), and
// wakes for the hang-up, which ends it.
TEST_F(Watcher, UnwatchedEventsNeverWakeTheWatcher) {
  comm.SetMonitorEvents({evCts});
  const std::set<std::string> before = Tasks();
  comm.Open();
  ASSERT_TRUE(comm.Enabled());
  // The new thread that sleeps in its wait: a sanitizer may start threads
  // of its own with the first one.
  std::string watcher;
  ASSERT_TRUE(WaitUntil([&] {
    for (const std::string& task : Tasks())
      if (!before.count(task) && TaskFile(task, "wchan") == "do_epoll_wait") watcher = task;
    return !watcher.empty();
  }));
  const std::string switches = VoluntarySwitches(watcher);
  const std::string block(258, '\x55');
  char buffer[258];
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(comm.Write("\x06", 1), 1);
    ASSERT_EQ(pty.Receive(1), "\x06");
    pty.Send(block);
    ASSERT_TRUE(PumpUntil([&] { return comm.InQueCount() == 258; }));
    ASSERT_EQ(comm.Read(buffer, 258), 258);
  }
  EXPECT_EQ(VoluntarySwitches(watcher), switches) << "the watcher woke for unwatched events";
  pty.Vanish();
  EXPECT_TRUE(WaitUntil([&] { return TaskFile(watcher, "status").empty(); })) << "the hang-up did not end the watcher";
}

}  // namespace

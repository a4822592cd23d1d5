// Process identity and priority classes. Each test may leave this process at
// idle priority, so these run in a test program of their own.
#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>
#include <thread>

#include "platform/Priority.h"
#include "platform/winapi.h"

namespace {

pid_t threadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

int niceOf(pid_t tid) {
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
  return nice == -1 && errno != 0 ? 1000 : nice;
}

// Runs fn in a forked copy of this process and gives its exit code (or -1
// when it did not exit). The copy has one thread, so fn may allocate.
int inChild(const std::function<int()>& fn) {
  const pid_t pid = fork();
  if (pid == 0) _exit(fn());
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Gives up CAP_SYS_NICE, as an unprivileged process (or root in most
// containers) runs.
bool dropSysNice() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  data[CAP_SYS_NICE / 32].effective &= ~(1u << (CAP_SYS_NICE % 32));
  data[CAP_SYS_NICE / 32].permitted &= ~(1u << (CAP_SYS_NICE % 32));
  return syscall(SYS_capset, &header, data) == 0;
}

// Capabilities belong to each thread and dropSysNice changes only the caller.
// A thread started before it (a sanitizer's helper) keeps CAP_SYS_NICE, and
// the kernel then refuses any change of its nice value by the others.
bool everyThreadLacksSysNice() {
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream status(task.path() / "status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind("CapPrm:", 0) == 0 && (std::strtoull(line.c_str() + 7, nullptr, 16) >> CAP_SYS_NICE & 1))
        return false;
  }
  return true;
}

// Whether nice 19 can really be undone here, by trying it.
bool canComeBackFromIdle() {
  if (setpriority(PRIO_PROCESS, 0, 19) != 0) return false;
  return setpriority(PRIO_PROCESS, 0, 0) == 0;
}

// A thread that waits until told to end, reporting its thread id.
class Sleeper {
 public:
  Sleeper() : thread([this] {
    tid = threadId();
    while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }) {
    while (tid == 0) std::this_thread::yield();
  }
  ~Sleeper() {
    stop = true;
    thread.join();
  }
  std::atomic<pid_t> tid{0};

 private:
  std::atomic<bool> stop{false};
  std::thread thread;
};

TEST(ProcessIdentity, CurrentProcessIdIsThePid) {
  EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
}

TEST(ProcessIdentity, PseudoHandleClosesHarmlessly) {
  EXPECT_EQ(GetCurrentProcess(), reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)));
  EXPECT_TRUE(CloseHandle(GetCurrentProcess()));
  EXPECT_NE(GetPriorityClass(GetCurrentProcess()), 0u);  // still usable afterwards
}

TEST(ProcessIdentity, OpenOwnProcessGivesAHandleThatCloses) {
  const HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, GetCurrentProcessId());
  ASSERT_NE(process, nullptr);
  EXPECT_NE(process, GetCurrentProcess());
  EXPECT_EQ(GetPriorityClass(process), GetPriorityClass(GetCurrentProcess()));
  EXPECT_TRUE(CloseHandle(process));
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(CloseHandle(process));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GetPriorityClass(process), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(ProcessIdentity, OpenMissingProcessFails) {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(OpenProcess(PROCESS_ALL_ACCESS, FALSE, static_cast<DWORD>(child)), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(OpenProcess(PROCESS_ALL_ACCESS, FALSE, 0x7FFFFFF0u), nullptr);  // beyond any pid_max
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(OpenProcess(PROCESS_ALL_ACCESS, FALSE, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(PriorityClass, UnknownClassOrHandleIsRefused) {
  const int before = niceOf(threadId());
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(SetPriorityClass(GetCurrentProcess(), 0x1234));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS | NORMAL_PRIORITY_CLASS));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(SetPriorityClass(reinterpret_cast<HANDLE>(0x7770), IDLE_PRIORITY_CLASS));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(niceOf(threadId()), before);
}

TEST(PriorityClass, IdleReachesEveryThreadAndComesBackOnlyWhenAllowed) {
  if (niceOf(threadId()) != 0) GTEST_SKIP() << "the test process does not start at nice 0";
  ASSERT_EQ(GetPriorityClass(GetCurrentProcess()), NORMAL_PRIORITY_CLASS);
  Sleeper running;
  ASSERT_EQ(niceOf(running.tid), 0);

  ASSERT_TRUE(SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS));
  EXPECT_EQ(niceOf(threadId()), 19);
  EXPECT_EQ(niceOf(running.tid), 19);
  EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), IDLE_PRIORITY_CLASS);
  {
    Sleeper later;  // made after the change: inherits it
    EXPECT_EQ(niceOf(later.tid), 19);
  }

  const bool reversible = PriorityClassReversible();
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS), reversible ? TRUE : FALSE);
  if (reversible) {
    EXPECT_EQ(niceOf(threadId()), 0);
    EXPECT_EQ(niceOf(running.tid), 0);
    EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), NORMAL_PRIORITY_CLASS);
  } else {
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(niceOf(threadId()), 19);
    EXPECT_EQ(niceOf(running.tid), 19);
    EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), IDLE_PRIORITY_CLASS);
  }
}

TEST(PriorityClass, ClassesMapToNiceValuesAndBack) {
  if (niceOf(threadId()) != 0) GTEST_SKIP() << "the test process does not start at nice 0";
  // Run in a copy so that this process keeps its priority whatever happens.
  const int failed = inChild([] {
    const bool privileged = PriorityClassReversible();
    const struct {
      DWORD priorityClass;
      int nice;
    } classes[] = {{HIGH_PRIORITY_CLASS, -10},        {REALTIME_PRIORITY_CLASS, -20}, {ABOVE_NORMAL_PRIORITY_CLASS, -5},
                   {NORMAL_PRIORITY_CLASS, 0},        {BELOW_NORMAL_PRIORITY_CLASS, 10}, {IDLE_PRIORITY_CLASS, 19}};
    int step = 0;
    for (const auto& c : classes) {
      ++step;
      if (c.nice < 0 && !privileged) continue;
      if (!SetPriorityClass(GetCurrentProcess(), c.priorityClass)) return step;
      if (niceOf(threadId()) != c.nice) return 10 + step;
      if (GetPriorityClass(GetCurrentProcess()) != c.priorityClass) return 20 + step;
    }
    // Values set by other means fall in the band of the nearest class.
    const struct {
      int nice;
      DWORD priorityClass;
    } bands[] = {{15, IDLE_PRIORITY_CLASS}, {14, BELOW_NORMAL_PRIORITY_CLASS}, {5, BELOW_NORMAL_PRIORITY_CLASS},
                 {4, NORMAL_PRIORITY_CLASS}};
    for (const auto& b : bands) {
      ++step;
      if (!privileged) break;
      setpriority(PRIO_PROCESS, 0, b.nice);
      if (GetPriorityClass(GetCurrentProcess()) != b.priorityClass) return 30 + step;
    }
    return 0;
  });
  EXPECT_EQ(failed, 0);
}

TEST(PriorityClass, ReversibleMatchesWhatTheSystemAllows) {
  if (niceOf(threadId()) != 0) GTEST_SKIP() << "the test process does not start at nice 0";
  // As this process stands.
  EXPECT_EQ(inChild([] { return PriorityClassReversible() ? 1 : 0; }), inChild([] { return canComeBackFromIdle() ? 1 : 0; }));
}

TEST(PriorityClass, WithoutTheRightIdleIsForGood) {
  if (niceOf(threadId()) != 0) GTEST_SKIP() << "the test process does not start at nice 0";
  const int result = inChild([] {
    if (!dropSysNice()) return 90;
    if (!everyThreadLacksSysNice()) return 77;
    const rlimit none{0, 0};
    if (setrlimit(RLIMIT_NICE, &none) != 0) return 91;
    if (PriorityClassReversible()) return 1;
    Sleeper running;
    // Through a handle of its own, as other code of the program might.
    const HANDLE self = OpenProcess(PROCESS_ALL_ACCESS, FALSE, GetCurrentProcessId());
    if (!self) return 2;
    if (!SetPriorityClass(self, IDLE_PRIORITY_CLASS)) return 3;
    if (niceOf(running.tid) != 19) return 8;
    SetLastError(ERROR_SUCCESS);
    if (SetPriorityClass(self, NORMAL_PRIORITY_CLASS)) return 4;
    if (GetLastError() != ERROR_ACCESS_DENIED) return 5;
    if (GetPriorityClass(self) != IDLE_PRIORITY_CLASS || niceOf(threadId()) != 19) return 6;
    if (niceOf(running.tid) != 19) return 9;
    CloseHandle(self);
    // The system agrees: the lowering cannot be undone by any means.
    return setpriority(PRIO_PROCESS, 0, 0) == 0 ? 7 : 0;
  });
  if (result == 77) GTEST_SKIP() << "a thread of the test's own runtime keeps CAP_SYS_NICE";
  EXPECT_EQ(result, 0);
}

TEST(PriorityClass, NiceLimitAloneMakesItReversible) {
  if (niceOf(threadId()) != 0) GTEST_SKIP() << "the test process does not start at nice 0";
  const int result = inChild([] {
    // Raising the hard limit needs CAP_SYS_RESOURCE, so try before letting go
    // of anything.
    const rlimit enough{20, 20};
    if (setrlimit(RLIMIT_NICE, &enough) != 0) return 77;
    if (!dropSysNice()) return 90;
    if (!everyThreadLacksSysNice()) return 78;
    if (!PriorityClassReversible()) return 1;
    if (!SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS)) return 2;
    if (!SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS)) return 3;
    if (niceOf(threadId()) != 0) return 4;
    // One step short of nice 0 is not enough.
    const rlimit almost{19, 19};
    if (setrlimit(RLIMIT_NICE, &almost) != 0) return 91;
    if (PriorityClassReversible()) return 5;
    return canComeBackFromIdle() ? 6 : 0;
  });
  if (result == 77) GTEST_SKIP() << "RLIMIT_NICE cannot be raised here";
  if (result == 78) GTEST_SKIP() << "a thread of the test's own runtime keeps CAP_SYS_NICE";
  EXPECT_EQ(result, 0);
}

}  // namespace

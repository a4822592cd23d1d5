#include <gtest/gtest.h>

#include "platform/Events.h"

namespace {

struct Listener {
  TObject* lastSender = nullptr;
  int calls = 0;
  void Changed(TObject* sender) {
    lastSender = sender;
    ++calls;
  }
  void Other(TObject*) { calls += 100; }
};

TEST(Events, CalledOnlyWhenAssignedWithTheSender) {
  TNotifyEvent empty;
  EXPECT_FALSE(empty);
  TObject sender;
  empty(&sender);  // nothing assigned: nothing happens

  Listener listener;
  TNotifyEvent event(&listener, &Listener::Changed);
  ASSERT_TRUE(event);
  event(&sender);
  EXPECT_EQ(listener.calls, 1);
  EXPECT_EQ(listener.lastSender, &sender);
}

TEST(Events, EqualOnlyForTheSameObjectAndMethod) {
  Listener a, b;
  EXPECT_EQ(TNotifyEvent(&a, &Listener::Changed), TNotifyEvent(&a, &Listener::Changed));
  EXPECT_FALSE(TNotifyEvent(&a, &Listener::Changed) == TNotifyEvent(&b, &Listener::Changed));
  EXPECT_FALSE(TNotifyEvent(&a, &Listener::Changed) == TNotifyEvent(&a, &Listener::Other));
  EXPECT_FALSE(TNotifyEvent(&a, &Listener::Changed) == TNotifyEvent());
  EXPECT_EQ(TNotifyEvent(), TNotifyEvent());
}

}  // namespace

#include "platform/winapi.h"

namespace {

struct Signalled : KernelObject {
  int* destroyed;
  explicit Signalled(int* d) : destroyed(d) {}
  ~Signalled() override { ++*destroyed; }
  DWORD Wait(DWORD) override { return WAIT_OBJECT_0; }
};

TEST(Handles, OpenUntilClosedAndNeverReused) {
  int destroyed = 0;
  HANDLE h = MakeHandle(std::make_shared<Signalled>(&destroyed));
  EXPECT_EQ(WaitForSingleObject(h, INFINITE), WAIT_OBJECT_0);
  EXPECT_NE(ObjectFromHandleAs<Signalled>(h), nullptr);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(destroyed, 1);
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_FAILED);
  HANDLE next = MakeHandle(std::make_shared<Signalled>(&destroyed));
  EXPECT_NE(next, h);
  CloseHandle(next);
}

TEST(Handles, WaitingOnAPlainObjectFails) {
  HANDLE h = MakeHandle(std::make_shared<KernelObject>());
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  CloseHandle(h);
}

}  // namespace

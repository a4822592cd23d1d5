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

// The application object keeps the toolkit's own command-line options out.
#include <gtest/gtest.h>

#include "app/Application.h"

namespace {

TEST(Application, ToolkitOptionsDoNotReachQt) {
  const char* args[] = {"Talvorin", "-reverse", "-qwindowtitle", "Other", nullptr};
  TApplication application(4, const_cast<char**>(args));
  EXPECT_EQ(QApplication::layoutDirection(), Qt::LeftToRight);
  EXPECT_EQ(QApplication::arguments(), QStringList{QStringLiteral("Talvorin")});
}

}  // namespace

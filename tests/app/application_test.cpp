// The application object keeps the toolkit's own command-line options out and
// installs the program's policies in the platform layer.
#include <gtest/gtest.h>

#include "app/Application.h"
#include "comm/Pty.h"
#include "platform/winapi.h"
#include "support/TempDir.h"

namespace {

TEST(Application, ToolkitOptionsDoNotReachQt) {
  const char* args[] = {"Talvorin", "-reverse", "-qwindowtitle", "Other", nullptr};
  TApplication application(4, const_cast<char**>(args));
  EXPECT_EQ(QApplication::layoutDirection(), Qt::LeftToRight);
  EXPECT_EQ(QApplication::arguments(), QStringList{QStringLiteral("Talvorin")});
}

TEST(Application, ComNamesLeadWhereTheSettingsFileSays) {
  PtyPair pty;
  Installation install;
  install.write("Talvorin.ini", "[COM devices]\r\nCOM3=" + pty.path + "\r\n");
  const char* args[] = {"Talvorin", nullptr};
  TApplication application(1, const_cast<char**>(args));
  const HANDLE port = CreateFileA("COM3", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_EQ(GetFileType(port), FILE_TYPE_CHAR);
  CloseHandle(port);
}

}  // namespace

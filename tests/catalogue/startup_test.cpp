// The catalogue at start-up, the Change command that shows the dialog, and the
// main window's close request that releases the catalogue.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <cstdio>

#include "app/Application.h"
#include "app/Main.h"
#include "app/Startup.h"
#include "catalogue/Select.h"
#include "platform/winapi.h"
#include "support/MessageRecorder.h"
#include "support/TempDir.h"

namespace {

const char* const ExampleCatalogue =
    "Device list\r\n[Alpha]\r\nAX100=ax100.bin;3;0\r\nAX200=ax200.bin;3;1\r\n[Beta]\r\nB17=sub\\b17.bin;12;255\r\n";

void installExample(const Installation& install) {
  install.write("Devices/Devices.lst", ExampleCatalogue);
  for (const char* image : {"ax100.bin", "ax200.bin", "b17.bin"}) install.write(std::string("programs/") + image, "x");
}

// Creates the forms as the program starts; the text of an error that
// escapes, or nothing.
std::string CreateFormsEscaping() {
  try {
    CreateForms();
  } catch (const std::exception& e) {
    return e.what();
  }
  return std::string();
}

struct StartupCase {
  const char* what;
  const char* catalogue;  // nullptr: no file
  unsigned mode;
  const char* message;  // shown with caption "ERROR ! "; nullptr: none
  const char* error;    // the error that escapes start-up, before the catalogue's path
  const char* device;   // selected once started without a message
};

const char* const NotExist = "\"Device.lst\" is not exist.";
const char* const WrongFormat = "\"Device.lst\" is written in wrong format.";

const StartupCase StartupCases[] = {
    {"the example", ExampleCatalogue, 0644, nullptr, nullptr, "AX100"},
    {"no catalogue", nullptr, 0644, NotExist, nullptr, ""},
    {"a line of three blanks", "[Alpha]\r\nAX100=a.bin;3;0\r\n   \r\nAX200=b.bin;3;1\r\n", 0644, WrongFormat, nullptr,
     ""},
    {"the first vendor's first device has a bad number",
     "[Beta]\r\nB17=b.bin;1;2\r\n[Alpha]\r\nAX200=a.bin;1;2\r\nAX100=a.bin;bad;0\r\n", 0644, WrongFormat, nullptr, ""},
    {"the first vendor's first device names no program", "[Alpha]\r\nAX100=  \t\r\n", 0644, WrongFormat, nullptr,
     ""},
    {"a bad device that is not the first", "[Beta]\r\nB17=b.bin;1;\r\n[Alpha]\r\nAX100=a.bin;1;2\r\n", 0644, nullptr,
     nullptr, "AX100"},
    {"a device line without \"=\" sorts first with its empty name", "[A]\r\nb1=b.bin;1;2\r\nx.bin;3;4\r\n", 0644,
     nullptr, nullptr, ""},
    {"no header line", "Device list\r\nAX100=a.bin;1;2\r\n", 0644, nullptr, nullptr, ""},
    {"a first vendor without devices", "[A]\r\n[B]\r\nb1=b.bin;1;2\r\n", 0644, nullptr, nullptr, ""},
    {"empty lines only", "[A]\r\n\r\na1=a.bin;1;2\n\n", 0644, nullptr, nullptr, "a1"},
    {"an unreadable file", ExampleCatalogue, 0200, nullptr, "Cannot open file ", ""},
    {"a read-only file with empty lines", "[A]\r\n\r\na1=a.bin;1;2\r\n", 0444, nullptr, "Cannot create file ", ""},
    {"a read-only file without empty lines", "[A]\r\na1=a.bin;1;2\r\n", 0444, nullptr, nullptr, "a1"},
};

// Runs start-up and compares what happens with the case; differences go to
// stderr. Termination is process-wide, so each case runs in a process of its
// own.
bool startupBehaves(const StartupCase& c) {
  bool ok = true;
  auto expect = [&](bool held, const std::string& what) {
    if (!held) std::fprintf(stderr, "%s: %s\n", c.what, what.c_str());
    ok = ok && held;
  };
  Installation install;
  if (c.catalogue) {
    install.write("Devices/Devices.lst", c.catalogue);
    install.chmod("Devices/Devices.lst", c.mode);
  }
  MessageRecorder recorder;
  const std::string escaped = CreateFormsEscaping();
  const std::string path = install.file("Devices/Devices.lst");
  expect(escaped == (c.error ? c.error + path : ""), "escaped error \"" + escaped + "\"");
  expect(ApplicationTerminated() == (c.message != nullptr), "termination requested");
  expect(recorder.messages.size() == (c.message ? 1u : 0u),
         "messages shown: " + std::to_string(recorder.messages.size()));
  if (c.message && recorder.messages.size() == 1) {
    expect(recorder.messages[0].text == c.message, "message \"" + recorder.messages[0].text + "\"");
    expect(recorder.messages[0].caption == "ERROR ! ", "caption \"" + recorder.messages[0].caption + "\"");
    expect(recorder.messages[0].flags == (MB_OK | MB_ICONSTOP), "icon");
  }
  if (!c.error) {
    expect(MainForm && SelectForm && SelectForm->parentWidget() == MainForm, "windows created in order");
    if (SelectForm && !c.message) expect(SelectForm->SelectedDevice == c.device, "device \"" + SelectForm->SelectedDevice + "\"");
  }
  DestroyForms();
  return ok;
}

TEST(CatalogueStartup, MessagesAndTermination) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const auto& c : StartupCases) {
    EXPECT_EXIT(
        {
          const bool ok = startupBehaves(c);
          std::fflush(stderr);
          _exit(ok ? 0 : 1);
        },
        testing::ExitedWithCode(0), "")
        << c.what;
  }
}

// A FIFO in the catalogue's place is refused like an unreadable file, at
// once: nothing waits for a writer to come.
TEST(CatalogueStartup, AFifoIsNoCatalogue) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        alarm(10);  // a start-up that hangs ends here instead of holding up the suite
        Installation install;
        installExample(install);
        const std::string path = install.file("Devices/Devices.lst");
        const bool made = std::remove(path.c_str()) == 0 && mkfifo(path.c_str(), 0644) == 0;
        MessageRecorder recorder;
        const std::string escaped = CreateFormsEscaping();
        DestroyForms();
        _exit(made && escaped == "Cannot open file " + path && recorder.messages.empty() ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST(CatalogueStartup, EmptyLinesAreDroppedFromTheFile) {
  Installation install;
  install.write("Devices/Devices.lst", "[A]\n\na1=a.bin;1;2\n\n");
  CreateForms();
  EXPECT_EQ(install.read("Devices/Devices.lst"), "[A]\r\na1=a.bin;1;2\r\n");
  DestroyForms();
}

TEST(ChangeCommand, ShowsTheSelectionDialogModally) {
  Installation install;
  installExample(install);
  MessageRecorder recorder;  // device setup reports the missing "prnport.cfg"
  CreateForms();
  MainForm->show();
  QWidget* shown = nullptr;
  QTimer::singleShot(0, [&] {
    shown = QApplication::activeModalWidget();
    QTest::keyPress(SelectForm->SelectEdit, Qt::Key_Return);
  });
  MainForm->Change1->trigger();
  EXPECT_EQ(shown, SelectForm);
  EXPECT_FALSE(SelectForm->isVisible());
  EXPECT_EQ(SelectForm->SelectedDevice, "AX100");
  // The confirmed device reached the main window.
  EXPECT_EQ(MainForm->PanelText(0), "AX100");
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0].caption, "Error.");

  // Confirmed only with a device whose image exists.
  QTimer::singleShot(0, [] { QTest::keyPress(SelectForm->ListBox1, Qt::Key_Return); });
  EXPECT_TRUE(SelectForm->Execute());
  QTimer::singleShot(0, [] { QTest::keyPress(SelectForm->ListBox1, Qt::Key_Escape); });
  EXPECT_FALSE(SelectForm->Execute());
  DestroyForms();
}

TEST(MainWindowClose, ReleasesTheCatalogueOnceHoweverOftenAsked) {
  Installation install;
  installExample(install);
  CreateForms();
  ASSERT_NE(SelectForm->CatalogueLines, nullptr);
  EXPECT_EQ(SelectForm->CatalogueLines->size(), 6u);
  for (int request = 0; request < 3; ++request) {
    bool canClose = false;
    MainForm->FormCloseQuery(canClose);
    EXPECT_TRUE(canClose);
    EXPECT_EQ(SelectForm->CatalogueLines, nullptr);
  }
  DestroyForms();
}

}  // namespace

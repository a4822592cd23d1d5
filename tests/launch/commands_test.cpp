// Device > Change after a confirmed device and Action > QELT, through the
// main window, on real files and with a real stand-in for the tool.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QTest>
#include <QWindow>
#include <filesystem>
#include <memory>

#include "LaunchSupport.h"
#include "app/Main.h"
#include "forms/MessageBoxes.h"
#include "platform/Hooks.h"
#include "platform/winapi.h"
#include "support/MessageRecorder.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

const char* const Prnport = "[port]\r\naddress=1\r\n[Recent]\r\nFile0=old\r\nFile1=older\r\n";

std::string eeprom(unsigned char byte1, unsigned char byte6) {
  std::string image(4096, '\xFF');
  image[1] = static_cast<char>(byte1);
  image[6] = static_cast<char>(byte6);
  return image;
}

// An installation with two program images and "prnport.cfg".
struct ProgramsInstall : Installation {
  ProgramsInstall() {
    write("programs/at90s2313.bin", "2313 image");
    write("programs/w78e52.bin", "w78e52 image");
    write("prnport.cfg", Prnport);
  }
  std::string program(const std::string& name) const { return file("programs/" + name); }
};

TEST(DeviceSetup, TwoDevicesInARow) {
  ProgramsInstall install;
  TMainForm form;
  MessageRecorder recorder;
  struct Step {
    const char* device;
    const char* image;
    int number1, number6;  // as the catalogue gives them
    unsigned char byte1, byte6;
  };
  const Step steps[] = {{"AT90S2313", "at90s2313.bin", 3, 255, 0x03, 0xFF},
                        {"W78E52", "w78e52.bin", 300, -1, 0x2C, 0xFF}};
  for (const auto& s : steps) {
    form.SetupDevice(s.device, install.program(s.image), static_cast<std::uint8_t>(s.number1),
                     static_cast<std::uint8_t>(s.number6));
    EXPECT_EQ(install.read("programs/eeprom.bin"), eeprom(s.byte1, s.byte6)) << s.device;
    EXPECT_EQ(install.read("Talvorin.AVR"), ProjectText(install.program("eeprom.bin"), install.program(s.image)));
    EXPECT_EQ(install.read("prnport.cfg"),
              "[port]\r\naddress=1\r\n[Recent]\r\nFile0=" + install.file("Talvorin.AVR") + "\r\n");
    EXPECT_EQ(form.PanelText(0), s.device);
    EXPECT_EQ(form.PanelText(1), " " + install.program(s.image));
  }
  EXPECT_TRUE(recorder.messages.empty());
}

TEST(DeviceSetup, PathsAreTheFilesAsTheyAreOnDisk) {
  ProgramsInstall install;
  TMainForm form;
  // A path spelled in another letter case names the files as they are.
  form.SetupDevice("AT90S2313", install.file("PROGRAMS/AT90S2313.BIN"), 1, 2);
  EXPECT_EQ(install.read("programs/eeprom.bin"), eeprom(1, 2));
  EXPECT_EQ(install.read("Talvorin.AVR"),
            ProjectText(install.program("eeprom.bin"), install.program("at90s2313.bin")));
  EXPECT_EQ(form.PanelText(1), " " + install.program("at90s2313.bin"));
}

TEST(DeviceSetup, WithoutADeviceNothingChanges) {
  ProgramsInstall install;
  TMainForm form;
  form.SetPanelText(0, "before");
  form.SetPanelText(1, " before");
  MessageRecorder recorder;
  form.SetupDevice("", install.program("at90s2313.bin"), 1, 2);
  form.SetupDevice("AT90S2313", "", 1, 2);
  EXPECT_FALSE(install.exists("programs/eeprom.bin"));
  EXPECT_FALSE(install.exists("Talvorin.AVR"));
  EXPECT_EQ(install.read("prnport.cfg"), Prnport);
  EXPECT_EQ(form.PanelText(0), "before");
  EXPECT_EQ(form.PanelText(1), " before");
  EXPECT_TRUE(recorder.messages.empty());
}

TEST(DeviceSetup, MissingPrnportStillWritesTheOtherFiles) {
  ProgramsInstall install;
  fs::remove(install.file("prnport.cfg"));
  TMainForm form;
  MessageRecorder recorder;
  form.SetupDevice("AT90S2313", install.program("at90s2313.bin"), 3, 255);
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0].text,
            "The prnport.cfg is not exist.\nThe prnport.cfg must in the same directory with Talvorin.EXE .");
  EXPECT_EQ(recorder.messages[0].caption, "Error.");
  EXPECT_EQ(recorder.messages[0].flags, MB_OK | MB_ICONSTOP);
  EXPECT_EQ(install.read("programs/eeprom.bin"), eeprom(3, 255));
  EXPECT_EQ(install.read("Talvorin.AVR"),
            ProjectText(install.program("eeprom.bin"), install.program("at90s2313.bin")));
  EXPECT_FALSE(install.exists("prnport.cfg"));
  EXPECT_EQ(form.PanelText(0), "AT90S2313");
}

TEST(DeviceSetup, EepromThatCannotBeCreated) {
  struct Case {
    const char* what;
    bool oldImage;        // a read-only eeprom.bin is there
    unsigned folderMode;  // of the programs folder
  };
  const Case cases[] = {{"read-only image", true, 0755}, {"read-only folder", false, 0555}};
  for (const auto& c : cases) {
    ProgramsInstall install;
    if (c.oldImage) {
      install.write("programs/eeprom.bin", "old");
      install.chmod("programs/eeprom.bin", 0444);
    }
    install.chmod("programs", c.folderMode);
    TMainForm form;
    MessageRecorder recorder;
    form.SetupDevice("AT90S2313", install.program("at90s2313.bin"), 3, 255);
    ASSERT_EQ(recorder.messages.size(), 1u) << c.what;
    EXPECT_EQ(recorder.messages[0].text, "Can not create eeprom.bin .");
    EXPECT_EQ(recorder.messages[0].caption, "Error....");
    EXPECT_EQ(recorder.messages[0].flags, MB_OK | MB_ICONSTOP);
    // Data names the image that is left there, or nothing.
    EXPECT_EQ(install.read("Talvorin.AVR"), ProjectText(c.oldImage ? install.program("eeprom.bin") : "",
                                                        install.program("at90s2313.bin")))
        << c.what;
    EXPECT_EQ(c.oldImage ? install.read("programs/eeprom.bin") : "", c.oldImage ? "old" : "");
    EXPECT_FALSE(!c.oldImage && install.exists("programs/eeprom.bin"));
    EXPECT_EQ(form.PanelText(0), "AT90S2313");
  }
}

TEST(DeviceSetup, RefusedProfileWriteEndsTheCommandWithTheReport) {
  for (const char* readOnly : {"Talvorin.AVR", "prnport.cfg"}) {
    ProgramsInstall install;
    install.write("Talvorin.AVR", "[Old]\r\n");
    install.chmod(readOnly, 0444);
    TMainForm form;
    MessageRecorder recorder;
    const bool finished =
        RunReportingErrors([&] { form.SetupDevice("AT90S2313", install.program("at90s2313.bin"), 3, 255); });
    EXPECT_FALSE(finished);
    ASSERT_EQ(recorder.messages.size(), 1u) << readOnly;
    EXPECT_EQ(recorder.messages[0].text, "Unable to write to " + install.file(readOnly));
    EXPECT_EQ(recorder.messages[0].caption, ApplicationTitle());
    EXPECT_EQ(recorder.messages[0].flags, MB_OK | MB_ICONSTOP);
    EXPECT_EQ(install.read("prnport.cfg"), Prnport) << readOnly;
    EXPECT_EQ(install.read("programs/eeprom.bin"), eeprom(3, 255));
    EXPECT_EQ(form.PanelText(0), "AT90S2313");
    if (std::string(readOnly) == "Talvorin.AVR") {
      EXPECT_EQ(install.read("Talvorin.AVR"), "[Old]\r\n");
    }
  }
}

// Looks at the main window when it hides, on the user-interface thread, and
// only then lets the waiting tool end: the hide is seen while the tool runs.
class WatchWhileToolRuns : public QObject {
 public:
  WatchWhileToolRuns(QWidget& form, const TempDir& install) : form(form), install(install) {
    form.installEventFilter(this);
  }
  ~WatchWhileToolRuns() override { form.removeEventFilter(this); }

  bool looked = false, widgetVisible = true, windowVisible = true;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Hide && !looked) {
      looked = true;
      widgetVisible = form.isVisible();
      windowVisible = form.windowHandle()->isVisible();
      install.write("go", "");
    }
    return false;
  }

 private:
  QWidget& form;
  const TempDir& install;
};

// Hide and show events of the main window, in order.
class ShowHideLog : public QObject {
 public:
  explicit ShowHideLog(QWidget* window) { window->installEventFilter(this); }
  std::string log;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Hide) log += "hide ";
    if (event->type() == QEvent::Show) log += "show ";
    return false;
  }
};

struct ShownForm {
  TMainForm form;
  ShownForm() {
    form.show();
    QApplication::setActiveWindow(&form);
    EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
  }
};

TEST(Qelt, RunsTheToolHiddenAndComesBackWhereItWas) {
  ProgramsInstall install;
  TempDir work;
  CurrentDir current(work.path());
  WriteTool(install, "Qelt.EXE", RecordingTool, 0755);
  install.write("Qelt.ini", "old data\r\nold program\r\n0000 \\ tool\r\nkeep=1\r\n");
  ShownForm shown;
  TMainForm& form = shown.form;
  form.SetupDevice("AT90S2313", install.program("at90s2313.bin"), 3, 255);
  form.move(form.pos() + QPoint(13, 7));
  const QRect where = form.geometry();
  ShowHideLog events(&form);
  MessageRecorder recorder;

  {
    WatchWhileToolRuns watch(form, install);
    QTest::keyClick(&form, Qt::Key_G, Qt::ControlModifier);
    ASSERT_TRUE(watch.looked) << "the window never hid";
    EXPECT_FALSE(watch.widgetVisible);
    EXPECT_FALSE(watch.windowVisible);
  }
  EXPECT_EQ(events.log, "hide show ");
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.geometry(), where);
  EXPECT_TRUE(recorder.messages.empty());
  EXPECT_EQ(install.read("args"), install.file("Qelt.EXE") + "\n");
  EXPECT_EQ(install.read("ran-in"), fs::canonical(work.path()).string() + "\n");
  EXPECT_EQ(install.read("Qelt.ini"), install.program("eeprom.bin") + "\r\n" + install.program("at90s2313.bin") +
                                          "\r\n0000 \\ tool\r\nkeep=1\r\n");
}

TEST(Qelt, WithoutAProjectTheToolStillRuns) {
  ProgramsInstall install;
  WriteTool(install, "Qelt.EXE", RecordingTool, 0755);
  install.write("Qelt.ini", "x\r\n0000 \\\r\n");
  ShownForm shown;
  MessageRecorder recorder;
  {
    WatchWhileToolRuns watch(shown.form, install);
    shown.form.QELT1->trigger();
  }
  EXPECT_TRUE(install.exists("started"));
  EXPECT_EQ(install.read("Qelt.ini"), "\r\n\r\n0000 \\\r\n");
  EXPECT_TRUE(recorder.messages.empty());
}

TEST(Qelt, MissingToolShowsItsPathAndStaysVisible) {
  ProgramsInstall install;
  install.write("Talvorin.AVR", "[Files]\r\nData=/d/e.bin\r\nProgram=/d/p.bin\r\n");
  install.write("Qelt.ini", "a\r\nb\r\nc\r\n");
  ShownForm shown;
  ShowHideLog events(&shown.form);
  MessageRecorder recorder;
  QTest::keyClick(&shown.form, Qt::Key_G, Qt::ControlModifier);
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0].text, install.file("Qelt.EXE") + " is not find. Can not launch it.");
  EXPECT_EQ(recorder.messages[0].caption, "ERROR");
  EXPECT_EQ(recorder.messages[0].flags, MB_OK | MB_ICONINFORMATION);
  EXPECT_EQ(events.log, "");
  EXPECT_TRUE(shown.form.isVisible());
  EXPECT_EQ(install.read("Qelt.ini"), "/d/e.bin\r\n/d/p.bin\r\nc\r\n");
}

TEST(Qelt, ToolThatCannotBeStartedSaysWhyAndNeverHides) {
  struct Case {
    const char* what;
    std::string content;
    unsigned mode;
    const char* reason;
  };
  const Case cases[] = {
      {"not executable", RecordingTool, 0644, "Access is denied: the file is not an executable program. (Error: 5)"},
      {"Windows program without wine", "MZ\x90", 0755,
       "It is a Windows program, and this system cannot run it (wine is not on the PATH). (Error: 216)"},
  };
  TempDir emptyBin;
  PathOverride path(emptyBin.path());
  for (const auto& c : cases) {
    ProgramsInstall install;
    WriteTool(install, "Qelt.EXE", c.content, c.mode);
    ShownForm shown;
    ShowHideLog events(&shown.form);
    MessageRecorder recorder;
    QTest::keyClick(&shown.form, Qt::Key_G, Qt::ControlModifier);
    ASSERT_EQ(recorder.messages.size(), 1u) << c.what;
    EXPECT_EQ(recorder.messages[0].text, install.file("Qelt.EXE") + " can not be started.\n" + c.reason);
    EXPECT_EQ(recorder.messages[0].caption, "ERROR");
    EXPECT_EQ(recorder.messages[0].flags, MB_OK | MB_ICONSTOP);
    EXPECT_EQ(events.log, "") << c.what;
    EXPECT_TRUE(shown.form.isVisible());
    EXPECT_FALSE(install.exists("started"));
  }
}

TEST(Qelt, UnusableQeltIniEndsTheCommandBeforeTheTool) {
  struct Case {
    std::string content;
    unsigned mode;
    std::string report;
  };
  ProgramsInstall install;
  WriteTool(install, "Qelt.EXE", RecordingTool, 0755);
  const Case cases[] = {
      {"", 0644, "List index out of bounds (0)"},
      {"one line\r\n", 0644, "List index out of bounds (1)"},
      {"a\r\nb\r\n", 0200, "Cannot open file " + install.file("Qelt.ini")},
      {"a\r\nb\r\n", 0444, "Cannot create file " + install.file("Qelt.ini")},
  };
  ShownForm shown;
  ShowHideLog events(&shown.form);
  for (const auto& c : cases) {
    install.write("Qelt.ini", c.content);
    install.chmod("Qelt.ini", c.mode);
    MessageRecorder recorder;
    QTest::keyClick(&shown.form, Qt::Key_G, Qt::ControlModifier);
    ASSERT_EQ(recorder.messages.size(), 1u) << c.report;
    EXPECT_EQ(recorder.messages[0].text, c.report);
    EXPECT_EQ(recorder.messages[0].caption, ApplicationTitle());
    install.chmod("Qelt.ini", 0644);
    EXPECT_EQ(install.read("Qelt.ini"), c.content);
  }
  EXPECT_FALSE(install.exists("started"));
  EXPECT_EQ(events.log, "");
}

TEST(DeviceSetupAndQelt, InstallationInAFolderWithBlanks) {
  TempDir root;
  const std::string dir = root.file("My Talvorin Folder");
  root.write("My Talvorin Folder/programs/at 90s.bin", "image");
  root.write("My Talvorin Folder/prnport.cfg", "[port]\r\naddress=0\r\n");
  root.write("My Talvorin Folder/Qelt.ini", "x\r\ny\r\n0000 \\\r\n");
  SetModuleFileNameOverride(dir + "/Talvorin");
  {
    TMainForm form;
    MessageRecorder recorder;
    form.SetupDevice("AT 90S", dir + "/programs/at 90s.bin", 1, 2);
    EXPECT_EQ(root.read("My Talvorin Folder/Talvorin.AVR"),
              ProjectText(dir + "/programs/eeprom.bin", dir + "/programs/at 90s.bin"));
    EXPECT_EQ(root.read("My Talvorin Folder/prnport.cfg"),
              "[port]\r\naddress=0\r\n[Recent]\r\nFile0=" + dir + "/Talvorin.AVR\r\n");
    form.QELT1->trigger();
    ASSERT_EQ(recorder.messages.size(), 1u);  // no tool here
    EXPECT_EQ(root.read("My Talvorin Folder/Qelt.ini"),
              dir + "/programs/eeprom.bin\r\n" + dir + "/programs/at 90s.bin\r\n0000 \\\r\n");
  }
  SetModuleFileNameOverride("");
}

// A folder whose path a line can not hold: one with a line break (which
// would put a section of its own into every file), and one too long for
// the short form. The command says so and writes nothing.
TEST(DeviceSetupAndQelt, PathsThatALineCannotHoldAreRefusedBeforeAnyWrite) {
  TempDir root;
  const std::string longName(250, 'L');
  const std::string folders[] = {"inst\r\n[Evil]\r\nk=v",
                                 longName + "/" + longName + "/" + longName + "/" + longName + "/x"};
  for (const auto& folder : folders) {
    const std::string dir = root.file(folder);
    const char* reason = folder.starts_with("inst") ? "It holds a line break, which would end its line in the file."
                                                    : "Its short form can not be taken: it must be shorter than 1024 "
                                                      "characters.";
    root.write(folder + "/programs/at90s2313.bin", "image");
    root.write(folder + "/prnport.cfg", Prnport);
    SetModuleFileNameOverride(dir + "/Talvorin");
    {
      TMainForm form;
      form.SetPanelText(0, "before");
      MessageRecorder recorder;
      form.SetupDevice("AT90S2313", dir + "/programs/at90s2313.bin", 1, 2);
      ASSERT_EQ(recorder.messages.size(), 1u) << folder.size();
      EXPECT_EQ(recorder.messages[0].text,
                "Can not write the path\n" + dir + "/programs/at90s2313.bin\n" + reason + "\nNothing was written.");
      EXPECT_EQ(recorder.messages[0].caption, "ERROR");
      EXPECT_EQ(recorder.messages[0].flags, MB_OK | MB_ICONSTOP);
      EXPECT_FALSE(root.exists(folder + "/programs/eeprom.bin"));
      EXPECT_FALSE(root.exists(folder + "/Talvorin.AVR"));
      EXPECT_EQ(root.read(folder + "/prnport.cfg"), Prnport);
      EXPECT_EQ(form.PanelText(0), "before");
    }
    SetModuleFileNameOverride("");
  }

  // The default image paths of a project without them hold the folder too.
  const std::string& evil = folders[0];
  root.write(evil + "/Talvorin.AVR", "[Project]\r\n");
  root.write(evil + "/Qelt.ini", "x\r\ny\r\n0000 \\\r\n");
  SetModuleFileNameOverride(root.file(evil) + "/Talvorin");
  {
    TMainForm form;
    MessageRecorder recorder;
    form.QELT1->trigger();
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "Can not write the path\n" + root.file(evil) +
                                             "/Programs/eeprom.bin\nIt holds a line break, which would end its line "
                                             "in the file.\nNothing was written.");
    EXPECT_EQ(recorder.messages[0].caption, ApplicationTitle());
    EXPECT_EQ(root.read(evil + "/Qelt.ini"), "x\r\ny\r\n0000 \\\r\n");
  }
  SetModuleFileNameOverride("");
}

}  // namespace

#include "app/Application.h"

#include <QKeyEvent>

#include "comm/Thread.h"
#include "forms/Forms.h"
#include "forms/MessageBoxes.h"
#include "platform/Hooks.h"
#include "platform/Paths.h"
#include "platform/winapi.h"
#include "ports/PortSettings.h"

namespace {
bool terminated = false;

// QApplication keeps referring to its argument count and vector.
int toolkitArgc = 1;
char* toolkitArgv[] = {nullptr, nullptr};

void toolkitBeep(unsigned) { QApplication::beep(); }
}  // namespace

TApplication::TApplication(int argc, char** argv)
    : QApplication((toolkitArgv[0] = argc > 0 ? argv[0] : nullptr, toolkitArgc = argc > 0 ? 1 : 0), toolkitArgv) {
  // The style the toolkit chose (the environment's choice included) goes on
  // drawing everything; only some of its pictures are read later.
  setStyle(StyleWithDeferredIcons(style()));
  setApplicationName(QString::fromLocal8Bit(ApplicationTitle()));
  // The installed desktop entry: desktops show its icon for the windows.
  setDesktopFileName(QStringLiteral("org.talvorin.Talvorin"));
  SetBeepHandler(toolkitBeep);
  SetComDeviceResolver(ComDeviceFromSettings);
  // Serial watchers hand their events over while the message loop runs.
  SetSynchronizeWakeHook([] {
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] { CheckSynchronize(); }, Qt::QueuedConnection);
  });
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape && !key->isAutoRepeat())
      NoteKeyState(VK_ESCAPE, event->type() == QEvent::KeyPress);
  }
  return QApplication::notify(receiver, event);
}

void TerminateApplication() { terminated = true; }

bool ApplicationTerminated() { return terminated; }

// The main window of a fresh installation, shown offscreen, with the upload
// and download dialogs opened from it as the user does: what the dialogs'
// tests over pseudo-terminals and over real drivers share.
#pragma once

#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Main.h"
#include "support/MessageRecorder.h"
#include "support/TempDir.h"
#include "transfer/Download.h"
#include "transfer/Upload.h"

class QWidget;

// Answers every message dialog as it comes up, noting "text|caption" and
// the window that owns it.
class MessageAnswerer {
 public:
  MessageAnswerer();
  std::vector<std::string> shown;
  std::vector<QWidget*> owners;

 private:
  QTimer timer;
};

class DialogSession {
 public:
  DialogSession() = default;
  ~DialogSession();
  DialogSession(const DialogSession&) = delete;
  DialogSession& operator=(const DialogSession&) = delete;

  // Maps COM1 to device in the installation's Talvorin.ini.
  void mapCom1(const std::string& device) const;
  void showMain();

  // File > Upload or File > Download by its shortcut; act drives the dialog.
  bool upload(const std::function<void(TUForm&)>& act);
  bool download(const std::function<void(TDForm&)>& act);

  Installation install;
  MessageRecorder boxes;
  MessageAnswerer messages;
  std::unique_ptr<TMainForm> main;
};

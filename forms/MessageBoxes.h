// Every message box of the program goes through here, so that tests can
// intercept them.
#pragma once

#include <functional>
#include <string>

struct ShownMessage {
  std::string text;
  std::string caption;
  unsigned flags;  // MB_OK with MB_ICONSTOP or MB_ICONINFORMATION
};

// The system message box: modal, one OK button. Texts are in the system's
// 8-bit encoding.
void AppMessageBox(const std::string& text, const std::string& caption, unsigned flags);

// The executable's file name without its extension: the application's title.
std::string ApplicationTitle();

// The application's standard error report: the error's text in a modal box
// with the stop icon and the application's title as caption.
void ShowErrorReport(const std::string& text);

// Runs a command; an error that escapes it reaches the standard error report.
// True when the command finished without one.
template <class F>
bool RunReportingErrors(F&& command) {
  try {
    command();
    return true;
  } catch (const std::exception& e) {
    ShowErrorReport(e.what());
    return false;
  }
}

// While set, messages are handed to the interceptor instead of being shown.
using MessageInterceptor = std::function<void(const ShownMessage&)>;
void SetMessageInterceptor(MessageInterceptor interceptor);

#include "app/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

#include "app/Application.h"
#include "platform/winapi.h"

namespace {
MessageInterceptor interceptor;
}

void SetMessageInterceptor(MessageInterceptor newInterceptor) { interceptor = std::move(newInterceptor); }

void AppMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  if (interceptor) {
    interceptor({text, caption, flags});
    return;
  }
  const auto icon = (flags & MB_ICONSTOP) == MB_ICONSTOP ? QMessageBox::Critical : QMessageBox::Information;
  QMessageBox box(icon, QString::fromLocal8Bit(caption), QString::fromLocal8Bit(text), QMessageBox::Ok,
                  QApplication::activeWindow());
  box.exec();
}

void ShowErrorReport(const std::string& text) { AppMessageBox(text, ApplicationTitle(), MB_OK | MB_ICONSTOP); }

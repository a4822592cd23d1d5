#include "forms/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

#include "platform/Paths.h"
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

std::string ApplicationTitle() {
  char buffer[4096] = {};
  GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  const std::string name = ExtractFileName(buffer);
  const auto dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

void ShowErrorReport(const std::string& text) { AppMessageBox(text, ApplicationTitle(), MB_OK | MB_ICONSTOP); }

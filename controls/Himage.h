// A picture that reports the mouse pointer entering and leaving it.
#pragma once

#include <QLabel>

#include "platform/Events.h"

class THImage : public QLabel, public TObject {
  Q_OBJECT

 public:
  explicit THImage(QWidget* owner = nullptr);

  // Called with the image as Sender, only while it is enabled.
  TNotifyEvent OnMouseLeave;
  TNotifyEvent OnMouseEnter;

  void MouseEnter(QEvent* message);
  void MouseLeave(QEvent* message);

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
};

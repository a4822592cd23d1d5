// A text label that reports the mouse pointer entering and leaving it and,
// while the pointer is over it, shows its text in EnterColor.
#pragma once

#include <QLabel>

#include "controls/Colors.h"
#include "platform/Events.h"

class THLabel : public QLabel, public TObject {
  Q_OBJECT

 public:
  explicit THLabel(QWidget* owner = nullptr);

  // The text colour while the pointer is over the label. It starts as the
  // colour a new control has for its background, the window colour. A change
  // shows from the next enter on.
  TColor EnterColor() const { return enterColor; }
  void SetEnterColor(TColor value) { enterColor = value; }

  // The colour of the text (the window text colour to begin with).
  TColor FontColor() const { return fontColor; }
  void SetFontColor(TColor value);

  // Called with the label as Sender, only while it is enabled, before the
  // text changes colour.
  TNotifyEvent OnMouseLeave;
  TNotifyEvent OnMouseEnter;

  void MouseEnter(QEvent* message);
  void MouseLeave(QEvent* message);

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  TColor enterColor = clWindow;
  TColor savedColor = clWindow;  // the text colour before the last enter
  TColor fontColor = clWindowText;
};

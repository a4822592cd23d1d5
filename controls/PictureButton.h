// A push button whose picture and caption stand a given number of pixels
// apart, centred together. Styles put a space of their own choosing between
// the two, so the caption is drawn here; the frame, face and focus stay the
// style's.
#pragma once

#include <QPushButton>

class TPictureButton final : public QPushButton {
 public:
  TPictureButton(const QIcon& picture, const QString& caption, int spacing, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int spacing;
};

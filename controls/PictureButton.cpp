#include "controls/PictureButton.h"

#include <QStyle>
#include <QStyleOptionButton>
#include <QStylePainter>

TPictureButton::TPictureButton(const QIcon& picture, const QString& caption, int spacing, QWidget* parent)
    : QPushButton(picture, caption, parent), spacing(spacing) {}

void TPictureButton::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  QStyleOptionButton frame = option;
  frame.icon = QIcon();
  frame.text.clear();
  painter.drawControl(QStyle::CE_PushButton, frame);

  QRect area = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
  if (option.state & (QStyle::State_Sunken | QStyle::State_On))
    area.translate(style()->pixelMetric(QStyle::PM_ButtonShiftHorizontal, &option, this),
                   style()->pixelMetric(QStyle::PM_ButtonShiftVertical, &option, this));
  const QPixmap picture = icon().pixmap(iconSize(), devicePixelRatioF(), isEnabled() ? QIcon::Normal : QIcon::Disabled);
  const QSize pictureSize = picture.deviceIndependentSize().toSize();
  const int captionWidth = option.fontMetrics.size(Qt::TextShowMnemonic, text()).width();
  const int left = area.x() + (area.width() - pictureSize.width() - spacing - captionWidth) / 2;
  painter.drawPixmap(left, area.y() + (area.height() - pictureSize.height()) / 2, picture);
  const QRect captionArea(left + pictureSize.width() + spacing, area.y(), captionWidth, area.height());
  style()->drawItemText(&painter, captionArea, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, option.palette,
                        isEnabled(), text(), QPalette::ButtonText);
}

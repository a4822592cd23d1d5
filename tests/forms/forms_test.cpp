// The style's standard pictures of the start-up dialogs' buttons, read at
// their first use: they must look exactly as the style's own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleFactory>

#include "forms/Forms.h"

namespace {

// Counts the pictures asked of it.
class CountingStyle : public QProxyStyle {
 public:
  CountingStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}
  QIcon standardIcon(StandardPixmap which, const QStyleOption* option, const QWidget* widget) const override {
    ++asked;
    return QProxyStyle::standardIcon(which, option, widget);
  }
  mutable int asked = 0;
};

TEST(DeferredStandardIcon, AsksTheFormsStyleOnceAtFirstUse) {
  CountingStyle style;
  QWidget form;
  form.setStyle(&style);
  QIcon icon = DeferredStandardIcon(&form, QStyle::SP_DialogCancelButton);
  QPushButton button(icon, QStringLiteral("&Cancel"), &form);
  EXPECT_FALSE(button.icon().isNull());
  EXPECT_EQ(style.asked, 0);
  EXPECT_FALSE(icon.pixmap(16).isNull());
  EXPECT_FALSE(icon.pixmap(32).isNull());
  EXPECT_EQ(style.asked, 1);
}

TEST(DeferredStandardIcon, LooksAsTheStylesOwn) {
  QWidget form;
  for (const QStyle::StandardPixmap which :
       {QStyle::SP_DialogOkButton, QStyle::SP_DialogApplyButton, QStyle::SP_DialogCancelButton}) {
    SCOPED_TRACE(which);
    const QIcon own = form.style()->standardIcon(which);
    const QIcon deferred = DeferredStandardIcon(&form, which);
    EXPECT_EQ(deferred.availableSizes(), own.availableSizes());
    for (const QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled, QIcon::Active, QIcon::Selected})
      for (const int side : {16, 20, 32, 48}) {
        EXPECT_EQ(deferred.actualSize(QSize(side, side), mode), own.actualSize(QSize(side, side), mode));
        EXPECT_EQ(deferred.pixmap(side, mode).toImage(), own.pixmap(side, mode).toImage());
        const QPixmap sharp = deferred.pixmap(QSize(side, side), 2.0, mode);
        EXPECT_EQ(sharp.toImage(), own.pixmap(QSize(side, side), 2.0, mode).toImage());
        EXPECT_EQ(sharp.devicePixelRatio(), own.pixmap(QSize(side, side), 2.0, mode).devicePixelRatio());
      }
    const auto painted = [](const QIcon& icon, QIcon::Mode mode) {
      QImage image(40, 30, QImage::Format_ARGB32_Premultiplied);
      image.fill(Qt::transparent);
      QPainter painter(&image);
      icon.paint(&painter, QRect(3, 2, 33, 25), Qt::AlignCenter, mode);
      return image;
    };
    EXPECT_EQ(painted(deferred, QIcon::Normal), painted(own, QIcon::Normal));
    EXPECT_EQ(painted(deferred, QIcon::Disabled), painted(own, QIcon::Disabled));
    QPushButton withOwn(own, QStringLiteral("&OK")), withDeferred(deferred, QStringLiteral("&OK"));
    for (QPushButton* button : {&withOwn, &withDeferred}) button->setGeometry(0, 0, 128, 27);
    EXPECT_EQ(withDeferred.grab().toImage(), withOwn.grab().toImage());
    withOwn.setEnabled(false);
    withDeferred.setEnabled(false);
    EXPECT_EQ(withDeferred.grab().toImage(), withOwn.grab().toImage());
  }
}

}  // namespace

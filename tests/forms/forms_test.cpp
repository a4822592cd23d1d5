// The application's style reads the pictures of the dialog buttons and of the
// menu bar's overflow button at their first use; they must look exactly as
// the style's own.
#include "forms/Forms.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleFactory>
#include <memory>

namespace {

// Counts the pictures asked of it.
class CountingStyle : public QProxyStyle {
 public:
  CountingStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("fusion"))) {}
  QIcon standardIcon(StandardPixmap which, const QStyleOption* option, const QWidget* widget) const override {
    ++asked;
    return QProxyStyle::standardIcon(which, option, widget);
  }
  mutable int asked = 0;
};

TEST(DeferredIcons, AskedOfTheStyleOnceAtFirstUse) {
  auto* counting = new CountingStyle;
  const std::unique_ptr<QStyle> style(StyleWithDeferredIcons(counting));
  QWidget form;
  form.setStyle(style.get());
  const QIcon icon = form.style()->standardIcon(QStyle::SP_DialogCancelButton);
  QPushButton button(icon, QStringLiteral("&Cancel"), &form);
  EXPECT_FALSE(button.icon().isNull());
  EXPECT_EQ(counting->asked, 0);
  EXPECT_FALSE(icon.pixmap(16).isNull());
  EXPECT_FALSE(button.icon().pixmap(32).isNull());
  EXPECT_EQ(counting->asked, 1);
  // Pictures it does not defer are read at once, as before.
  EXPECT_FALSE(form.style()->standardIcon(QStyle::SP_MessageBoxWarning).isNull());
  EXPECT_EQ(counting->asked, 2);
}

TEST(DeferredIcons, LookAsTheStylesOwn) {
  // The program's own style, as the application object sets it up.
  const auto* style = dynamic_cast<const QProxyStyle*>(QApplication::style());
  ASSERT_NE(style, nullptr);
  const QStyle* own = style->baseStyle();
  const auto painted = [](const QIcon& icon, QIcon::Mode mode) {
    QImage image(40, 30, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    icon.paint(&painter, QRect(3, 2, 33, 25), Qt::AlignCenter, mode);
    return image;
  };
  for (const QStyle::StandardPixmap which :
       {QStyle::SP_DialogOkButton, QStyle::SP_DialogApplyButton, QStyle::SP_DialogCancelButton,
        QStyle::SP_ToolBarHorizontalExtensionButton, QStyle::SP_ToolBarVerticalExtensionButton}) {
    SCOPED_TRACE(which);
    const QIcon deferred = style->standardIcon(which);
    const QIcon expected = own->standardIcon(which);
    EXPECT_EQ(deferred.availableSizes(), expected.availableSizes());
    for (const QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled, QIcon::Active, QIcon::Selected}) {
      for (const int side : {16, 20, 32, 48}) {
        EXPECT_EQ(deferred.actualSize(QSize(side, side), mode), expected.actualSize(QSize(side, side), mode));
        EXPECT_EQ(deferred.pixmap(side, mode).toImage(), expected.pixmap(side, mode).toImage());
        const QPixmap sharp = deferred.pixmap(QSize(side, side), 2.0, mode);
        EXPECT_EQ(sharp.toImage(), expected.pixmap(QSize(side, side), 2.0, mode).toImage());
        EXPECT_EQ(sharp.devicePixelRatio(), expected.pixmap(QSize(side, side), 2.0, mode).devicePixelRatio());
      }
      EXPECT_EQ(painted(deferred, mode), painted(expected, mode));
    }
    QPushButton withOwn(expected, QStringLiteral("&OK")), withDeferred(deferred, QStringLiteral("&OK"));
    for (QPushButton* button : {&withOwn, &withDeferred}) button->setGeometry(0, 0, 128, 27);
    EXPECT_EQ(withDeferred.grab().toImage(), withOwn.grab().toImage());
    withOwn.setEnabled(false);
    withDeferred.setEnabled(false);
    EXPECT_EQ(withDeferred.grab().toImage(), withOwn.grab().toImage());
  }
}

}  // namespace

#include "forms/Forms.h"

#include <QApplication>
#include <QFont>
#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QPointer>
#include <QProxyStyle>
#include <QScreen>
#include <QWidget>

void ApplyFormStyle(QWidget* form, int fontPixels) {
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(fontPixels);
  form->setFont(font);
  QPalette palette = form->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Button));
  form->setPalette(palette);
}

void CenterOver(QWidget* form, const QWidget* owner) {
  const QRect area = owner ? owner->frameGeometry() : form->screen()->availableGeometry();
  const QRect frame = form->frameGeometry();
  form->move(area.center() - QPoint(frame.width() / 2, frame.height() / 2) + (form->pos() - frame.topLeft()));
}

namespace {

// Stands for one of the style's standard icons and asks the style for it at
// its first use. Only the test for a null icon answers before that use: not
// null, as the style has each picture that it defers.
class DeferredIconEngine final : public QIconEngine {
 public:
  DeferredIconEngine(const QStyle* style, QStyle::StandardPixmap which, const QWidget* widget)
      : style(style), which(which), widget(widget) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    icon().paint(painter, rect, Qt::AlignCenter, mode, state);
  }
  QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return icon().actualSize(size, mode, state);
  }
  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return icon().pixmap(size, 1.0, mode, state);
  }
  QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override {
    return icon().pixmap(size / scale, scale, mode, state);
  }
  void addPixmap(const QPixmap& pixmap, QIcon::Mode mode, QIcon::State state) override {
    icon().addPixmap(pixmap, mode, state);
  }
  void addFile(const QString& fileName, const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    icon().addFile(fileName, size, mode, state);
  }
  QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
    return icon().availableSizes(mode, state);
  }
  QString iconName() override { return icon().name(); }
  bool isNull() override { return loaded && real.isNull(); }
  QString key() const override { return QStringLiteral("DeferredIconEngine"); }
  QIconEngine* clone() const override { return new DeferredIconEngine(*this); }

 private:
  DeferredIconEngine(const DeferredIconEngine&) = default;

  QIcon& icon() {
    if (!loaded) {
      const QStyle* from = style ? style.data() : QApplication::style();
      real = from->standardIcon(which, nullptr, widget);
      loaded = true;
    }
    return real;
  }

  QPointer<const QStyle> style;
  QStyle::StandardPixmap which;
  QPointer<const QWidget> widget;
  bool loaded = false;
  QIcon real;
};

class DeferredIconStyle final : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;

  QIcon standardIcon(StandardPixmap which, const QStyleOption* option, const QWidget* widget) const override {
    // Deferred only where the style's own is known to be there; a picture for
    // one particular option is asked for while drawing anyway.
    const bool deferred =
        !option && (which == SP_DialogOkButton || which == SP_DialogApplyButton || which == SP_DialogCancelButton ||
                    which == SP_ToolBarHorizontalExtensionButton || which == SP_ToolBarVerticalExtensionButton);
    if (!deferred) return QProxyStyle::standardIcon(which, option, widget);
    return QIcon(new DeferredIconEngine(baseStyle(), which, widget));
  }
};

}  // namespace

QStyle* StyleWithDeferredIcons(QStyle* base) { return new DeferredIconStyle(base); }

#include "forms/Forms.h"

#include <QApplication>
#include <QFont>
#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QPointer>
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

// Stands for the style's icon and asks the style for it at its first use. A
// picture the style does not have shows as nothing, as the style's own null
// icon would; only the test for a null icon answers before the first use.
class DeferredStyleIconEngine final : public QIconEngine {
 public:
  DeferredStyleIconEngine(const QStyle* style, QStyle::StandardPixmap which) : style(style), which(which) {}

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
  QString key() const override { return QStringLiteral("DeferredStyleIconEngine"); }
  QIconEngine* clone() const override { return new DeferredStyleIconEngine(*this); }

 private:
  DeferredStyleIconEngine(const DeferredStyleIconEngine&) = default;

  QIcon& icon() {
    if (!loaded) {
      const QStyle* from = style ? style.data() : QApplication::style();
      real = from->standardIcon(which);
      loaded = true;
    }
    return real;
  }

  QPointer<const QStyle> style;
  QStyle::StandardPixmap which;
  bool loaded = false;
  QIcon real;
};

}  // namespace

QIcon DeferredStandardIcon(const QWidget* form, QStyle::StandardPixmap which) {
  return QIcon(new DeferredStyleIconEngine(form->style(), which));
}

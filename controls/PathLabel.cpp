#include "controls/PathLabel.h"

#include <QFontMetrics>
#include <QResizeEvent>
#include <algorithm>

TPathLabel::TPathLabel(QWidget* parent) : QLabel(parent) {}

void TPathLabel::SetFullText(const QString& text) {
  fullText = text;
  Show();
}

QString TPathLabel::Fit(const QString& text, const QFontMetrics& metrics, int width) {
  if (metrics.horizontalAdvance(text) <= width) return text;
  const qsizetype slash = std::max(text.lastIndexOf(QLatin1Char('/')), text.lastIndexOf(QLatin1Char('\\')));
  if (slash > 0) {
    const QString name = text.mid(slash);
    const int room = width - metrics.horizontalAdvance(name);
    const QString head = metrics.elidedText(text.left(slash), Qt::ElideRight, room);
    // An ellipsis alone, with nothing of the head, says too little.
    if (room > 0 && head.size() > 1) return head + name;
  }
  return metrics.elidedText(text, Qt::ElideMiddle, width);
}

void TPathLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  Show();
}

void TPathLabel::Show() {
  setText(Fit(fullText, fontMetrics(), contentsRect().width()));
  setToolTip(fullText);
}

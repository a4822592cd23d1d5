// A label for a path that may not fit: too long for its width, it shows the
// start and the end of the path with an ellipsis between, keeping the file
// name whole where it fits; its tooltip is the whole text.
#pragma once

#include <QLabel>
#include <QString>

class TPathLabel : public QLabel {
  Q_OBJECT

 public:
  explicit TPathLabel(QWidget* parent = nullptr);

  // The text as given, whatever the label shows of it.
  const QString& FullText() const { return fullText; }
  void SetFullText(const QString& text);

  // What fits into width pixels with the font's metrics: text itself when
  // it fits; otherwise the text's start, an ellipsis and its last path
  // component; otherwise the text elided in the middle.
  static QString Fit(const QString& text, const QFontMetrics& metrics, int width);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Show();
  QString fullText;
};

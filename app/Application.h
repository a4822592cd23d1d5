// The application object: the toolkit's application plus what the program
// needs of it (the title as its name, termination at start-up, the key state
// feed, a style that reads its button pictures when first drawn).
#pragma once

#include <QApplication>
#include <string>

class TApplication : public QApplication {
 public:
  // The toolkit sees the program name only: the program takes no
  // command-line options, so Qt's own (-style, -reverse, ...) must not reach
  // it either. The environment still configures the toolkit.
  TApplication(int argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// Asks the application to end during start-up: the message loop then ends
// as soon as it would start.
void TerminateApplication();
bool ApplicationTerminated();

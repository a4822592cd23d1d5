#include "support/MessageRecorder.h"

MessageRecorder::MessageRecorder() {
  SetMessageInterceptor([this](const ShownMessage& m) {
    messages.push_back(m);
    if (onShow) onShow(m);
  });
}

MessageRecorder::~MessageRecorder() { SetMessageInterceptor(nullptr); }

// A scripted programmer on a fake line with a fake clock: the host logic runs
// against it without sleeping. Time moves only when the host processes its
// messages; the target answers then, from what the host has sent so far.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "transfer/BlockProtocol.h"

using Bytes = std::string;

inline Bytes Byte(std::uint8_t b) { return Bytes(1, static_cast<char>(b)); }

// Something the target does at each pump, looking at the host's bytes.
class ScriptedTarget {
 public:
  virtual ~ScriptedTarget() = default;
  virtual void Pump(class FakeLine& line) = 0;
};

class FakeLine : public TransferPort, public TransferHost {
 public:
  static constexpr std::uint32_t Never = 0xFFFFFFFF;

  // The line.
  std::deque<std::uint8_t> waiting;  // at the host, not yet read
  Bytes sent;                        // everything the host wrote
  std::vector<std::uint32_t> sendTimes;      // the clock at each write
  bool portOpen = true;

  // The host's surroundings.
  std::uint32_t now = 0;
  std::uint32_t tick = 1;  // milliseconds per pump
  std::uint32_t rest = 0;  // milliseconds a rest between passes lasts when nothing arrives
  int rests = 0;
  bool stop = false;
  std::uint32_t stopAt = Never;
  bool escapePressedEarlier = false;  // a press not yet seen by a query
  std::uint32_t escapeDownAt = Never;
  bool failAllocation = false;
  ScriptedTarget* target = nullptr;
  // A device that goes away between the count and the read: the read after
  // readsBeforeShort others gives this many of the bytes asked for (-1: none,
  // as from a port that has closed), and whatever else was waiting is lost
  // with it.
  std::optional<int> shortRead;
  int readsBeforeShort = 0;
  // A device that has gone: every call raises PortGone, as the dialogs' port
  // does. It goes by itself once the host has sent goneAfterSending bytes.
  bool gone = false;
  size_t goneAfterSending = std::string::npos;

  // What the dialog was told, in order: "W 02" for bytes written (longer
  // writes as "W block 256"), "msg text|caption", "start 1", "stop 0",
  // "clear", "reset", "range n", "step".
  std::vector<std::string> events;
  int steps = 0;
  int range = -1;

  void Arrive(const Bytes& bytes) {
    waiting.insert(waiting.end(), bytes.begin(), bytes.end());
    arrived = true;
  }

  int InQueCount() override {
    CheckGone();
    return portOpen ? static_cast<int>(waiting.size()) : -1;
  }
  int Read(void* buffer, int count) override {
    CheckGone();
    EXPECT_LE(count, static_cast<int>(waiting.size())) << "read beyond what is waiting";
    auto* out = static_cast<std::uint8_t*>(buffer);
    const bool cut = shortRead && readsBeforeShort-- == 0;
    const int given = cut ? std::min(*shortRead, count) : count;
    for (int i = 0; i < given && !waiting.empty(); ++i) {
      out[i] = waiting.front();
      waiting.pop_front();
    }
    if (cut) {
      waiting.clear();
      shortRead.reset();
    }
    return given;
  }
  // A write to a device that has gone is noted as "W! " and its bytes.
  int Write(const void* buffer, int count) override {
    const Bytes bytes(static_cast<const char*>(buffer), static_cast<size_t>(count));
    if (gone) events.push_back("W! " + Hex(bytes));
    CheckGone();
    if (!portOpen) return -1;
    sent += bytes;
    sendTimes.push_back(now);
    events.push_back(count <= 2 ? "W " + Hex(bytes) : "W block " + std::to_string(count));
    if (sent.size() >= goneAfterSending) gone = true;
    return count;
  }
  std::string Name() override { return "COM1"; }

  std::uint32_t Now() override { return now; }
  bool EscapePressed() override {
    const bool pressed = escapePressedEarlier || now >= escapeDownAt;
    escapePressedEarlier = false;
    return pressed;
  }
  void ProcessMessages() override {
    if (++pumps > 5'000'000) {
      ADD_FAILURE() << "the transfer does not end";
      stop = true;
      escapeDownAt = 0;
    }
    now += tick;
    if (now >= stopAt) stop = true;
    if (target) target->Pump(*this);
  }
  // A rest ends at once when bytes arrived since the previous one.
  void AwaitMore(TransferPort&, int timeoutMs) override {
    ++rests;
    if (!arrived) now += timeoutMs >= 0 ? std::min<std::uint32_t>(rest, static_cast<std::uint32_t>(timeoutMs)) : rest;
    arrived = false;
  }
  bool StopRequested() override { return stop; }
  void ClearStop() override {
    stop = false;
    events.push_back("clear");
  }
  void SetStartEnabled(bool enabled) override { events.push_back(enabled ? "start 1" : "start 0"); }
  void SetStopEnabled(bool enabled) override { events.push_back(enabled ? "stop 1" : "stop 0"); }
  void ShowMessage(const std::string& text, const std::string& caption) override {
    events.push_back("msg " + text + "|" + caption);
  }
  void ProgressReset() override { events.push_back("reset"); }
  void ProgressRange(int blocks) override {
    range = blocks;
    events.push_back("range " + std::to_string(blocks));
  }
  void ProgressStep() override {
    ++steps;
    if (events.empty() || events.back() != "step") events.push_back("step");
  }
  std::unique_ptr<std::uint8_t[]> AllocateBlock(int size) override {
    return failAllocation ? nullptr : TransferHost::AllocateBlock(size);
  }

  // The last n events: how an outcome ended.
  std::vector<std::string> Tail(size_t n) const {
    return std::vector<std::string>(events.end() - static_cast<long>(std::min(n, events.size())), events.end());
  }

  void CheckGone() const {
    if (gone) throw PortGone("the device has gone");
  }

  static std::string Hex(const Bytes& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (const char ch : bytes) {
      if (!text.empty()) text += ' ';
      text += digits[static_cast<std::uint8_t>(ch) >> 4];
      text += digits[static_cast<std::uint8_t>(ch) & 15];
    }
    return text;
  }

 private:
  long pumps = 0;
  bool arrived = false;
};

// Answers the first STX with its reply once replyAt has come, then plays the
// download: each STX gets the next answer (ACK when the list is used up; 0
// for no answer at all), an ACK is followed by one block of data.
class DownloadTarget : public ScriptedTarget {
 public:
  Bytes reply = Bytes("\x00\x06", 2);
  std::uint32_t replyAt = 0;
  bool silent = false;
  std::vector<std::uint8_t> answers;
  int stopWithAnswer = 0;  // the stop flag is set together with this answer (1-based)
  std::function<void(int)> onRequest;  // called with the 1-based request number

  Bytes received;  // the data of every block it took
  int requests = 0;

  void Pump(FakeLine& line) override {
    for (; seen < line.sent.size(); ++seen) {
      const auto b = static_cast<std::uint8_t>(line.sent[seen]);
      if (!replied) {
        stxSeen = stxSeen || b == Ctl::STX;
        continue;
      }
      if (dataLeft > 0) {
        received += static_cast<char>(b);
        --dataLeft;
      } else if (b == Ctl::STX) {
        ++requests;
        if (onRequest) onRequest(requests);
        const std::uint8_t answer = static_cast<size_t>(requests) <= answers.size() ? answers[requests - 1] : Ctl::ACK;
        if (answer != 0) line.Arrive(Byte(answer));
        if (answer == Ctl::ACK) dataLeft = BlockSizeFor(static_cast<std::uint8_t>(reply[0]));
        if (requests == stopWithAnswer) line.stop = true;
      }
    }
    if (!replied && stxSeen && !silent && line.now >= replyAt) {
      line.Arrive(reply);
      replied = true;
    }
  }

 private:
  size_t seen = 0;
  bool replied = false;
  bool stxSeen = false;
  int dataLeft = 0;
};

// Answers the first STX with its reply, then sends its chunks in order. A
// chunk goes out when the host has taken everything sent before it, and, when
// it follows a request, once the host has answered with another ACK.
class UploadTarget : public ScriptedTarget {
 public:
  struct Chunk {
    Bytes bytes;
    bool afterAck;
  };
  Bytes reply = Bytes("\x01\x06", 2);
  std::uint32_t replyAt = 0;
  bool silent = false;
  std::vector<Chunk> chunks;

  // The usual image: STX, ACK awaited, block; then ESC alone.
  void Blocks(const std::vector<Bytes>& blocks, bool escBehindLast = false) {
    for (size_t i = 0; i < blocks.size(); ++i) {
      chunks.push_back({Byte(Ctl::STX), false});
      chunks.push_back({blocks[i] + (escBehindLast && i + 1 == blocks.size() ? Byte(Ctl::ESC) : Bytes()), true});
    }
    if (!escBehindLast || blocks.empty()) chunks.push_back({Byte(Ctl::ESC), false});
  }

  void Pump(FakeLine& line) override {
    if (!replied) {
      if (line.sent.find(static_cast<char>(Ctl::STX)) == std::string::npos || silent || line.now < replyAt) return;
      line.Arrive(reply);
      replied = true;
      ackBase = line.sent.size();
      return;
    }
    if (next >= chunks.size() || !line.waiting.empty()) return;
    const long acks = std::count(line.sent.begin() + static_cast<long>(ackBase), line.sent.end(), Ctl::ACK);
    if (chunks[next].afterAck) {
      if (acks <= acksUsed) return;
      ++acksUsed;
    }
    line.Arrive(chunks[next++].bytes);
  }

 private:
  bool replied = false;
  size_t ackBase = 0;
  size_t next = 0;
  long acksUsed = 0;
};

// A file's bytes that look different in every position.
inline Bytes Pattern(size_t size, unsigned seed = 1) {
  Bytes bytes(size, '\0');
  unsigned x = seed * 2654435761u + 12345;
  for (auto& ch : bytes) {
    x = x * 1103515245u + 12345;
    ch = static_cast<char>(x >> 16);
  }
  return bytes;
}

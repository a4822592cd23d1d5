#include "tools/VirtualTarget.h"

namespace {
constexpr char STX = 0x02, ACK = 0x06, NAK = 0x15, ESC = 0x1B;
}

void VirtualTarget::Begin(Role newRole, const std::string& newPath) {
  closeFile();
  role = newRole;
  path = newPath;
  state = State::Handshake;
  blockSize = options.sizeCode == 0x00 ? 256 : 128;
  requests = 0;
  blocks = 0;
  block.clear();
  haveBlock = false;
  ending.clear();
}

void VirtualTarget::finish(const std::string& how) {
  closeFile();
  state = State::Finished;
  ending = how;
}

void VirtualTarget::closeFile() {
  if (file) std::fclose(file);
  file = nullptr;
}

bool VirtualTarget::loadBlock() {
  block.assign(static_cast<size_t>(blockSize), '\xFF');
  const size_t got = std::fread(block.data(), 1, block.size(), file);
  haveBlock = got > 0;
  return haveBlock;
}

void VirtualTarget::sendNextBlock(std::vector<TargetOutput>& out) {
  if (!haveBlock) {
    out.push_back({std::string(1, ESC), true});
    finish("complete");
    return;
  }
  std::string bytes = block;
  ++blocks;
  const bool last = !loadBlock();
  if (last && options.escBehindLast) {
    out.push_back({bytes + ESC, false});
    finish("complete");
    return;
  }
  out.push_back({bytes, false});
  if (blocks == options.strayAfterBlock) out.push_back({"A", true});
  if (stalled()) return;
  if (last) {
    out.push_back({std::string(1, ESC), true});
    finish("complete");
  } else {
    out.push_back({std::string(1, STX), true});
  }
}

size_t VirtualTarget::Receive(const std::uint8_t* data, size_t count, std::vector<TargetOutput>& out) {
  const size_t before = out.size();
  size_t i = 0;
  while (i < count && !Finished() && out.size() == before) {
    const char b = static_cast<char>(data[i++]);
    if (options.silent) continue;
    switch (state) {
      case State::Handshake:
        if (b != STX) break;
        file = std::fopen(path.c_str(), role == Role::Store ? "wb" : "rb");
        if (!file) {
          finish("could not open the file");
          break;
        }
        out.push_back({std::string{static_cast<char>(options.sizeCode), static_cast<char>(options.handshakeAck)}, false});
        i = count;
        if (options.handshakeAck != ACK) {
          finish("wrong handshake sent");
          break;
        }
        if (role == Role::Store) {
          state = State::Request;
        } else {
          state = State::WaitAck;
          if (loadBlock()) {
            out.push_back({std::string(1, STX), true});
          } else {
            out.push_back({std::string(1, ESC), true});
            finish("complete");
          }
        }
        break;
      case State::Request:
        if (b == ESC) {
          finish("ended by the host's ESC");
        } else if (b == STX && !stalled()) {
          ++requests;
          if (requests == options.escRequest) {
            out.push_back({std::string(1, ESC), false});
            finish("target break sent");
          } else if (requests == options.nakRequest) {
            out.push_back({std::string(1, NAK), false});
          } else {
            out.push_back({std::string(1, ACK), false});
            state = State::Data;
            block.clear();
          }
        }
        break;
      case State::Data:
        block += b;
        if (static_cast<int>(block.size()) == blockSize) {
          // Each block is in the file as soon as it is whole, as in a
          // programmer's memory, whatever becomes of the session.
          std::fwrite(block.data(), 1, block.size(), file);
          std::fflush(file);
          ++blocks;
          state = State::Request;
        }
        break;
      case State::WaitAck:
        if (b == ACK) sendNextBlock(out);
        if (b == ESC) finish("stopped by the host");
        break;
      case State::Finished:
        break;
    }
  }
  return i;
}

void VirtualTarget::LineQuiet() {
  if (state == State::Data && block == std::string(1, ESC)) finish("ended by the host's ESC");
}

std::string VirtualTarget::Summary() const {
  return std::string(role == Role::Store ? "download" : "upload") + " " + ending + ": " + std::to_string(blocks) +
         " blocks of " + std::to_string(blockSize) + " bytes (" + path + ")";
}

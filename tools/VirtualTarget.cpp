#include "tools/VirtualTarget.h"

#include <algorithm>

#include "platform/Files.h"
#include "platform/Paths.h"

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
  uploading = newRole == Role::Serve;
  memory.clear();
  served = 0;
}

void VirtualTarget::finish(const std::string& how) {
  closeFile();
  state = State::Finished;
  ending = how;
  // The memory takes a download's whole blocks at the session's end, in one
  // replacement: nothing that ends a session can leave it half written.
  if (role == Role::Memory && !uploading && blocks > 0 && !ReplaceFileContents(path, memory))
    ending += "; the memory could not be written";
}

void VirtualTarget::closeFile() {
  if (file) std::fclose(file);
  file = nullptr;
}

bool VirtualTarget::loadBlock() {
  block.assign(static_cast<size_t>(blockSize), '\xFF');
  size_t got = 0;
  if (role == Role::Memory) {
    got = std::min(block.size(), memory.size() - served);
    block.replace(0, got, memory, served, got);
    served += got;
  } else {
    got = std::fread(block.data(), 1, block.size(), file);
  }
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
        if (role == Role::Memory) {
          // A memory that was never written is empty.
          if (!ReadWholeFile(path, memory) && FileExists(path)) {
            finish("could not read the memory");
            break;
          }
        } else {
          file = std::fopen(path.c_str(), role == Role::Store ? "wb" : "rb");
          if (!file) {
            finish("could not open the file");
            break;
          }
        }
        out.push_back({std::string{static_cast<char>(options.sizeCode), static_cast<char>(options.handshakeAck)}, false});
        i = count;
        if (options.handshakeAck != ACK) {
          finish("wrong handshake sent");
          break;
        }
        if (role == Role::Store)
          state = State::Request;
        else if (role == Role::Memory)
          state = State::Undecided;
        else
          startUpload(out);
        break;
      case State::Undecided:
        // A download asks for its first block; an upload's host sends
        // nothing more, but a handshake request of its own may still come,
        // answered here as a block request all the same, which it ignores.
        if (b == ESC) finish("ended by the host's ESC");
        if (b != STX) break;
        ++requests;
        out.push_back({std::string(1, ACK), false});
        state = State::Data;
        block.clear();
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
          if (role == Role::Memory) {
            const size_t at = static_cast<size_t>(blocks) * block.size();
            if (memory.size() < at + block.size()) memory.resize(at + block.size(), '\xFF');
            memory.replace(at, block.size(), block);
          } else {
            // Each block is in the file as soon as it is whole, as in a
            // programmer's memory, whatever becomes of the session.
            std::fwrite(block.data(), 1, block.size(), file);
            std::fflush(file);
          }
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

void VirtualTarget::startUpload(std::vector<TargetOutput>& out) {
  uploading = true;
  state = State::WaitAck;
  if (loadBlock()) {
    out.push_back({std::string(1, STX), true});
  } else {
    out.push_back({std::string(1, ESC), true});
    finish("complete");
  }
}

int VirtualTarget::QuietAfterMs() const {
  if (InBlock()) return 200;
  // Long enough for any download host to ask for its first block.
  if (mayBeUpload()) return 500;
  return -1;
}

void VirtualTarget::LineQuiet(std::vector<TargetOutput>& out) {
  if (state == State::Data && block == std::string(1, ESC))
    finish("ended by the host's ESC");
  else if (mayBeUpload())
    startUpload(out);
}

void VirtualTarget::HostGone() {
  if (InSession())
    finish(state == State::Data && block == std::string(1, ESC) ? "ended by the host's ESC" : "the host went away");
}

std::string VirtualTarget::Summary() const {
  return std::string(uploading ? "upload" : "download") + " " + ending + ": " + std::to_string(blocks) +
         " blocks of " + std::to_string(blockSize) + " bytes (" + path + ")";
}

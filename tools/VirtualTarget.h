// The programmer's end of the block protocol, for the virtual programmer:
// answers the host's handshake with its block size, takes the blocks of a
// download, sends the blocks of an upload, and can be told to misbehave.
// Plain byte logic; the caller moves the bytes and keeps the time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct TargetOptions {
  std::uint8_t sizeCode = 0x00;       // 0x00: 256-byte blocks, else 128
  std::uint8_t handshakeAck = 0x06;   // anything else makes a wrong handshake
  bool silent = false;                // never answers anything
  int nakRequest = 0;                 // download: the block request (from 1) answered with NAK
  int escRequest = 0;                 // download: the block request answered with ESC
  int strayAfterBlock = 0;            // upload: a lone 0x41 after this block (from 1)
  bool escBehindLast = false;         // upload: ESC in the same write as the last block
  int stallAfterBlock = 0;            // after this block (from 1), no answer but to the host's ESC
};

// Something to send. A lone byte must not reach the host together with
// another lone byte, which would look like the start of a block: it goes out
// only once the host has taken a lone byte sent before it.
struct TargetOutput {
  std::string bytes;
  bool alone;
};

class VirtualTarget {
 public:
  // Store and Serve take a download into a file, or answer an upload with a
  // file's bytes. Memory is a programmer's memory kept in a file: a download
  // writes its whole blocks over it from address 0 (the rest stays), an
  // upload reads all of it.
  enum class Role { Store, Serve, Memory };

  explicit VirtualTarget(const TargetOptions& options) : options(options) {}
  ~VirtualTarget() { closeFile(); }
  VirtualTarget(const VirtualTarget&) = delete;
  VirtualTarget& operator=(const VirtualTarget&) = delete;

  // A new session that waits for the host's handshake. Store writes every
  // block of a download to the file; Serve sends the file's bytes as an
  // upload, the last block filled up with 0xFF. The file is opened when the
  // handshake comes, so stray bytes between sessions leave it alone. Memory
  // reads its file then too; a download's blocks replace the file (whole, by
  // a new one renamed over it) when its session ends with at least one.
  void Begin(Role role, const std::string& path);

  // Takes bytes from the host and appends what to send to out. Stops right
  // behind the byte that is answered (its answer is due when that byte has
  // arrived) and returns how many bytes it took. Bytes behind a handshake
  // request in the same call are repeats of it and are all taken and dropped.
  size_t Receive(const std::uint8_t* data, size_t count, std::vector<TargetOutput>& out);

  // True while a download block has begun and is not whole.
  bool InBlock() const { return state == State::Data && !block.empty(); }
  // How long a quiet line is worth a call of LineQuiet, in milliseconds; -1:
  // never.
  int QuietAfterMs() const;
  // The line has been quiet for a while in the middle of a block. A block
  // that is a lone ESC so far is none: the host stopped where the block was
  // due, with the ACK already on its way, and the session ends as after any
  // other ESC of the host. A memory's host that is silent after the
  // handshake (an upload waits for the programmer's request) gets an
  // upload.
  void LineQuiet(std::vector<TargetOutput>& out);
  // Between the host's first request and the session's end.
  bool InSession() const { return state != State::Handshake && state != State::Finished; }
  // The host has closed the line: the session it began ends here, whatever
  // its state.
  void HostGone();

  bool Finished() const { return state == State::Finished; }
  // How the session went, one line for people.
  std::string Summary() const;

 private:
  // Undecided: a memory's session after the handshake, before the host
  // shows which way it goes.
  enum class State { Handshake, Undecided, Request, Data, WaitAck, Finished };
  void sendNextBlock(std::vector<TargetOutput>& out);
  bool loadBlock();
  void finish(const std::string& how);
  void closeFile();
  void startUpload(std::vector<TargetOutput>& out);
  // A memory's session that may still turn out an upload.
  bool mayBeUpload() const {
    return role == Role::Memory && !uploading && blocks == 0 &&
           (state == State::Undecided || (state == State::Data && block.empty()));
  }
  // Past the block after which it stalls.
  bool stalled() const { return options.stallAfterBlock > 0 && blocks >= options.stallAfterBlock; }

  TargetOptions options;
  Role role = Role::Store;
  std::string path;
  std::FILE* file = nullptr;
  State state = State::Finished;
  int blockSize = 256;
  int requests = 0;
  int blocks = 0;
  std::string block;  // a download block being collected, or the next upload block
  bool haveBlock = false;
  std::string ending;
  bool uploading = false;  // the session is an upload
  std::string memory;      // Memory: the programmer's memory
  size_t served = 0;       // Memory: the bytes of it sent so far
};

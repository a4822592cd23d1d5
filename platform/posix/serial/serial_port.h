// The kernel objects behind the handles CreateFileA gives: a serial port over
// a terminal device, with its pending overlapped requests, and a plain file
// for anything else. Internal to the serial stand-in: its Win32 functions
// (comm.cpp) only translate handles, arguments and errors to the port's
// operations.
//
// A port has no thread of its own. The thread that waits for a pending
// request (in WaitForSingleObject on its event, or in GetOverlappedResult)
// drives the port: it waits on the device and the close's notice, and then
// takes what happened since it last looked. The device wakes it only for
// what its request waits for (an event wait that watches no arrivals sleeps
// through them), and a hang-up always. EV_RXCHAR comes from a count of
// received bytes that only grows (reads do not lower it, so a reader cannot
// hide an arrival), EV_TXEMPTY from the output queue, and the modem-line,
// break and error events from the line state and the driver's counters, read
// every few milliseconds while they are watched on a device that has them.
// What happens while nobody waits is found at the next look, as Windows keeps
// its events until the next WaitCommEvent.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/serial/comm.h"
#include "platform/posix/handles.h"
#include "platform/posix/serial/line_watch.h"

using SerialClock = std::chrono::steady_clock;

// Ends an overlapped record (if any) with an error and a byte count and
// signals its event.
void CompleteRecord(OVERLAPPED* ov, DWORD error, DWORD bytes);
// Marks a record pending and arms its event, so that a wait for it drives
// the request's device.
void StartRecord(OVERLAPPED* ov, std::weak_ptr<RequestDriver> driver);

// Anything opened that is not a terminal.
class PlainFile final : public KernelObject {
 public:
  explicit PlainFile(int fd) : fd(fd) {}
  ~PlainFile() override;
  const int fd;
};

struct ReadRequest {
  OVERLAPPED* ov;
  char* buffer;
  DWORD count;
  DWORD done;
  std::optional<SerialClock::time_point> deadline;  // total timeout
  DWORD interval;                                   // between bytes; 0 none
  SerialClock::time_point lastByte;
  bool anyByte;  // complete as soon as one byte is there
};

struct EventRequest {
  OVERLAPPED* ov;
  DWORD* mask;
};

// A write whose bytes the device has not all taken yet.
struct WriteRequest {
  OVERLAPPED* ov;
  const char* bytes;
  DWORD count;
  DWORD done;
  std::optional<SerialClock::time_point> deadline;  // total timeout
};

class SerialPort final : public KernelObject, public std::enable_shared_from_this<SerialPort> {
 public:
  SerialPort(int fd, std::string path, bool exclusive) : fd(fd), path(std::move(path)), exclusive(exclusive) {}
  ~SerialPort() override { Close(); }

  // Puts the driver into low latency and takes the device's control block
  // and what the driver can tell. The operations below give a Win32 error:
  // ERROR_SUCCESS when done, ERROR_IO_PENDING for a request that goes on
  // with its record.
  DWORD Start(const DCB& initial);

  // CloseHandle: ends every pending request and closes the device.
  void HandleClosed() override { Close(); }

  // GetCommState, SetCommState, GetCommTimeouts, SetCommTimeouts, GetCommMask.
  DCB State();
  DWORD SetState(const DCB& dcb);
  COMMTIMEOUTS Timeouts();
  void SetTimeouts(const COMMTIMEOUTS& timeouts);
  DWORD Mask();
  // SetCommMask: the events are watched from now on (what happened before
  // is not reported), and a wait in progress ends with none, as on Windows.
  DWORD SetMask(DWORD mask);
  // WaitCommEvent: what happened since the last report completes it at once
  // into mask; otherwise it stays pending with its record.
  DWORD BeginEventWait(DWORD* mask, OVERLAPPED* ov);
  // ClearCommError: the errors since the last call (cleared), and the queues.
  DWORD CountsAndErrors(DWORD* errors, COMSTAT* stat);
  // PurgeComm.
  DWORD Purge(DWORD flags);
  // ReadFile: what is there under the timeouts; without a record the caller
  // waits here for the rest, with one it stays pending. The bytes so far in done.
  DWORD StartRead(OVERLAPPED* ov, void* buffer, DWORD count, DWORD& done);
  // WriteFile: everything is handed to the device before the write
  // completes, and a write timeout ends it with what went out so far. What
  // the device does not take at once stays pending with a record, and is
  // waited for here without one. The bytes written so far in done.
  DWORD Write(OVERLAPPED* ov, const void* bytes, DWORD count, DWORD& done);
  // GetOverlappedResult: drives the port until the request of ov is done,
  // or looks once when the caller does not wait.
  void Await(OVERLAPPED* ov, bool wait);
  // EscapeCommFunction and GetCommModemStatus.
  DWORD Escape(DWORD function);
  DWORD ModemStatus(DWORD& status);

  // Adds the device to an epoll set (while it is open) with events and
  // data; false when it is closed or the set refuses it.
  bool AddTo(int set, std::uint32_t events, std::uint64_t data);
  // The notice given each time bytes are taken off the device for the event
  // character, for waits of their own (PortArrivals): epoll looks at the
  // device again before it reports an edge, and misses one whose bytes were
  // taken meanwhile.
  int TakenNotice() const { return takenFd; }

 private:
  // What a thread that drives the port waits for: it is woken by the device
  // and by the other threads only for that (and for a hang-up or the close).
  enum class Concern { Event, Read, Write };

  // Drives the port for a wait on the event of a record of one concern.
  struct Driver final : RequestDriver {
    Driver(SerialPort& port, Concern concern) : port(port), concern(concern) {}
    void DriveUntil(const std::function<bool()>& done, DWORD milliseconds) override;
    SerialPort& port;
    const Concern concern;
  };

  // Keeps the descriptor open for the duration of one call.
  class Use {
   public:
    explicit Use(SerialPort& port) : lock(port.fdUse), open(!port.closed) {}
    explicit operator bool() const { return open; }

   private:
    std::shared_lock<std::shared_mutex> lock;
    bool open;
  };

  // An epoll set of one concern: the device, the close and its Notify.
  struct WaitSet {
    int fd;
    Concern concern;
    std::uint32_t interest;  // the device's epoll events in it
  };

  // Runs call while the descriptor stays open: ERROR_INVALID_HANDLE once
  // the port is closed, ERROR_BAD_COMMAND once the device has gone.
  template <class Call>
  DWORD WhileOpen(Call call);

  // The Win32 error for a system call on the device that failed with err;
  // a hang-up marks the device gone.
  DWORD ErrorFrom(int err);

  void CompleteEvent(DWORD mask, DWORD error);
  void CompleteRead(DWORD error);
  void CompleteWrite(DWORD error);

  // Adds the watched ones among events and ends a pending event wait.
  void Report(DWORD events);
  // Bytes were taken off the device (read, purged, or looked through): those
  // the last look did not count are an arrival, whoever took them, reported
  // here since the device gives no notice of bytes already taken.
  void Consume(size_t count);

  // The CE_ flags of the errors the driver counted since the last call,
  // with waiting bytes in the input queue. Under the lock.
  DWORD TakeErrors(size_t waiting);

  // The bytes in the output queue, asked only while a write's bytes may
  // wait there (-1 with errno when the device fails). Under the lock.
  int Unsent();

  // A write put bytes out: EV_TXEMPTY follows once the output queue is
  // empty, at once when it is already. Under the lock.
  void WatchDrain();

  // Wakes the threads that drive the port for concern, to look again.
  // Under the lock.
  void Notify(Concern concern);
  // The driver that a record's event hands the waits for it to.
  std::weak_ptr<RequestDriver> DriverFor(Concern concern);

  // Takes what happened since the last look into the events, and moves a
  // pending read on (ending it when it is done). Under the lock.
  void Look();

  // Waits (the lock given up meanwhile) until input may have come, the
  // timeout (-1: none) has passed or the port closes; false on timeout or
  // closing.
  bool WaitForInput(std::unique_lock<std::mutex>& lock, int timeoutMs);

  // Moves what is waiting into the request; true when the request is done
  // under the timeouts (error set when the device failed or is gone).
  bool Advance(ReadRequest& request, DWORD& error);

  // Milliseconds until the request's next timeout, -1 without one.
  static int NextTimeout(const ReadRequest& request);

  // A read of count bytes into buffer under the port's timeouts.
  ReadRequest NewRead(OVERLAPPED* ov, void* buffer, DWORD count) const;

  // Drives the port (the lock given up while it waits) until done() holds,
  // the deadline (none: no limit) has passed, or the port has closed or gone.
  void Drive(std::unique_lock<std::mutex>& lock, Concern concern, const std::function<bool()>& done,
             std::optional<SerialClock::time_point> deadline);

  // Ends every pending request and closes the device.
  void Close();
  // Gives the output queue the time its bytes take on the line, and then
  // discards the rest, as Windows' serial driver does at the close: the
  // kernel would otherwise hold the close for its own closing wait (30 s on
  // a UART) while flow control holds the output.
  void DrainBeforeClose();

  // Ends the pending requests of a device that has gone; under the lock.
  void EndRequestsGone();
  // A write of count bytes under the port's timeouts.
  WriteRequest NewWrite(OVERLAPPED* ov, const void* bytes, DWORD count) const;
  // Hands the device what it takes now; true when the request is done: all
  // written, its time is up, or the device failed (error set).
  bool AdvanceWrite(WriteRequest& request, DWORD& error);
  // Completes a write's record; EV_TXEMPTY follows once its bytes have left.
  void EndWrite(const WriteRequest& request, DWORD error);
  // Moves what waits in the device into taken; EV_RXFLAG when the event
  // character is among it. Under the lock.
  DWORD TakeInput();
  // The events since the last look at the modem lines and counters. Under the lock.
  DWORD LineEvents();
  // Milliseconds until the next look for concern is due without a notice
  // from the device (-1: none). Under the lock.
  int NextLook(Concern concern) const;
  // The device's epoll events that concern waits for now. Under the lock.
  std::uint32_t Interest(Concern concern) const;
  // A set that waits for the device, the close and Notify of concern: from
  // the port's idle ones or new; given back after the wait. Under the lock.
  WaitSet TakeWaitSet(Concern concern);

  const int fd;
  const std::string path;  // the device's, for what must reach it once the descriptor is hung up
  const bool exclusive;
  std::optional<int> serialFlags;  // the driver's flags before low latency, restored at the close
  const LineCalls* lineCalls = nullptr;  // the modem-line calls of this open period
  bool hasModemLines = false;
  bool hasCounters = false;  // the driver counts line changes, breaks and errors
  int closingFd = -1;
  std::atomic<bool> closed{false};
  // The device went away for good: unplugged, or the far end of a
  // pseudo-terminal closed, which the kernel reports as a hang-up. From then
  // on every call fails, and every pending request ends, with
  // ERROR_BAD_COMMAND, as a removed USB serial device answers on Windows.
  std::atomic<bool> gone{false};
  std::shared_mutex fdUse;
  std::mutex mutex;  // guards everything below
  DCB dcb{};
  COMMTIMEOUTS timeouts{};
  DWORD eventMask = 0;
  DWORD occurred = 0;  // events seen since the last report
  // Bytes taken off the device so far (read, purged, or taken to look for
  // the event character): with the input queue, the count of every byte
  // received, which only grows.
  std::uint64_t consumed = 0;
  // Bytes taken off the device to look for the event character (only while
  // a wait for EV_RXFLAG drives the port): reads take them first, and the
  // queue counts them.
  std::string taken;
  std::optional<EventRequest> pendingEvent;
  std::optional<ReadRequest> pendingRead;
  std::optional<WriteRequest> pendingWrite;
  int takenFd = -1;    // readable while taken may hold bytes a waiting read has not seen
  Driver requestDrivers[3] = {{*this, Concern::Event}, {*this, Concern::Read}, {*this, Concern::Write}};
  int changedFds[3] = {-1, -1, -1};  // by concern: each write wakes its driving threads
  std::vector<WaitSet> idleWaitSets;
  int drivers[3] = {};               // by concern: threads driving the port now
  std::uint64_t seenReceived = 0;  // the received count at the last look
  bool draining = false;          // EV_TXEMPTY is due when the output queue is empty
  int unsent = 0;                 // the output queue when last asked
  SerialClock::time_point nextLineLook{};
  int lastLines = 0;
  serial_icounter_struct eventCounts{};  // the counters when events were last taken from them
  serial_icounter_struct errorCounts{};  // the same for the error flags
  std::uint64_t errorsLookedAt = 0;      // the received count when the error flags were taken
  bool unsentMayWait = false;            // a write's bytes may be in the output queue since it was last asked
};

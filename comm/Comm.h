// The serial port component: a COM device opened for overlapped I/O, its line
// settings, polled reading and writing with fixed timeouts, the modem-control
// lines, and a watcher thread that hands line events to handlers on the
// user-interface thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>

#include "comm/Thread.h"
#include "platform/Events.h"
#include "platform/winapi.h"

// A set of enumeration members: bit n stands for the member of ordinal n.
template <class E>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> members) {
    for (E member : members) bits |= 1u << member;
  }
  constexpr bool Contains(E member) const { return (bits >> member) & 1u; }
  constexpr std::uint32_t Bits() const { return bits; }
  friend constexpr bool operator==(TSet, TSet) = default;

 private:
  std::uint32_t bits = 0;
};

enum TBaudRate {
  br110, br300, br600, br1200, br2400, br4800, br9600, br14400,
  br19200, br38400, br56000, br57600, br115200, br128000, br256000
};
enum TParity { paNone, paOdd, paEven, paMark, paSpace };
enum TStopBits { sb10, sb15, sb20 };
enum TDataBits { da4, da5, da6, da7, da8 };
enum TFlowControl { fcNone, fcCTS, fcDTR, fcSoftware, fcDefault };
enum TCommOption { coParityCheck, coDsrSensitivity, coIgnoreXOff, coErrorChar, coNullStrip };
enum TCommEventType { evBreak, evCts, evDsr, evError, evRing, evRlsd, evRxChar, evRxFlag, evTxEmpty };
using TCommOptions = TSet<TCommOption>;
using TCommEventTypes = TSet<TCommEventType>;

// The EV_ mask bits of a set of events.
DWORD CommEventMask(TCommEventTypes events);

using TCommErrorEvent = TMethod<void(TObject* Sender, int Errors)>;
using TCommRxCharEvent = TMethod<void(TObject* Sender, DWORD Count)>;
using TCommStatEvent = TMethod<void(TObject* Sender, DWORD Status, COMSTAT ComStat)>;
using TCommSignalEvent = TMethod<void(TObject* Sender, DWORD Status)>;

class TThreadComm;

// The watcher: waits on the port for line events and hands each one,
// synchronously, to the user-interface thread.
class TCommEventThread : public TThread {
 public:
  // Created suspended; narrows the port's event mask to Events.
  TCommEventThread(HANDLE Handle, TCommEventTypes Events, DWORD SuspendTime);

  // Set by the port's Open, cleared by its Close; called on the
  // user-interface thread.
  TCommSignalEvent OnSignal;
  DWORD SuspendTime() const { return FSuspendTime; }
  // Ends the thread as the port's Close does: like Terminate, but the body
  // skips its closing purge, which would throw away what was just written
  // (a transfer's final ESC) before it left the device.
  void Abandon();

 protected:
  void Execute() override;

 private:
  HANDLE FCommHandle;
  DWORD FEventMask = 0;
  DWORD FSuspendTime;  // kept; the watcher's waits need no pause
  std::atomic<bool> FAbandoned{false};
};

// The five characters the port writes into its control block.
class TCommEventChars : public TObject {
 public:
  explicit TCommEventChars(TThreadComm* Owner);

  char XOnChar() const { return FChars[0]; }
  char XOffChar() const { return FChars[1]; }
  char ErrorChar() const { return FChars[2]; }
  char EofChar() const { return FChars[3]; }
  char EvtChar() const { return FChars[4]; }
  // Index 1 XOnChar, 2 XOffChar, 3 ErrorChar, 4 EofChar, 5 EvtChar (any other
  // stores nothing); then the owner writes its control block, which may raise.
  void SetEventChar(int Index, char Value);
  void SetXOnChar(char Value) { SetEventChar(1, Value); }
  void SetXOffChar(char Value) { SetEventChar(2, Value); }
  void SetErrorChar(char Value) { SetEventChar(3, Value); }
  void SetEofChar(char Value) { SetEventChar(4, Value); }
  void SetEvtChar(char Value) { SetEventChar(5, Value); }

  // Copies the characters of another TCommEventChars without writing to the
  // device; any other source is refused.
  void Assign(const TObject* Source);

 private:
  TThreadComm* FOwner;
  char FChars[5] = {17, 19, 0, 0, 0};
};

class TThreadComm : public TObject {
 public:
  explicit TThreadComm(TObject* AOwner = nullptr);
  ~TThreadComm() override;
  TThreadComm(const TThreadComm&) = delete;
  TThreadComm& operator=(const TThreadComm&) = delete;

  TObject* Owner() const { return FOwner; }

  // Opens the device and starts the watcher. A device that cannot be opened
  // leaves the port closed without an error.
  void Open();
  // Stops the watcher (no handler runs once Close has begun) and closes the
  // device.
  void Close();
  bool Enabled() const { return FOpen; }
  void CheckOpen();

  // -1 when closed; otherwise the bytes moved, or waiting. A device that
  // has gone while the port is open (an adapter pulled out) raises
  // "ClearCommError failure (Error: %d)" with the platform's error.
  int Write(const void* Buffer, DWORD Count);
  // Write for a caller that keeps its own checks going meanwhile (a stop
  // button, signals, a time limit): while the line does not take the bytes,
  // the wait rests a watcher's heartbeat at a time and asks keepOn after
  // each; once it says no, the write ends (PURGE_TXABORT) with what went out.
  int Write(const void* Buffer, DWORD Count, const std::function<bool()>& keepOn);
  int Read(void* Buffer, DWORD Count);
  int InQueCount();
  int OutQueCount();
  void PurgeIn();
  void PurgeOut();

  void SetDTRState(bool State);
  void SetRTSState(bool State);
  void SetBREAKState(bool State);
  void SetXONState(bool State);
  void EscapeComm(DWORD Function);
  bool GetModemState(int Index);
  bool GetComState(int Index);

  void UpdateCommTimeouts();
  void UpdateDataControlBlock();
  void UpdateDataControlBlockLock();
  void Lock() { FLock.lock(); }
  void Unlock() { FLock.unlock(); }

  virtual void CreateHandle();
  void DestroyHandle();
  HANDLE Handle() const { return FHandle; }

  // The watcher's hand-over, on the user-interface thread.
  void HandleCommEvent(TObject* Sender, DWORD Status);

  const std::string& DeviceName() const { return FDeviceName; }
  void SetDeviceName(const std::string& Value);
  std::int32_t ReadTimeout() const { return FReadTimeout; }
  void SetReadTimeout(std::int32_t Value) { FReadTimeout = Value; }
  std::int32_t WriteTimeout() const { return FWriteTimeout; }
  void SetWriteTimeout(std::int32_t Value) { FWriteTimeout = Value; }
  std::uint16_t ReadBufSize() const { return FReadBufSize; }
  void SetReadBufSize(std::uint16_t Value);
  std::uint16_t WriteBufSize() const { return FWriteBufSize; }
  void SetWriteBufSize(std::uint16_t Value);
  DWORD SuspendTime() const { return FSuspendTime; }
  void SetSuspendTime(DWORD Value);
  TCommEventTypes MonitorEvents() const { return FMonitorEvents; }
  void SetMonitorEvents(TCommEventTypes Value);
  TBaudRate BaudRate() const { return FBaudRate; }
  void SetBaudRate(TBaudRate Value);
  TParity Parity() const { return FParity; }
  void SetParity(TParity Value);
  TStopBits StopBits() const { return FStopBits; }
  void SetStopBits(TStopBits Value);
  TDataBits DataBits() const { return FDataBits; }
  void SetDataBits(TDataBits Value);
  TCommOptions Options() const { return FOptions; }
  void SetOptions(TCommOptions Value);
  TFlowControl FlowControl() const { return FFlowControl; }
  void SetFlowControl(TFlowControl Value);
  TCommEventChars& EventChars() { return *FEventChars; }

  TNotifyEvent OnBreak;
  TNotifyEvent OnCts;
  TNotifyEvent OnDsr;
  TNotifyEvent OnRing;
  TNotifyEvent OnRlsd;
  TCommErrorEvent OnError;
  TCommRxCharEvent OnRxChar;
  TNotifyEvent OnRxFlag;
  TNotifyEvent OnTxEmpty;
  TCommStatEvent OnComStatEvent;

 protected:
  HANDLE FHandle = INVALID_HANDLE_VALUE;
  bool FOpen = false;

 private:
  template <class T>
  void Reapply(T& field, T value);
  // ClearCommError's status; raises when it fails.
  COMSTAT ClearErrors();

  TObject* FOwner;
  DCB FDCB{};
  OVERLAPPED FWriteOS{};
  OVERLAPPED FReadOS{};
  std::recursive_mutex FLock;
  std::unique_ptr<TCommEventThread> FEventThread;
  std::unique_ptr<TCommEventChars> FEventChars;
  unsigned FClosings = 0;  // counts Close calls, so a dispatch in progress notices one

  std::string FDeviceName = "Com2";
  std::int32_t FReadTimeout = 1000;
  std::int32_t FWriteTimeout = 1000;
  std::uint16_t FReadBufSize = 4096;
  std::uint16_t FWriteBufSize = 2048;
  DWORD FSuspendTime = 5;
  TCommEventTypes FMonitorEvents{evBreak, evCts, evDsr, evError, evRing, evRlsd, evRxChar, evRxFlag, evTxEmpty};
  TBaudRate FBaudRate = br9600;
  TParity FParity = paNone;
  TStopBits FStopBits = sb10;
  TDataBits FDataBits = da8;
  TCommOptions FOptions;
  TFlowControl FFlowControl = fcDefault;
};

// The component as dialogs use it.
class TComm : public TThreadComm {
 public:
  explicit TComm(TObject* AOwner = nullptr) : TThreadComm(AOwner) {}
  ~TComm() override = default;
};

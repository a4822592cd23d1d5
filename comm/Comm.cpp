#include "comm/Comm.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "platform/PortWait.h"

namespace {

constexpr DWORD kAllEvents = 0x01FF;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr DWORD kBaudRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                19200, 38400, 56000, 57600, 115200, 128000, 256000};
constexpr BYTE kParities[] = {NOPARITY, EVENPARITY, ODDPARITY, MARKPARITY, SPACEPARITY};
constexpr BYTE kStopBits[] = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};
constexpr DWORD kEventBits[] = {EV_BREAK, EV_CTS, EV_DSR, EV_ERR, EV_RING, EV_RLSD, EV_RXCHAR, EV_RXFLAG, EV_TXEMPTY};

// A wait that failed because the device has gone (a removed adapter), the
// handle is no longer open, or the device cannot wait for events at all (Wine
// on a pseudo-terminal): no later wait can succeed.
bool NoLaterWaitCanSucceed(DWORD error) {
  return error == ERROR_BAD_COMMAND || error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_HANDLE ||
         error == ERROR_NOT_SUPPORTED;
}

[[noreturn]] void RaiseCommError(const char* format, int error) {
  char text[128];
  std::snprintf(text, sizeof text, format, error);
  throw std::runtime_error(text);
}

// Milliseconds per byte that a write may take: 19200 divided by the speed's
// ordinal. The slowest speed has ordinal 0 and gets the largest value the
// rule gives.
DWORD WriteMultiplier(TBaudRate rate) { return 19200 / (rate == br110 ? 1 : static_cast<DWORD>(rate)); }

}  // namespace

DWORD CommEventMask(TCommEventTypes events) {
  DWORD mask = 0;
  for (int member = evBreak; member <= evTxEmpty; ++member)
    if (events.Contains(static_cast<TCommEventType>(member))) mask += kEventBits[member];
  return mask;
}

// --- watcher ---

TCommEventThread::TCommEventThread(HANDLE Handle, TCommEventTypes Events, DWORD SuspendTime)
    : FCommHandle(Handle), FSuspendTime(SuspendTime) {
  SetCommMask(FCommHandle, CommEventMask(Events));
}

void TCommEventThread::Execute() {
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  // The event goes also when a handler's exception ends the body.
  const std::unique_ptr<void, BOOL (*)(HANDLE)> event(overlapped.hEvent, CloseHandle);
  bool failedBefore = false;
  while (!Terminated()) {
    bool ok = WaitCommEvent(FCommHandle, &FEventMask, &overlapped) != FALSE;
    if (GetLastError() == ERROR_IO_PENDING) {
      DWORD unused = 0;
      ok = WaitForSingleObject(overlapped.hEvent, INFINITE) == WAIT_OBJECT_0 &&
           GetOverlappedResult(FCommHandle, &overlapped, &unused, FALSE);
    }
    if (ok) {
      Synchronize([this] {
        const TCommSignalEvent signal = OnSignal;  // Close may clear OnSignal while it runs
        signal(this, FEventMask);
      });
    } else if (NoLaterWaitCanSucceed(GetLastError())) {
      // Every further wait would fail at once: the watcher ends instead of
      // spinning, and Close finds it finished.
      return;
    }
    // Any other failure passes (a receive error under fAbortOnError fails
    // waits until ClearCommError): the watcher waits again, after a pause
    // when the wait before failed too, so that a driver that fails every
    // wait does not keep a processor busy.
    if (!ok && failedBefore) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    failedBefore = !ok;
    ResetEvent(overlapped.hEvent);
  }
  if (!FAbandoned) PurgeComm(FCommHandle, kPurgeAll);
}

void TCommEventThread::Abandon() {
  FAbandoned = true;
  Terminate();
}

// --- event characters ---

TCommEventChars::TCommEventChars(TThreadComm* Owner) : FOwner(Owner) {}

void TCommEventChars::SetEventChar(int Index, char Value) {
  if (Index >= 1 && Index <= 5) FChars[Index - 1] = Value;
  if (FOwner) FOwner->UpdateDataControlBlock();
}

void TCommEventChars::Assign(const TObject* Source) {
  const auto* chars = dynamic_cast<const TCommEventChars*>(Source);
  if (!chars) throw std::runtime_error("Cannot assign to a TCommEventChars");
  std::copy(std::begin(chars->FChars), std::end(chars->FChars), std::begin(FChars));
}

// --- port ---

TThreadComm::TThreadComm(TObject* AOwner) : FOwner(AOwner), FEventChars(std::make_unique<TCommEventChars>(this)) {
  FWriteOS.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  FReadOS.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

TThreadComm::~TThreadComm() {
  Close();
  FEventChars.reset();
  CloseHandle(FWriteOS.hEvent);
  CloseHandle(FReadOS.hEvent);
}

void TThreadComm::Open() {
  std::string error;
  {
    std::lock_guard lock(FLock);
    if (FOpen) RaiseCommError("Port already assigned (open) (Error: %d)", -1);
    CreateHandle();
    if (!FOpen) return;
    UpdateCommTimeouts();
    UpdateDataControlBlock();
    if (!SetupComm(FHandle, FReadBufSize, FWriteBufSize)) {
      char text[128];
      std::snprintf(text, sizeof text, "Error initializing Read/Write Buffers (Error: %d)",
                    static_cast<int>(GetLastError()));
      error = text;
    }
    FEventThread = std::make_unique<TCommEventThread>(FHandle, FMonitorEvents, FSuspendTime);
    FEventThread->OnSignal = TCommSignalEvent(this, &TThreadComm::HandleCommEvent);
    FEventThread->Resume();
  }
  if (!error.empty()) throw std::runtime_error(error);
}

void TThreadComm::Close() {
  if (!FOpen) return;
  std::lock_guard lock(FLock);
  ++FClosings;
  if (FEventThread) {
    // From here no event reaches the handlers; a hand-over the watcher waits
    // for is released, and closing the handle ends its wait.
    FEventThread->OnSignal = {};
    FEventThread->Abandon();
  }
  DestroyHandle();
  if (FEventThread) {
    FEventThread->WaitFor();
    FEventThread.reset();
  }
}

void TThreadComm::CheckOpen() {
  if (FOpen) RaiseCommError("Port already assigned (open) (Error: %d)", -1);
}

void TThreadComm::CreateHandle() {
  FHandle = CreateFileA(FDeviceName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  FOpen = FHandle != INVALID_HANDLE_VALUE;
  if (!FOpen) return;
  if (GetFileType(FHandle) != FILE_TYPE_CHAR)
    DestroyHandle();
  else
    SetCommMask(FHandle, kAllEvents);
}

void TThreadComm::DestroyHandle() {
  CloseHandle(FHandle);
  FOpen = false;
  FHandle = INVALID_HANDLE_VALUE;
}

COMSTAT TThreadComm::ClearErrors() {
  DWORD errors = 0;
  COMSTAT stat{};
  // It fails only on a device that is no longer there (a removed adapter).
  if (!ClearCommError(FHandle, &errors, &stat))
    RaiseCommError("ClearCommError failure (Error: %d)", static_cast<int>(GetLastError()));
  return stat;
}

int TThreadComm::Write(const void* Buffer, DWORD Count) { return Write(Buffer, Count, {}); }

int TThreadComm::Write(const void* Buffer, DWORD Count, const std::function<bool()>& keepOn) {
  if (!FOpen) return -1;
  std::lock_guard lock(FLock);
  DWORD n = 0;
  if (WriteFile(FHandle, Buffer, Count, &n, &FWriteOS)) return static_cast<int>(n);
  if (GetLastError() != ERROR_IO_PENDING) {
    ClearErrors();
    return 0;
  }
  if (keepOn) {
    // The write must not outlive this call, whatever keepOn raises: its
    // bytes are the caller's.
    bool abandon = false;
    try {
      while (!abandon && WaitForSingleObject(FWriteOS.hEvent, PortArrivals::HeartbeatMs) == WAIT_TIMEOUT)
        abandon = !keepOn();
    } catch (...) {
      PurgeComm(FHandle, PURGE_TXABORT);
      GetOverlappedResult(FHandle, &FWriteOS, &n, TRUE);
      throw;
    }
    // keepOn may have closed the port, which ended the write.
    if (!FOpen) return -1;
    if (abandon) PurgeComm(FHandle, PURGE_TXABORT);
  }
  // The thread waits for the device without spinning.
  if (!GetOverlappedResult(FHandle, &FWriteOS, &n, TRUE)) ClearErrors();
  return static_cast<int>(n);
}

int TThreadComm::Read(void* Buffer, DWORD Count) {
  if (!FOpen) return -1;
  std::lock_guard lock(FLock);
  ClearErrors();
  if (Count == 0) {
    ClearErrors();
    return 0;
  }
  DWORD n = 0;
  if (ReadFile(FHandle, Buffer, Count, &n, &FReadOS)) return static_cast<int>(n);
  if (GetLastError() != ERROR_IO_PENDING) {
    // A device that went after the first check gives no short read but its error.
    ClearErrors();
    return 0;
  }
  if (!GetOverlappedResult(FHandle, &FReadOS, &n, TRUE)) ClearErrors();
  return static_cast<int>(n);
}

int TThreadComm::InQueCount() { return FOpen ? static_cast<int>(ClearErrors().cbInQue) : -1; }

int TThreadComm::OutQueCount() { return FOpen ? static_cast<int>(ClearErrors().cbOutQue) : -1; }

void TThreadComm::PurgeIn() {
  if (FOpen) PurgeComm(FHandle, PURGE_RXABORT | PURGE_RXCLEAR);
}

void TThreadComm::PurgeOut() {
  if (FOpen) PurgeComm(FHandle, PURGE_TXABORT | PURGE_TXCLEAR);
}

void TThreadComm::SetDTRState(bool State) { EscapeComm(State ? SETDTR : CLRDTR); }

void TThreadComm::SetRTSState(bool State) { EscapeComm(State ? SETRTS : CLRRTS); }

void TThreadComm::SetBREAKState(bool State) {
  EscapeComm(State ? SETBREAK : CLRBREAK);
  if (FOpen) {
    std::lock_guard lock(FLock);
    PurgeComm(FHandle, kPurgeAll);
  }
}

void TThreadComm::SetXONState(bool State) { EscapeComm(State ? SETXON : SETXOFF); }

void TThreadComm::EscapeComm(DWORD Function) {
  if (!FOpen) RaiseCommError("Port not open (Error: %d)", -1);
  BOOL ok;
  DWORD error;
  {
    std::lock_guard lock(FLock);
    ok = EscapeCommFunction(FHandle, Function);
    error = GetLastError();
  }
  if (!ok) RaiseCommError("EscapeCommFunction failure (Error: %d)", static_cast<int>(error));
}

bool TThreadComm::GetModemState(int Index) {
  static const DWORD masks[] = {0, MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON};
  const DWORD mask = Index >= 1 && Index <= 4 ? masks[Index] : 0;
  DWORD status = 0;
  return FOpen && GetCommModemStatus(FHandle, &status) && (status & mask) != 0;
}

bool TThreadComm::GetComState(int Index) {
  if (!FOpen) return false;
  DWORD errors = 0;
  COMSTAT stat{};
  ClearCommError(FHandle, &errors, &stat);
  switch (Index) {
    case 2: return stat.fDsrHold;
    case 3: return stat.fRlsdHold;
    case 4: return stat.fXoffHold;
    case 5: return stat.fXoffSent;
    default: return stat.fCtsHold;
  }
}

void TThreadComm::UpdateCommTimeouts() {
  COMMTIMEOUTS timeouts{MAXDWORD, 0, 1000, WriteMultiplier(FBaudRate), 0};
  if (!SetCommTimeouts(FHandle, &timeouts))
    RaiseCommError("Error updating CommTimeouts (Error: %d)", static_cast<int>(GetLastError()));
}

void TThreadComm::UpdateDataControlBlock() {
  if (!FOpen) return;
  SetupComm(FHandle, FReadBufSize, FWriteBufSize);
  GetCommState(FHandle, &FDCB);
  FDCB.BaudRate = kBaudRates[FBaudRate];
  // paOdd writes EVENPARITY and paEven ODDPARITY on purpose: callers rely on these long-standing numbers.
  FDCB.Parity = kParities[FParity];
  FDCB.StopBits = kStopBits[FStopBits];
  FDCB.ByteSize = static_cast<BYTE>(4 + FDataBits);
  FDCB.XonChar = FEventChars->XOnChar();
  FDCB.XoffChar = FEventChars->XOffChar();
  FDCB.ErrorChar = FEventChars->ErrorChar();
  FDCB.EofChar = FEventChars->EofChar();
  FDCB.EvtChar = FEventChars->EvtChar();
  FDCB.XonLim = 1024;
  FDCB.XoffLim = 1024;
  FDCB.fParity = FOptions.Contains(coParityCheck);
  FDCB.fDsrSensitivity = FOptions.Contains(coDsrSensitivity);
  FDCB.fTXContinueOnXoff = FOptions.Contains(coIgnoreXOff);
  FDCB.fErrorChar = FOptions.Contains(coErrorChar);
  FDCB.fNull = FOptions.Contains(coNullStrip);
  if (!SetCommState(FHandle, &FDCB))
    RaiseCommError("Error updating DataControlBlock (Error: %d)", static_cast<int>(GetLastError()));
}

void TThreadComm::UpdateDataControlBlockLock() {
  std::lock_guard lock(FLock);
  UpdateDataControlBlock();
}

void TThreadComm::HandleCommEvent(TObject*, DWORD Status) {
  DWORD errors = 0;
  COMSTAT stat{};
  ClearCommError(FHandle, &errors, &stat);
  // A handler may close the port; from then on no handler runs.
  const unsigned closings = FClosings;
  const auto wanted = [&](DWORD bit) { return (Status & bit) && FClosings == closings; };
  if (wanted(EV_BREAK)) OnBreak(this);
  if (wanted(EV_CTS)) OnCts(this);
  if (wanted(EV_DSR)) OnDsr(this);
  if (wanted(EV_ERR)) OnError(this, static_cast<int>(errors));
  if (wanted(EV_RING)) OnRing(this);
  if (wanted(EV_RLSD)) OnRlsd(this);
  if (wanted(EV_RXCHAR) && stat.cbInQue > 0) OnRxChar(this, stat.cbInQue);
  if (wanted(EV_RXFLAG)) OnRxFlag(this);
  if (wanted(EV_TXEMPTY)) OnTxEmpty(this);
  if (FClosings == closings) OnComStatEvent(this, Status, stat);
}

template <class T>
void TThreadComm::Reapply(T& field, T value) {
  if (field == value) return;
  field = value;
  UpdateDataControlBlockLock();
}

void TThreadComm::SetDeviceName(const std::string& Value) {
  if (!FOpen) FDeviceName = Value;
}

void TThreadComm::SetReadBufSize(std::uint16_t Value) {
  if (!FOpen) FReadBufSize = Value;
}

void TThreadComm::SetWriteBufSize(std::uint16_t Value) {
  if (!FOpen) FWriteBufSize = Value;
}

void TThreadComm::SetSuspendTime(DWORD Value) {
  if (!FOpen) FSuspendTime = Value;
}

void TThreadComm::SetMonitorEvents(TCommEventTypes Value) {
  if (!FOpen) FMonitorEvents = Value;
}

void TThreadComm::SetBaudRate(TBaudRate Value) { Reapply(FBaudRate, Value); }
void TThreadComm::SetParity(TParity Value) { Reapply(FParity, Value); }
void TThreadComm::SetStopBits(TStopBits Value) { Reapply(FStopBits, Value); }
void TThreadComm::SetDataBits(TDataBits Value) { Reapply(FDataBits, Value); }
void TThreadComm::SetOptions(TCommOptions Value) { Reapply(FOptions, Value); }
void TThreadComm::SetFlowControl(TFlowControl Value) { Reapply(FFlowControl, Value); }

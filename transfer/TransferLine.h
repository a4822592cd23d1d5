// The serial line of each transfer direction, set on the port object before
// it is opened, its opening, and the port object as the block protocol's
// port. The upload and download dialogs and the command-line tool share
// them, so that the tool drives the line exactly as the dialogs do.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

#include "comm/Comm.h"
#include "platform/PortWait.h"
#include "platform/winapi.h"
#include "transfer/BlockProtocol.h"

// The receiving side: an input queue for one largest block and its two
// control bytes; XOFF ignored; only arrivals are watched.
void SetUploadLine(TComm& comm);

// Opens the port by its name and raises RTS and DTR, as the dialogs do when
// they are shown; an open port is closed first. False when any step fails; a
// device that did not open leaves the system's reason in openError
// (ERROR_SUCCESS otherwise).
bool OpenTransferLine(TComm& comm, const std::string& deviceName, DWORD& openError);

// The sending side: an output queue for one largest block and its two
// control bytes; every event stays watched.
void SetDownloadLine(TComm& comm);

// Any object with InQueCount, Read, Write and DeviceName (the dialogs' TComm)
// as a port. What those raise, they raise only for a device that no longer
// answers. Arrivals are noticed when the object shows its Win32 handle (as
// TComm does) and the port is open when the PortOf is made.
template <class Comm>
class PortOf final : public TransferPort {
 public:
  explicit PortOf(Comm& comm) : comm(comm), arrivals(HandleOf(comm)) {}
  int InQueCount() override {
    return Guard([&] { return comm.InQueCount(); });
  }
  int Read(void* buffer, int count) override {
    return Guard([&] { return comm.Read(static_cast<char*>(buffer), count); });
  }
  int Write(const void* buffer, int count) override {
    return Guard([&] {
      if constexpr (requires { comm.Write(buffer, count, keepOn); })
        return comm.Write(buffer, static_cast<DWORD>(count), keepOn);
      else
        return comm.Write(static_cast<const char*>(buffer), count);
    });
  }
  std::string Name() override { return comm.DeviceName(); }
  PortArrivals* Arrivals() override { return &arrivals; }
  void WhileWriting(const std::function<bool()>& check) override { keepOn = check; }

 private:
  static HANDLE HandleOf(Comm& comm) {
    if constexpr (requires { comm.Handle(); })
      return comm.Handle();
    else
      return INVALID_HANDLE_VALUE;
  }
  template <class Call>
  static int Guard(Call call) {
    try {
      return call();
    } catch (const std::runtime_error& error) {
      throw PortGone(error.what());
    }
  }

  Comm& comm;
  PortArrivals arrivals;
  std::function<bool()> keepOn;
};

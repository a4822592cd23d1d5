#include "transfer/TransferLine.h"

#include <exception>

#include "platform/winapi.h"

// Both: 115200 baud without flow control. Data bits, parity and stop bits keep
// the component's 8, none and 1.
void SetUploadLine(TComm& comm) {
  comm.SetBaudRate(br115200);
  comm.SetFlowControl(fcNone);
  comm.SetOptions({coIgnoreXOff});
  comm.SetReadBufSize(258);
  comm.SetWriteBufSize(2);
  comm.SetMonitorEvents({evRxChar});
}

void SetDownloadLine(TComm& comm) {
  comm.SetBaudRate(br115200);
  comm.SetFlowControl(fcNone);
  comm.SetReadBufSize(2);
  comm.SetWriteBufSize(258);
}

bool OpenTransferLine(TComm& comm, const std::string& deviceName, DWORD& openError) {
  openError = ERROR_SUCCESS;
  try {
    if (comm.Enabled()) comm.Close();
    comm.SetDeviceName(deviceName);
    comm.Open();
    if (!comm.Enabled()) openError = GetLastError();
    // A port that did not open fails here with its "not open" error.
    comm.SetRTSState(true);
    comm.SetDTRState(true);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

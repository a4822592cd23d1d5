#include "transfer/TransferLine.h"

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

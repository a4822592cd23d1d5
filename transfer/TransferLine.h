// The serial line of each transfer direction, set on the port object before
// it is opened, and its opening. The upload and download dialogs and the command-line tool
// share them, so that the tool drives the line exactly as the dialogs do.
#pragma once

#include <string>

#include "comm/Comm.h"

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

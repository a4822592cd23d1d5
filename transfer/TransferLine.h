// The serial line of each transfer direction, set on the port object before
// it is opened. The upload and download dialogs and the command-line tool
// share them, so that the tool drives the line exactly as the dialogs do.
#pragma once

#include "comm/Comm.h"

// The receiving side: an input queue for one largest block and its two
// control bytes; XOFF ignored; only arrivals are watched.
void SetUploadLine(TComm& comm);

// The sending side: an output queue for one largest block and its two
// control bytes; every event stays watched.
void SetDownloadLine(TComm& comm);

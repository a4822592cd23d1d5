// The standard streams of a process. One declaration for every platform; the
// POSIX version lives in platform/posix.
#pragma once

// Makes sure standard input, output and error are open, on the null device
// where the starter left them closed, so that nothing opened later (a port, a
// file) takes their place and gets what was meant for them. Called first in
// every main, before anything is opened.
void OpenMissingStandardStreams();

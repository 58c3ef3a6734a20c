#pragma once
// `kestrel --run FILE.js`: runs a script without a display or a window and ends with its result.
// Each log line goes to standard output with its time stamp; a failure goes to standard error as
// "FILE:LINE: message". Exit codes: 0 the script ended, 1 it failed (an expectation, a throw),
// 2 it could not be loaded, does not parse, or the port does not open.

struct TCmdLine;

// Makes its own QCoreApplication from argc/argv; the main thread only.
int RunHeadless(const TCmdLine& line, int& argc, char** argv);

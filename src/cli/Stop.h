// Stop requests of varnel-cli's radio commands: signals (SIGINT, SIGTERM,
// SIGHUP, SIGQUIT; on Windows the console's Ctrl+C, close, log-off and
// shut-down) and a standard output or error whose reader went away (EPIPE,
// or EIO from a terminal that hung up). Each only sets the stop flag
// (`alignInterrupted`, AlignSteps.h): the command ends at its next exchange,
// with the radio unkeyed, a moved point put back, tuner mode left and the
// record saying "stopped", and exits with kStopped.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>

namespace varnel::cli {

// The stop flag (also declared in AlignSteps.h).
extern std::atomic<bool> alignInterrupted;
// Installs the handlers for the whole command (also declared in
// AlignSteps.h); SIGPIPE is ignored from then on.
void CatchInterrupt();
bool StopRequested();
// Sets the stop flag as Ctrl+C does (tests, a controller).
void RequestStop();
// "Ctrl+C", "SIGTERM", "standard error was closed", ...; empty without a stop.
std::string StopReason();
// "stopped by the operator (SIGTERM)": the line said once the radio is left.
std::string StopMessage();

// After a write to stdout or stderr that returned `result`: a negative result
// with EPIPE or EIO means nobody reads that stream any more; the stop is
// requested and later writes to it are left out.
void NoteOutput(std::FILE* stream, int result);
bool OutputClosed(std::FILE* stream);
// Writes and flushes `text`, noting a closed stream.
void WriteOutput(std::FILE* stream, const std::string& text);

// The command has left the radio (Windows: a console close may end now).
void CleanedUp();

}  // namespace varnel::cli

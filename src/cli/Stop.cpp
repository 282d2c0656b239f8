// How varnel-cli is asked to stop: Ctrl+C, a termination request (SIGTERM
// from `timeout` or a service manager, SIGHUP from a closed terminal or SSH
// connection, SIGQUIT), or a standard output or error whose reader went away.
// None of them ends the process on the spot: the handler only sets the stop
// flag, and the command unkeys the radio, puts a moved point back, leaves
// tuner mode and records what happened before it exits with kStopped.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>

#include "cli/Stop.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif

namespace varnel::cli {

std::atomic<bool> alignInterrupted{false};

namespace {

// What asked for the stop: a signal number, or one of the output codes below.
std::atomic<int> g_reason{0};
constexpr int kStdoutClosed = -1;
constexpr int kStderrClosed = -2;
constexpr int kConsoleClosed = -3;

std::atomic<bool> g_stdoutClosed{false};
std::atomic<bool> g_stderrClosed{false};

void Request(int reason) {
    int none = 0;
    g_reason.compare_exchange_strong(none, reason);
    alignInterrupted = true;
}

extern "C" void OnStopSignal(int number) { Request(number); }

#ifdef _WIN32
// The console's Ctrl+C and Ctrl+Break, and its window closed, the user
// logging off or the system shutting down. For the last three Windows ends
// the process when the handler returns, so the handler waits (within the
// few seconds the system grants) for the command to have left the radio.
std::atomic<bool> g_cleanedUp{false};

BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            Request(SIGINT);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            Request(kConsoleClosed);
            for (int i = 0; i < 450 && !g_cleanedUp; ++i) Sleep(10);
            return TRUE;
        default:
            return FALSE;
    }
}
#endif

}  // namespace

void CatchInterrupt() {
#ifdef _WIN32
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    // No SA_RESTART: a read from the scanner returns when the signal comes.
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(number, &action, nullptr);
    // Writing to a pipe whose reader is gone returns EPIPE instead of ending
    // the process; NoteOutput turns it into a stop.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
#endif
}

bool StopRequested() { return alignInterrupted.load(); }

void RequestStop() { Request(SIGINT); }

std::string StopReason() {
    switch (g_reason.load()) {
        case 0: return {};
        case SIGINT: return "Ctrl+C";
        case SIGTERM: return "SIGTERM";
#ifndef _WIN32
        case SIGHUP: return "SIGHUP, the terminal or connection was closed";
        case SIGQUIT: return "SIGQUIT";
#endif
        case kStdoutClosed: return "standard output was closed";
        case kStderrClosed: return "standard error was closed";
        case kConsoleClosed: return "the console was closed";
        default: return "signal " + std::to_string(g_reason.load());
    }
}

std::string StopMessage() {
    const std::string reason = StopReason();
    return reason.empty() ? std::string("stopped by the operator") : "stopped by the operator (" + reason + ")";
}

bool OutputClosed(std::FILE* stream) {
    if (stream == stdout) return g_stdoutClosed.load();
    if (stream == stderr) return g_stderrClosed.load();
    return false;
}

void NoteOutput(std::FILE* stream, int result) {
    if (result >= 0) return;
    const int error = errno;
    if (error != EPIPE && error != EIO) return;
    if (stream == stdout) {
        g_stdoutClosed = true;
        Request(kStdoutClosed);
    } else if (stream == stderr) {
        g_stderrClosed = true;
        Request(kStderrClosed);
    }
}

void WriteOutput(std::FILE* stream, const std::string& text) {
    if (OutputClosed(stream)) return;
    int result = std::fputs(text.c_str(), stream);
    if (result >= 0) result = std::fflush(stream);
    NoteOutput(stream, result);
}

void CleanedUp() {
#ifdef _WIN32
    g_cleanedUp = true;
#endif
}

}  // namespace varnel::cli

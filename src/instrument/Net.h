// The few socket operations the LAN instruments and the virtual test set
// need, over POSIX sockets and over Winsock alike: connect with a time-out,
// send and receive with a time-out, a loopback listener, a poll over several
// sockets and a pair of sockets to wake a poll. Every socket made here does
// not block; waits are explicit and bounded. On Windows, Winsock is started
// once, on first use. Failures are Instrument errors whose text names the
// cause as the system reports it (errno or WSAGetLastError), readable, with
// the Winsock name of the code on Windows ("connection refused
// (WSAECONNREFUSED)").
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/Error.h"

namespace varnel::net {

#ifdef _WIN32
using SocketHandle = std::uintptr_t;  // SOCKET
#else
using SocketHandle = int;
#endif
inline constexpr SocketHandle kNoSocket = static_cast<SocketHandle>(-1);

// An open socket, closed when it goes.
class Socket {
public:
    Socket() = default;
    explicit Socket(SocketHandle handle) : handle_(handle) {}
    ~Socket() { reset(); }
    Socket(Socket&& other) noexcept : handle_(std::exchange(other.handle_, kNoSocket)) {}
    Socket& operator=(Socket&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, kNoSocket);
        }
        return *this;
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool valid() const { return handle_ != kNoSocket; }
    SocketHandle handle() const { return handle_; }
    void reset();

private:
    SocketHandle handle_ = kNoSocket;
};

// Connects to HOST:PORT within `timeout`, trying every address the name
// resolves to. `subject` names the far end in the error.
Result<Socket> Connect(const std::string& host, int port, std::chrono::milliseconds timeout,
                       const std::string& subject);

// Sends all of `bytes`, waiting up to `timeout` each time the socket has no
// room.
Error SendAll(const Socket& socket, std::string_view bytes, std::chrono::milliseconds timeout,
              const std::string& subject);

enum class Received { Data, TimedOut, Closed };
// Waits up to `timeout` for bytes and appends what has come (at most
// `limit` bytes) to `into`. Closed when the far end closed the connection.
Result<Received> Receive(const Socket& socket, std::string* into, std::size_t limit,
                         std::chrono::milliseconds timeout, const std::string& subject);

// Throws away whatever has arrived and was not read.
void Discard(const Socket& socket);

// ---- for a server on this computer ----

// Listens on 127.0.0.1:`port` (0: any free port); `boundPort` gets the port.
Result<Socket> ListenLoopback(int port, int* boundPort);

// Takes one waiting connection, or an invalid socket when none waits.
Socket Accept(const Socket& listener);

// Sends or receives without waiting.
enum class Io { Done, WouldBlock, Closed, Failed };
Io SendSome(const Socket& socket, const char* data, std::size_t size, std::size_t* done);
Io ReceiveSome(const Socket& socket, char* data, std::size_t size, std::size_t* done);

struct PollEntry {
    PollEntry() = default;
    PollEntry(SocketHandle s, bool read, bool write) : socket(s), wantRead(read), wantWrite(write) {}
    SocketHandle socket = kNoSocket;
    bool wantRead = false;
    bool wantWrite = false;
    // Set by Poll.
    bool readable = false;   // bytes, a connection to accept, or the far end gone
    bool writable = false;
    bool failed = false;     // error or hang-up: the next receive says which
};
// Waits until one of the entries is ready, at most `timeoutMs` (-1: no
// bound); the number of ready entries, 0 on time-out, -1 on failure.
int Poll(std::vector<PollEntry>& entries, int timeoutMs);

// Two connected sockets: a byte sent on the second wakes a Poll on the
// first (a socket pair on POSIX, a loopback connection on Windows).
Result<std::pair<Socket, Socket>> WakePair();

// The readable text of a system socket error code (errno or WSA code).
std::string ErrorText(int code);

}  // namespace varnel::net

#include "instrument/Net.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace varnel::net {

namespace {

#ifdef _WIN32

using Handle = SOCKET;
constexpr int kSendFlags = 0;

// Winsock is started once for the program and left running until it ends.
Error StartWinsock() {
    static std::once_flag once;
    static int result = 0;
    std::call_once(once, [] {
        WSADATA data;
        result = ::WSAStartup(MAKEWORD(2, 2), &data);
    });
    if (result != 0)
        return Error::make(ErrorCode::Instrument, "cannot start Windows sockets (WSAStartup): " + ErrorText(result));
    return {};
}

int LastError() { return ::WSAGetLastError(); }
bool WouldBlock(int code) { return code == WSAEWOULDBLOCK || code == WSAEINPROGRESS; }
bool Interrupted(int code) { return code == WSAEINTR; }
void CloseHandle_(Handle h) { ::closesocket(h); }
bool SetNonBlocking(Handle h) {
    u_long on = 1;
    return ::ioctlsocket(h, FIONBIO, &on) == 0;
}
int PollRaw(pollfd* fds, std::size_t n, int timeoutMs) {
    return ::WSAPoll(fds, static_cast<ULONG>(n), timeoutMs);
}

#else

using Handle = int;
constexpr int kSendFlags = MSG_NOSIGNAL;

Error StartWinsock() { return {}; }
int LastError() { return errno; }
bool WouldBlock(int code) { return code == EAGAIN || code == EWOULDBLOCK || code == EINPROGRESS; }
bool Interrupted(int code) { return code == EINTR; }
void CloseHandle_(Handle h) { ::close(h); }
bool SetNonBlocking(Handle h) {
    const int flags = ::fcntl(h, F_GETFL, 0);
    return flags >= 0 && ::fcntl(h, F_SETFL, flags | O_NONBLOCK) == 0;
}
int PollRaw(pollfd* fds, std::size_t n, int timeoutMs) { return ::poll(fds, static_cast<nfds_t>(n), timeoutMs); }

#endif

Handle H(const Socket& s) { return static_cast<Handle>(s.handle()); }

// Waits up to `timeout` for one socket to be readable or writable; 1 ready,
// 0 timed out, -1 failed (LastError says why).
int WaitOne(const Socket& socket, bool write, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{};
        p.fd = H(socket);
        p.events = write ? POLLOUT : POLLIN;
        const int rc = PollRaw(&p, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (rc < 0 && Interrupted(LastError())) continue;
        return rc < 0 ? -1 : (rc > 0 ? 1 : 0);
    }
}

Error Failure(std::string what, int code, const std::string& subject) {
    return Error::make(ErrorCode::Instrument, std::move(what) + ": " + ErrorText(code), subject);
}
// A failure whose context the caller gives: only the system's reason.
Error Reason(int code, const std::string& subject) {
    return Error::make(ErrorCode::Instrument, ErrorText(code), subject);
}

// Connects one socket to one address within `timeout`; 0 or the error code.
int ConnectOne(Handle h, const sockaddr* address, int length, std::chrono::milliseconds timeout) {
    if (::connect(h, address, length) == 0) return 0;
    const int code = LastError();
    if (!WouldBlock(code)) return code;
#ifdef _WIN32
    // WSAPoll does not report a refused connection on every Windows release;
    // select does (in the exception set).
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(h, &writable);
    FD_SET(h, &failed);
    timeval tv{};
    tv.tv_sec = static_cast<long>(timeout.count() / 1000);
    tv.tv_usec = static_cast<long>((timeout.count() % 1000) * 1000);
    const int ready = ::select(0, nullptr, &writable, &failed, &tv);
    if (ready < 0) return LastError();
    if (ready == 0) return WSAETIMEDOUT;
#else
    pollfd p{h, POLLOUT, 0};
    int ready;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        ready = ::poll(&p, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (ready < 0 && errno == EINTR) continue;
        break;
    }
    if (ready < 0) return errno;
    if (ready == 0) return ETIMEDOUT;
#endif
    int soError = 0;
    socklen_t len = sizeof soError;
    if (::getsockopt(h, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len) != 0) return LastError();
    return soError;
}

}  // namespace

void Socket::reset() {
    if (handle_ != kNoSocket) CloseHandle_(static_cast<Handle>(handle_));
    handle_ = kNoSocket;
}

std::string ErrorText(int code) {
#ifdef _WIN32
    // The codes an instrument connection meets, in plain words; the rest by
    // the system's own text.
    struct Known {
        int code;
        const char* name;
        const char* text;
    };
    static const Known known[] = {
        {WSAECONNREFUSED, "WSAECONNREFUSED", "connection refused"},
        {WSAETIMEDOUT, "WSAETIMEDOUT", "connection timed out"},
        {WSAECONNRESET, "WSAECONNRESET", "connection reset by the far end"},
        {WSAECONNABORTED, "WSAECONNABORTED", "connection aborted"},
        {WSAENETUNREACH, "WSAENETUNREACH", "network unreachable"},
        {WSAEHOSTUNREACH, "WSAEHOSTUNREACH", "no route to host"},
        {WSAENETDOWN, "WSAENETDOWN", "network is down"},
        {WSAEADDRINUSE, "WSAEADDRINUSE", "address already in use"},
        {WSAEADDRNOTAVAIL, "WSAEADDRNOTAVAIL", "address not available"},
        {WSAEACCES, "WSAEACCES", "permission denied"},
        {WSAENOTCONN, "WSAENOTCONN", "not connected"},
        {WSAESHUTDOWN, "WSAESHUTDOWN", "the connection was shut down"},
        {WSAEMFILE, "WSAEMFILE", "too many open sockets"},
        {WSAENOBUFS, "WSAENOBUFS", "no buffer space available"},
        {WSAHOST_NOT_FOUND, "WSAHOST_NOT_FOUND", "host not found"},
        {WSATRY_AGAIN, "WSATRY_AGAIN", "host name lookup failed for now; try again"},
        {WSANO_DATA, "WSANO_DATA", "the name has no address"},
        {WSANOTINITIALISED, "WSANOTINITIALISED", "Windows sockets are not started"},
        {WSASYSNOTREADY, "WSASYSNOTREADY", "the network subsystem is not ready"},
        {WSAVERNOTSUPPORTED, "WSAVERNOTSUPPORTED", "Windows sockets 2.2 are not supported"},
    };
    for (const Known& k : known)
        if (k.code == code) return std::string(k.text) + " (" + k.name + ")";
    char* text = nullptr;
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                     reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string out = n > 0 && text != nullptr ? std::string(text, n) : std::string();
    if (text != nullptr) ::LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    if (out.empty()) out = "socket error";
    return out + " (Winsock error " + std::to_string(code) + ")";
#else
    return std::strerror(code);
#endif
}

Result<Socket> Connect(const std::string& host, int port, std::chrono::milliseconds timeout,
                       const std::string& subject) {
    if (Error e = StartWinsock(); !e.ok()) return e.wrap("cannot connect", subject);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
#ifdef _WIN32
        const std::string why = ErrorText(rc);
#else
        const std::string why = rc == EAI_SYSTEM ? ErrorText(errno) : ::gai_strerror(rc);
#endif
        return Error::make(ErrorCode::Instrument, "cannot resolve the address: " + why, subject);
    }
    Error last = Error::make(ErrorCode::Instrument, "the name has no address", subject);
    for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
#ifdef _WIN32
        Socket s(static_cast<SocketHandle>(::WSASocketW(a->ai_family, a->ai_socktype, a->ai_protocol, nullptr, 0,
                                                         WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT)));
#else
        Socket s(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol));
#endif
        if (!s.valid()) {
            last = Failure("cannot create a socket", LastError(), subject);
            continue;
        }
        if (!SetNonBlocking(H(s))) {
            last = Failure("cannot make the socket non-blocking", LastError(), subject);
            continue;
        }
        const int code = ConnectOne(H(s), a->ai_addr, static_cast<int>(a->ai_addrlen), timeout);
        if (code == 0) {
            int one = 1;
            ::setsockopt(H(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
            ::freeaddrinfo(found);
            return s;
        }
#ifdef _WIN32
        const bool timedOut = code == WSAETIMEDOUT;
#else
        const bool timedOut = code == ETIMEDOUT;
#endif
        last = timedOut ? Error::make(ErrorCode::Instrument,
                                      "no answer within " + std::to_string(timeout.count()) + " ms", subject)
                        : Reason(code, subject);
    }
    ::freeaddrinfo(found);
    return last;
}

Error SendAll(const Socket& socket, std::string_view bytes, std::chrono::milliseconds timeout,
              const std::string& subject) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        std::size_t n = 0;
        switch (SendSome(socket, p, left, &n)) {
            case Io::Done:
                p += n;
                left -= n;
                break;
            case Io::WouldBlock: {
                const int ready = WaitOne(socket, true, timeout);
                if (ready == 0)
                    return Error::make(ErrorCode::Instrument, "sending timed out", subject);
                if (ready < 0) return Failure("cannot send", LastError(), subject);
                break;
            }
            case Io::Closed:
            case Io::Failed:
                return Failure("cannot send", LastError(), subject);
        }
    }
    return {};
}

Result<Received> Receive(const Socket& socket, std::string* into, std::size_t limit,
                         std::chrono::milliseconds timeout, const std::string& subject) {
    const int ready = WaitOne(socket, false, timeout);
    if (ready == 0) return Received::TimedOut;
    if (ready < 0) return Failure("cannot wait for data", LastError(), subject);
    char chunk[4096];
    std::size_t n = 0;
    switch (ReceiveSome(socket, chunk, std::min(limit, sizeof chunk), &n)) {
        case Io::Done:
            into->append(chunk, n);
            return Received::Data;
        case Io::WouldBlock:
            return Received::TimedOut;  // woken without data; the caller waits again
        case Io::Closed:
            return Received::Closed;
        case Io::Failed:
            break;
    }
    const int code = LastError();
#ifdef _WIN32
    if (code == WSAECONNRESET || code == WSAECONNABORTED) return Received::Closed;
#else
    if (code == ECONNRESET) return Received::Closed;
#endif
    return Failure("cannot receive", code, subject);
}

void Discard(const Socket& socket) {
    char chunk[512];
    std::size_t n = 0;
    while (ReceiveSome(socket, chunk, sizeof chunk, &n) == Io::Done) {
    }
}

Io SendSome(const Socket& socket, const char* data, std::size_t size, std::size_t* done) {
    *done = 0;
    for (;;) {
#ifdef _WIN32
        const int n = ::send(H(socket), data, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), kSendFlags);
#else
        const ssize_t n = ::send(H(socket), data, size, kSendFlags);
#endif
        if (n >= 0) {
            *done = static_cast<std::size_t>(n);
            return Io::Done;
        }
        const int code = LastError();
        if (Interrupted(code)) continue;
        if (WouldBlock(code)) return Io::WouldBlock;
        return Io::Failed;
    }
}

Io ReceiveSome(const Socket& socket, char* data, std::size_t size, std::size_t* done) {
    *done = 0;
    for (;;) {
#ifdef _WIN32
        const int n = ::recv(H(socket), data, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
#else
        const ssize_t n = ::recv(H(socket), data, size, 0);
#endif
        if (n > 0) {
            *done = static_cast<std::size_t>(n);
            return Io::Done;
        }
        if (n == 0) return Io::Closed;
        const int code = LastError();
        if (Interrupted(code)) continue;
        if (WouldBlock(code)) return Io::WouldBlock;
        return Io::Failed;
    }
}

Result<Socket> ListenLoopback(int port, int* boundPort) {
    const std::string where = "127.0.0.1:" + std::to_string(port);
    if (Error e = StartWinsock(); !e.ok()) return e.wrap("cannot listen", where);
#ifdef _WIN32
    Socket s(static_cast<SocketHandle>(
        ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT)));
#else
    Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
#endif
    if (!s.valid()) return Failure("cannot create a socket", LastError(), where);
#ifndef _WIN32
    // On Windows SO_REUSEADDR would let another program take the port.
    int one = 1;
    ::setsockopt(H(s), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
#endif
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(H(s), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return Failure("cannot bind", LastError(), where);
    if (::listen(H(s), 16) != 0) return Failure("cannot listen", LastError(), where);
    if (!SetNonBlocking(H(s))) return Failure("cannot make the socket non-blocking", LastError(), where);
    socklen_t length = sizeof address;
    if (::getsockname(H(s), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return Failure("cannot read the bound port", LastError(), where);
    if (boundPort != nullptr) *boundPort = ntohs(address.sin_port);
    return s;
}

Socket Accept(const Socket& listener) {
#ifdef _WIN32
    Socket s(static_cast<SocketHandle>(::accept(H(listener), nullptr, nullptr)));
    if (s.valid() && !SetNonBlocking(H(s))) s.reset();
#else
    Socket s(::accept4(H(listener), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
#endif
    return s;
}

int Poll(std::vector<PollEntry>& entries, int timeoutMs) {
    std::vector<pollfd> fds(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        fds[i].fd = static_cast<Handle>(entries[i].socket);
        fds[i].events = static_cast<short>((entries[i].wantRead ? POLLIN : 0) | (entries[i].wantWrite ? POLLOUT : 0));
        fds[i].revents = 0;
    }
    int rc;
    do {
        rc = PollRaw(fds.data(), fds.size(), timeoutMs);
    } while (rc < 0 && Interrupted(LastError()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const short r = rc > 0 ? fds[i].revents : 0;
        entries[i].readable = (r & (POLLIN | POLLHUP | POLLERR)) != 0;
        entries[i].writable = (r & POLLOUT) != 0;
        entries[i].failed = (r & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }
    return rc;
}

Result<std::pair<Socket, Socket>> WakePair() {
#ifdef _WIN32
    int port = 0;
    Result<Socket> listener = ListenLoopback(0, &port);
    if (!listener) return listener.error().wrap("cannot make a wake-up connection");
    Result<Socket> writer = Connect("127.0.0.1", port, std::chrono::milliseconds(2000), "127.0.0.1");
    if (!writer) return writer.error().wrap("cannot make a wake-up connection");
    Socket reader;
    for (int i = 0; i < 200 && !reader.valid(); ++i) {
        std::vector<PollEntry> one{{listener.value().handle(), true, false}};
        Poll(one, 10);
        reader = Accept(listener.value());
    }
    if (!reader.valid())
        return Failure("cannot accept the wake-up connection", LastError(), "127.0.0.1:" + std::to_string(port));
    return std::make_pair(std::move(reader), std::move(writer.value()));
#else
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0)
        return Failure("cannot make a wake-up socket pair", errno, {});
    return std::make_pair(Socket(fds[0]), Socket(fds[1]));
#endif
}

}  // namespace varnel::net

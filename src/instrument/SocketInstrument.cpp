// SCPI over a raw TCP socket: one command per line, replies end with a line
// feed. Plain POSIX sockets; on Windows the LAN instruments go through liblxi
// where it is built, and this transport reports that it is missing.
#include "instrument/Instrument.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace varnel {

#ifndef _WIN32
namespace {

constexpr std::size_t kMaxReply = 64 * 1024;

class SocketInstrument : public Instrument {
public:
    SocketInstrument(int fd, std::string where, std::chrono::milliseconds timeout)
        : fd_(fd), where_(std::move(where)), timeout_(timeout) {}
    ~SocketInstrument() override { ::close(fd_); }

    Error send(std::string_view command) override {
        std::string line(command);
        line += '\n';
        const char* p = line.data();
        std::size_t left = line.size();
        while (left > 0) {
            const ssize_t n = ::send(fd_, p, left, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    pollfd pfd{fd_, POLLOUT, 0};
                    if (::poll(&pfd, 1, static_cast<int>(timeout_.count())) <= 0)
                        return Error::make(ErrorCode::Instrument, "sending to the instrument timed out", where_);
                    continue;
                }
                return Error::make(ErrorCode::Instrument, std::string("cannot send to the instrument: ") +
                                                              std::strerror(errno), where_);
            }
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        return {};
    }

    Result<std::string> query(std::string_view command) override {
        drainStale();
        if (Error e = send(command); !e.ok()) return e;
        const auto deadline = std::chrono::steady_clock::now() + timeout_;
        for (;;) {
            const auto nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                std::string reply = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                if (!reply.empty() && reply.back() == '\r') reply.pop_back();
                return SafeInstrumentText(reply);
            }
            if (buffer_.size() > kMaxReply)
                return Error::make(ErrorCode::BadData, "the instrument's reply has no line end", where_);
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return Error::make(ErrorCode::Instrument,
                                   "no reply from the instrument within " + std::to_string(timeout_.count()) +
                                       " ms to \"" + std::string(command) + "\"",
                                   where_);
            pollfd pfd{fd_, POLLIN, 0};
            const int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno != EINTR)
                return Error::make(ErrorCode::Instrument, std::strerror(errno), where_);
            if (ready <= 0) continue;
            char chunk[512];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n == 0) return Error::make(ErrorCode::Instrument, "the instrument closed the connection", where_);
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
                return Error::make(ErrorCode::Instrument, std::strerror(errno), where_);
            }
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    std::string describe() const override { return where_; }

private:
    // A reply that came after its query had timed out must not be taken for
    // the answer to the next one.
    void drainStale() {
        buffer_.clear();
        char chunk[512];
        for (;;) {
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
            if (n <= 0) break;
        }
    }

    int fd_;
    std::string where_;
    std::chrono::milliseconds timeout_;
    std::string buffer_;
};

}  // namespace

Result<std::unique_ptr<Instrument>> OpenSocketInstrument(const std::string& host, int port,
                                                         std::chrono::milliseconds timeout) {
    const std::string where = "tcp://" + host + ":" + std::to_string(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0)
        return Error::make(ErrorCode::Instrument, std::string("cannot resolve the instrument's address: ") +
                                                      ::gai_strerror(rc), where);
    Error last = Error::make(ErrorCode::Instrument, "cannot connect to the instrument", where);
    for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        const int flags = ::fcntl(fd, F_GETFL, 0);
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
        int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
        if (rc < 0 && errno == EINPROGRESS) {
            pollfd pfd{fd, POLLOUT, 0};
            rc = ::poll(&pfd, 1, static_cast<int>(timeout.count())) == 1 ? 0 : -1;
            int soError = rc == 0 ? 0 : ETIMEDOUT;
            socklen_t len = sizeof soError;
            if (rc == 0) ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
            if (soError != 0) {
                errno = soError;
                rc = -1;
            }
        }
        if (rc == 0) {
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            ::freeaddrinfo(found);
            return std::unique_ptr<Instrument>(std::make_unique<SocketInstrument>(fd, where, timeout));
        }
        last = Error::make(ErrorCode::Instrument,
                           std::string("cannot connect to the instrument: ") + std::strerror(errno), where);
        ::close(fd);
    }
    ::freeaddrinfo(found);
    return last;
}

#else

Result<std::unique_ptr<Instrument>> OpenSocketInstrument(const std::string& host, int port,
                                                         std::chrono::milliseconds) {
    return Error::make(ErrorCode::Instrument, "raw-socket instruments are not built on Windows; use lxi://",
                       "tcp://" + host + ":" + std::to_string(port));
}

#endif

}  // namespace varnel

// SCPI over a raw TCP socket: one command per line, replies end with a line
// feed. The sockets are those of instrument/Net.h, so this transport is the
// same on POSIX systems and on Windows (Winsock).
#include "instrument/Instrument.h"
#include "instrument/Net.h"

namespace varnel {

namespace {

constexpr std::size_t kMaxReply = 64 * 1024;

class SocketInstrument : public Instrument {
public:
    SocketInstrument(net::Socket socket, std::string where, std::chrono::milliseconds timeout)
        : socket_(std::move(socket)), where_(std::move(where)), timeout_(timeout) {}

    Error send(std::string_view command) override {
        std::string line(command);
        line += '\n';
        if (Error e = net::SendAll(socket_, line, timeout_, where_); !e.ok())
            return e.wrap("cannot send \"" + std::string(command) + "\" to the instrument");
        return {};
    }

    Result<std::string> query(std::string_view command) override {
        // A reply that came after its query had timed out must not be taken
        // for the answer to the next one.
        buffer_.clear();
        net::Discard(socket_);
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
            Result<net::Received> got = net::Receive(socket_, &buffer_, kMaxReply + 1, left, where_);
            if (!got) return got.error().wrap("no reply to \"" + std::string(command) + "\"");
            if (got.value() == net::Received::Closed)
                return Error::make(ErrorCode::Instrument, "the instrument closed the connection", where_);
        }
    }

    std::string describe() const override { return where_; }

private:
    net::Socket socket_;
    std::string where_;
    std::chrono::milliseconds timeout_;
    std::string buffer_;
};

}  // namespace

Result<std::unique_ptr<Instrument>> OpenSocketInstrument(const std::string& host, int port,
                                                         std::chrono::milliseconds timeout) {
    const std::string where = "tcp://" + host + ":" + std::to_string(port);
    Result<net::Socket> socket = net::Connect(host, port, timeout, where);
    if (!socket) return socket.error().wrap("cannot connect to the instrument");
    return std::unique_ptr<Instrument>(std::make_unique<SocketInstrument>(std::move(socket.value()), where, timeout));
}

}  // namespace varnel

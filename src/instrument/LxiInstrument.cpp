// LAN instruments through liblxi: VXI-11 (no port given) or a raw SCPI
// socket (port given, usually 5025). Built only where liblxi was found.
#include "instrument/Instrument.h"

#ifdef VARNEL_HAVE_LXI
#include <lxi.h>

#include <mutex>
#include <vector>
#endif

namespace varnel {

#ifdef VARNEL_HAVE_LXI
namespace {

class LxiInstrument : public Instrument {
public:
    LxiInstrument(int device, std::string where, std::chrono::milliseconds timeout)
        : device_(device), where_(std::move(where)), timeout_(timeout) {}
    ~LxiInstrument() override { lxi_disconnect(device_); }

    Error send(std::string_view command) override {
        std::string line(command);
        line += '\n';
        if (lxi_send(device_, line.data(), static_cast<int>(line.size()), ms()) < 0)
            return Error::make(ErrorCode::Instrument, "cannot send \"" + std::string(command) + "\"", where_);
        return {};
    }

    Result<std::string> query(std::string_view command) override {
        if (Error e = send(command); !e.ok()) return e;
        std::vector<char> buffer(65536);
        const int n = lxi_receive(device_, buffer.data(), static_cast<int>(buffer.size()), ms());
        if (n < 0)
            return Error::make(ErrorCode::Instrument,
                               "no reply from the instrument within " + std::to_string(timeout_.count()) +
                                   " ms to \"" + std::string(command) + "\"",
                               where_);
        std::string reply(buffer.data(), static_cast<std::size_t>(n));
        while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.pop_back();
        return SafeInstrumentText(reply);
    }

    std::string describe() const override { return where_; }

private:
    int ms() const { return static_cast<int>(timeout_.count()); }
    int device_;
    std::string where_;
    std::chrono::milliseconds timeout_;
};

}  // namespace

bool LxiAvailable() { return true; }

Result<std::unique_ptr<Instrument>> OpenLxiInstrument(const std::string& host, int port,
                                                      std::chrono::milliseconds timeout) {
    static std::once_flag once;
    std::call_once(once, [] { lxi_init(); });
    const std::string where = "lxi://" + host + (port > 0 ? ":" + std::to_string(port) : std::string());
    const int device = port > 0 ? lxi_connect(host.c_str(), port, nullptr, static_cast<int>(timeout.count()), RAW)
                                : lxi_connect(host.c_str(), 0, "inst0", static_cast<int>(timeout.count()), VXI11);
    if (device == LXI_ERROR) return Error::make(ErrorCode::Instrument, "cannot connect to the instrument", where);
    return std::unique_ptr<Instrument>(std::make_unique<LxiInstrument>(device, where, timeout));
}

#else

bool LxiAvailable() { return false; }

// Said, not left out: an lxi:// address names the missing library and the
// raw-socket address that does work.
Result<std::unique_ptr<Instrument>> OpenLxiInstrument(const std::string& host, int port,
                                                      std::chrono::milliseconds) {
    const std::string where = "lxi://" + host + (port > 0 ? ":" + std::to_string(port) : std::string());
#ifdef _WIN32
    return Error::make(ErrorCode::Instrument,
                       "VXI-11 instruments (lxi://) are not available on Windows: liblxi is not built for "
                       "Windows. Use the instrument's raw SCPI socket instead: tcp://HOST:5025",
                       where, "Align:A0040");
#else
    return Error::make(ErrorCode::Instrument,
                       "this build has no liblxi, so VXI-11 instruments (lxi://) are not available; use the "
                       "instrument's raw SCPI socket: tcp://HOST:5025",
                       where, "Align:A0041");
#endif
}

#endif

}  // namespace varnel

// USB Test & Measurement Class instruments through the Linux kernel driver:
// each write to /dev/usbtmcN is one command, each read one reply. The
// driver's own time-out is set with USBTMC_IOCTL_SET_TIMEOUT where the
// kernel offers it; a poll bounds the wait in any case.
#include "instrument/Instrument.h"

#ifdef __linux__
#include <fcntl.h>
#include <linux/usb/tmc.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace varnel {

#ifdef __linux__
namespace {

class UsbtmcInstrument : public Instrument {
public:
    UsbtmcInstrument(int fd, std::string device, std::chrono::milliseconds timeout)
        : fd_(fd), device_(std::move(device)), timeout_(timeout) {}
    ~UsbtmcInstrument() override { ::close(fd_); }

    Error send(std::string_view command) override {
        std::string line(command);
        line += '\n';
        const ssize_t n = ::write(fd_, line.data(), line.size());
        if (n != static_cast<ssize_t>(line.size()))
            return Error::make(ErrorCode::Instrument,
                               std::string("cannot send to the instrument: ") + std::strerror(errno), device_);
        return {};
    }

    Result<std::string> query(std::string_view command) override {
        if (Error e = send(command); !e.ok()) return e;
        pollfd pfd{fd_, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(timeout_.count())) <= 0)
            return Error::make(ErrorCode::Instrument,
                               "no reply from the instrument within " + std::to_string(timeout_.count()) +
                                   " ms to \"" + std::string(command) + "\"",
                               device_);
        char buffer[4096];
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0)
            return Error::make(ErrorCode::Instrument,
                               std::string("no reply from the instrument: ") + std::strerror(errno), device_);
        std::string reply(buffer, static_cast<std::size_t>(n));
        while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.pop_back();
        return SafeInstrumentText(reply);
    }

    std::string describe() const override { return "usbtmc://" + device_; }

private:
    int fd_;
    std::string device_;
    std::chrono::milliseconds timeout_;
};

}  // namespace

Result<std::unique_ptr<Instrument>> OpenUsbtmcInstrument(const std::string& device,
                                                         std::chrono::milliseconds timeout) {
    const int fd = ::open(device.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const ErrorCode code = errno == EACCES ? ErrorCode::PermissionDenied : ErrorCode::Instrument;
        return Error::make(code, std::string("cannot open the instrument: ") + std::strerror(errno), device);
    }
#ifdef USBTMC_IOCTL_SET_TIMEOUT
    unsigned int ms = static_cast<unsigned int>(timeout.count());
    ::ioctl(fd, USBTMC_IOCTL_SET_TIMEOUT, &ms);
#endif
    return std::unique_ptr<Instrument>(std::make_unique<UsbtmcInstrument>(fd, device, timeout));
}

#else

Result<std::unique_ptr<Instrument>> OpenUsbtmcInstrument(const std::string& device, std::chrono::milliseconds) {
    return Error::make(ErrorCode::Instrument, "USBTMC instruments need the Linux usbtmc driver", device);
}

#endif

}  // namespace varnel

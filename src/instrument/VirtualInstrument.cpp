#include "instrument/VirtualInstrument.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <vector>

#include "data/ItemTable.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace varnel {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s) {
    std::size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

std::string number(double v) {
    if (std::isnan(v)) return "9.91E37";
    char text[48];
    std::snprintf(text, sizeof text, "%+.6E", v);
    return text;
}

// One line of the remote interface: "HEADER[?] [ARGUMENT]".
struct ScpiLine {
    std::string header;  // upper case
    std::string argument;
    bool query = false;
};

ScpiLine splitLine(const std::string& text) {
    ScpiLine line;
    const auto space = text.find_first_of(" \t");
    line.header = upper(text.substr(0, space));
    line.argument = space == std::string::npos ? std::string() : trim(text.substr(space + 1));
    line.query = !line.header.empty() && line.header.back() == '?';
    return line;
}

// The argument as a number; false when it does not start with one.
bool toNumber(const std::string& argument, double* out) {
    char* end = nullptr;
    const double v = std::strtod(argument.c_str(), &end);
    if (argument.empty() || end == argument.c_str()) return false;
    *out = v;
    return true;
}

// The measurement queries and what each reads.
struct MeasureQuery {
    const char* header;
    VirtualInstrument::Quantity quantity;
};
constexpr MeasureQuery kMeasureQueries[] = {
    {"MEAS:POW?", VirtualInstrument::Quantity::Power},
    {"MEAS:FERR?", VirtualInstrument::Quantity::FrequencyError},
    {"MEAS:DEV?", VirtualInstrument::Quantity::Deviation},
    {"MEAS:VOLT?", VirtualInstrument::Quantity::Voltage},
};

}  // namespace

VirtualInstrument::VirtualInstrument(std::shared_ptr<VirtualRadio> radio, std::uint32_t seed)
    : radio_(std::move(radio)), seed_(seed) {
    if (seed_ == 0) seed_ = 0x5EED0000u + static_cast<std::uint32_t>(radio_->preset()) * 7919u;
    radio_->setLiveObserver([this](const VirtualRadio::LiveSet& set, bool transmitting, bool) {
        std::lock_guard lock(mutex_);
        RadioState next;
        next.transmitting = transmitting;
        next.item = set.item;
        next.point = set.point;
        next.value = set.value;
        next.frequency = set.frequency;
        if (next.transmitting != now_.transmitting || next.item != now_.item || next.point != now_.point ||
            next.value != now_.value || next.frequency != now_.frequency) {
            before_ = now_;
            now_ = next;
            changed_ = std::chrono::steady_clock::now();
        }
    });
}

VirtualInstrument::~VirtualInstrument() {
    Stop();
    radio_->setLiveObserver({});
}

std::string VirtualInstrument::url() const { return "tcp://127.0.0.1:" + std::to_string(port_); }

void VirtualInstrument::setSettle(std::chrono::milliseconds settle) {
    std::lock_guard lock(mutex_);
    settle_ = settle;
}

void VirtualInstrument::setNoise(double scale) {
    std::lock_guard lock(mutex_);
    noise_ = scale;
}

double VirtualInstrument::unit(int item, int point, int salt) const {
    const std::uint64_t h = mix(mix(mix(seed_) ^ static_cast<std::uint64_t>(item)) ^
                                (static_cast<std::uint64_t>(point) << 8) ^ (static_cast<std::uint64_t>(salt) << 20));
    return static_cast<double>(h >> 11) / 9007199254740992.0;  // [0, 1)
}

double VirtualInstrument::SteadyReading(Quantity quantity, int item, int point, int value) const {
    const TuningItem* entry = FindItem(item);
    const Page page = entry != nullptr ? entry->page : Page::None;
    const double v = value;
    switch (quantity) {
        case Quantity::Power: {
            if (page != Page::Power && page != Page::PowerMobile) return 36.0;  // the carrier as it is
            double pmax = 6.0 + 1.0 * unit(item, point, 1);
            if (entry->column == PowerColumn::Low) pmax = 1.6 + 0.4 * unit(item, point, 1);
            if (entry->column == PowerColumn::Middle) pmax = 3.5 + 0.5 * unit(item, point, 1);
            const double gamma = 1.6 + 0.4 * unit(item, point, 2);
            const double watts = pmax * std::pow((v + 8.0) / 263.0, gamma);
            return 10.0 * std::log10(watts * 1000.0);
        }
        case Quantity::FrequencyError: {
            if (page != Page::FerqStability) return 0.0;
            const double center = 100.0 + 56.0 * unit(item, point, 3);
            const double slope = 10.0 + 4.0 * unit(item, point, 4);
            return (v - center) * slope;
        }
        case Quantity::Deviation: {
            if (page != Page::Ctcss || entry->keying != ItemKeying::Transmit)
                return 0.0;
            const double slope = 3.0 + 1.5 * unit(item, point, 5);
            const double offset = 20.0 + 40.0 * unit(item, point, 6);
            return slope * v + offset;
        }
        case Quantity::Voltage:
            return 7.4;
    }
    return kNaN;
}

double VirtualInstrument::reading(Quantity quantity) {
    std::lock_guard lock(mutex_);
    if (quantity == Quantity::Voltage) return 7.4 + 0.01 * noise_ * (unit(0, 0, static_cast<int>(++noiseCounter_)) * 2 - 1);
    if (!now_.transmitting) return kNaN;
    if (std::fabs(analyserHz_ - static_cast<double>(now_.frequency)) > 100e3) return kNaN;
    double value = SteadyReading(quantity, now_.item, now_.point, now_.value);
    const auto elapsed = std::chrono::steady_clock::now() - changed_;
    if (elapsed < settle_) {
        if (!before_.transmitting) return kNaN;  // the carrier is still coming up
        const double old = SteadyReading(quantity, before_.item, before_.point, before_.value);
        const double share = std::chrono::duration<double>(elapsed) / std::chrono::duration<double>(settle_);
        value = old + (value - old) * share;
    }
    static const std::map<Quantity, double> kNoise = {
        {Quantity::Power, 0.02}, {Quantity::FrequencyError, 2.0}, {Quantity::Deviation, 2.0}};
    const double u = unit(-1, 0, static_cast<int>(++noiseCounter_ & 0x7FFFFFF));
    return value + noise_ * kNoise.at(quantity) * (2.0 * u - 1.0);
}

std::string VirtualInstrument::handle(const std::string& line, bool* answer) {
    *answer = false;
    const std::string text = trim(line);
    if (text.empty()) return {};
    const auto [header, argument, query] = splitLine(text);
    if (query) {
        *answer = true;
        ++queries_;
    }
    if (header == "*IDN?") return "VARNEL,VIRTUAL TEST SET," + std::to_string(seed_) + ",1.0";
    if (header == "*OPC?") return "1";
    if (header == "*RST" || header == "*CLS") {
        std::lock_guard lock(mutex_);
        if (header == "*RST") {
            analyserHz_ = 0;
            generatorDbm_ = -120;
            generatorOn_ = false;
        }
        lastError_ = 0;
        return {};
    }
    if (header == "SYST:ERR?") {
        std::lock_guard lock(mutex_);
        const int e = lastError_;
        lastError_ = 0;
        return e == 0 ? "0,\"No error\"" : std::to_string(e) + ",\"Undefined header\"";
    }
    if (header == "RF:FREQ" || header == "GEN:LEV") {
        double v = 0;
        std::lock_guard lock(mutex_);
        if (!toNumber(argument, &v)) {
            lastError_ = -104;
            return {};
        }
        (header == "RF:FREQ" ? analyserHz_ : generatorDbm_) = v;
        return {};
    }
    if (header == "RF:FREQ?") {
        std::lock_guard lock(mutex_);
        return number(analyserHz_);
    }
    if (header == "GEN:STAT") {
        std::lock_guard lock(mutex_);
        generatorOn_ = upper(argument) == "ON" || argument == "1";
        return {};
    }
    for (const MeasureQuery& measure : kMeasureQueries) {
        if (header == measure.header) return number(reading(measure.quantity));
    }
    std::lock_guard lock(mutex_);
    lastError_ = -113;
    *answer = false;  // an instrument does not answer a query it does not know
    return {};
}

#ifndef _WIN32

Error VirtualInstrument::Start(int port) {
    if (thread_.joinable()) return {};
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) return Error::Make(ErrorCode::Instrument, "cannot create the virtual instrument's socket");
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 ||
        ::listen(listenFd_, 4) < 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return Error::Make(ErrorCode::Instrument, "cannot listen on 127.0.0.1:" + std::to_string(port));
    }
    socklen_t length = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    if (::pipe2(wakeFd_, O_CLOEXEC) < 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return Error::Make(ErrorCode::Instrument, "cannot create the virtual instrument's wake pipe");
    }
    stop_ = false;
    thread_ = std::thread([this] { serve(); });
    return {};
}

void VirtualInstrument::Stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_[1], &byte, 1);
    thread_.join();
    ::close(listenFd_);
    ::close(wakeFd_[0]);
    ::close(wakeFd_[1]);
    listenFd_ = wakeFd_[0] = wakeFd_[1] = -1;
}

void VirtualInstrument::serve() {
    struct Client {
        int fd;
        std::string buffer;
    };
    std::vector<Client> clients;
    while (!stop_) {
        std::vector<pollfd> fds;
        fds.push_back({wakeFd_[0], POLLIN, 0});
        fds.push_back({listenFd_, POLLIN, 0});
        for (const Client& c : clients) fds.push_back({c.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) continue;
        if (fds[0].revents != 0) break;
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) clients.push_back({fd, {}});
        }
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            Client& client = clients[i - 2];
            char chunk[1024];
            const ssize_t n = ::recv(client.fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                ::close(client.fd);
                client.fd = -1;
                continue;
            }
            client.buffer.append(chunk, static_cast<std::size_t>(n));
            for (auto nl = client.buffer.find('\n'); nl != std::string::npos; nl = client.buffer.find('\n')) {
                const std::string line = client.buffer.substr(0, nl);
                client.buffer.erase(0, nl + 1);
                std::string replies;
                std::size_t start = 0;
                while (start <= line.size()) {
                    const auto semi = line.find(';', start);
                    const std::string part = line.substr(start, semi == std::string::npos ? std::string::npos : semi - start);
                    bool answer = false;
                    std::string reply = handle(part, &answer);
                    if (answer) {
                        if (malformed_) reply = "#MEAS@ERR?" + reply.substr(0, 3) + "\x7f";
                        if (!replies.empty()) replies += ';';
                        replies += reply;
                    }
                    if (semi == std::string::npos) break;
                    start = semi + 1;
                }
                if (!replies.empty() && !silent_) {
                    replies += '\n';
                    [[maybe_unused]] const ssize_t w = ::send(client.fd, replies.data(), replies.size(), MSG_NOSIGNAL);
                }
            }
        }
        clients.erase(std::remove_if(clients.begin(), clients.end(), [](const Client& c) { return c.fd < 0; }),
                      clients.end());
    }
    for (const Client& c : clients) ::close(c.fd);
}

#else

Error VirtualInstrument::Start(int) {
    return Error::Make(ErrorCode::Instrument, "the virtual instrument is not built on Windows");
}
void VirtualInstrument::Stop() {}
void VirtualInstrument::serve() {}

#endif

}  // namespace varnel

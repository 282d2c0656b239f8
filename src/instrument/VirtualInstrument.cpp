#include "instrument/VirtualInstrument.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <vector>

#include "data/ItemTable.h"


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
    stop();
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

void VirtualInstrument::setDrift(double dbPerRadio, int fromRadio) {
    std::lock_guard lock(mutex_);
    drift_.dbPerRadio = dbPerRadio;
    drift_.fromRadio = fromRadio;
}

void VirtualInstrument::setRadioNumber(int number) {
    std::lock_guard lock(mutex_);
    drift_.radio = number;
    drift_.counted = false;
}

double VirtualInstrument::driftLoss() const {
    std::lock_guard lock(mutex_);
    return driftLossLocked();
}

// Under the lock.
double VirtualInstrument::driftLossLocked() const {
    if (drift_.counted) {
        const std::uint32_t seed = radio_->spreadSeed();
        if (drift_.radio == 0 || seed != drift_.lastSeed) {
            ++drift_.radio;
            drift_.lastSeed = seed;
        }
    }
    if (drift_.dbPerRadio == 0 || drift_.fromRadio < 1 || drift_.radio < drift_.fromRadio) return 0;
    return drift_.dbPerRadio * (drift_.radio - drift_.fromRadio + 1);
}

double VirtualInstrument::unit(int item, int point, int salt) const {
    const std::uint64_t h = mix(mix(mix(seed_) ^ static_cast<std::uint64_t>(item)) ^
                                (static_cast<std::uint64_t>(point) << 8) ^ (static_cast<std::uint64_t>(salt) << 20));
    return static_cast<double>(h >> 11) / 9007199254740992.0;  // [0, 1)
}

double VirtualInstrument::steadyReading(Quantity quantity, int item, int point, int value) const {
    const TuningItem* entry = FindItem(item);
    const Page page = entry != nullptr ? entry->page : Page::None;
    const double v = value;
    // This radio around its model's curve: mostly shared by the points of an
    // item (an amplifier, a crystal, a modulator of its own), a little per point.
    const VirtualRadio& radio = *radio_;
    switch (quantity) {
        case Quantity::Power: {
            if (page != Page::Power && page != Page::PowerMobile) return 36.0;  // the carrier as it is
            double pmax = 6.0 + 1.0 * unit(item, point, 1);
            if (entry->column == PowerColumn::Low) pmax = 1.6 + 0.4 * unit(item, point, 1);
            if (entry->column == PowerColumn::Middle) pmax = 3.5 + 0.5 * unit(item, point, 1);
            pmax *= 1.0 + 0.12 * radio.spread(item, 0, 11) + 0.03 * radio.spread(item, point, 12);
            const double gamma = 1.6 + 0.4 * unit(item, point, 2) + 0.03 * radio.spread(item, 0, 13);
            const double watts = pmax * std::pow((v + 8.0) / 263.0, gamma);
            return 10.0 * std::log10(watts * 1000.0);
        }
        case Quantity::FrequencyError: {
            if (page != Page::FreqStability) return 0.0;
            const double center = 100.0 + 56.0 * unit(item, point, 3) + 5.0 * radio.spread(0, 0, 21) +
                                  1.0 * radio.spread(item, point, 22);
            const double slope = (10.0 + 4.0 * unit(item, point, 4)) * (1.0 + 0.05 * radio.spread(item, 0, 23));
            return (v - center) * slope;
        }
        case Quantity::Deviation: {
            if (page != Page::Ctcss || entry->keying != ItemKeying::Transmit)
                return 0.0;
            const double slope = (3.0 + 1.5 * unit(item, point, 5)) *
                                 (1.0 + 0.05 * radio.spread(item, 0, 31) + 0.01 * radio.spread(item, point, 32));
            const double offset = 20.0 + 40.0 * unit(item, point, 6) + 12.0 * radio.spread(item, 0, 33) +
                                  3.0 * radio.spread(item, point, 34);
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
    double value = steadyReading(quantity, now_.item, now_.point, now_.value);
    const auto elapsed = std::chrono::steady_clock::now() - changed_;
    if (elapsed < settle_) {
        if (!before_.transmitting) return kNaN;  // the carrier is still coming up
        const double old = steadyReading(quantity, before_.item, before_.point, before_.value);
        const double share = std::chrono::duration<double>(elapsed) / std::chrono::duration<double>(settle_);
        value = old + (value - old) * share;
    }
    static const std::map<Quantity, double> kNoise = {
        {Quantity::Power, 0.02}, {Quantity::FrequencyError, 2.0}, {Quantity::Deviation, 2.0}};
    // The noise of this radio's readings: its own seeded sequence.
    const double u = unit(-1, static_cast<int>(radio_->spreadSeed() & 0xFFFFFF), static_cast<int>(++noiseCounter_ & 0x7FFFFFF));
    if (quantity == Quantity::Power) value -= driftLossLocked();
    return value + noise_ * kNoise.at(quantity) * (2.0 * u - 1.0);
}

void VirtualInstrument::setMisbehaviour(Misbehaviour misbehaviour) {
    std::lock_guard lock(mutex_);
    misbehaviour_ = std::move(misbehaviour);
    drifted_ = 0;
}

// The reply to a measurement query, as the misbehaviour makes it.
std::string VirtualInstrument::measured(Quantity quantity) {
    std::optional<double> lie;
    double offset = 0;
    {
        std::lock_guard lock(mutex_);
        lie = misbehaviour_.reading;
        drifted_ += misbehaviour_.drift;
        offset = drifted_;
    }
    return number((lie ? *lie : reading(quantity)) + offset);
}

std::vector<std::string> VirtualInstrument::received() const {
    std::lock_guard lock(mutex_);
    return {received_.begin(), received_.end()};
}

// On the server's thread, which alone touches the connections' queues.
void VirtualInstrument::pushError(ErrorQueue& errors, const std::string& entry) {
    if (errors.size() >= 16) {
        errors.back() = "-350,\"Queue overflow\"";
        return;
    }
    errors.push_back(entry);
}

std::string VirtualInstrument::handle(const std::string& line, bool* answer, ErrorQueue& errors) {
    *answer = false;
    const std::string text = trim(line);
    if (text.empty()) return {};
    const auto [header, argument, query] = splitLine(text);
    Misbehaviour odd;
    {
        std::lock_guard lock(mutex_);
        received_.push_back(text);
        if (received_.size() > 4096) received_.pop_front();
        odd = misbehaviour_;
        if (!odd.refuse.empty() && header == odd.refuse) {
            pushError(errors, "-222,\"Data out of range\"");
            return {};
        }
    }
    if (query) {
        *answer = odd.ignore.empty() || header != odd.ignore;
        ++queries_;
    }
    if (header == "*IDN?")
        return odd.identity.empty() ? "VARNEL,VIRTUAL TEST SET," + std::to_string(seed_) + ",1.0" : odd.identity;
    if (header == "*OPC?") return "1";
    if (header == "*RST" || header == "*CLS") {
        std::lock_guard lock(mutex_);
        if (header == "*RST") {
            analyserHz_ = 0;
            generatorDbm_ = -120;
            generatorOn_ = false;
        }
        errors.clear();
        return {};
    }
    if (header == "SYST:ERR?") {
        if (errors.empty()) return "0,\"No error\"";
        std::string entry = errors.front();
        errors.pop_front();
        return entry;
    }
    if (header == "RF:FREQ" || header == "GEN:LEV") {
        double v = 0;
        std::lock_guard lock(mutex_);
        if (!toNumber(argument, &v)) {
            pushError(errors, "-104,\"Data type error\"");
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
        if (header == measure.header) return measured(measure.quantity);
    }
    pushError(errors, "-113,\"Undefined header\"");
    *answer = false;  // an instrument does not answer a query it does not know
    return {};
}

// The replies to one command line (its parts split at ';'), with the line
// end; empty when nothing is answered.
std::string VirtualInstrument::answerLine(const std::string& line, ErrorQueue& errors) {
    std::string replies;
    bool any = false;
    std::size_t start = 0;
    for (;;) {
        const auto semi = line.find(';', start);
        const std::string part = line.substr(start, semi == std::string::npos ? std::string::npos : semi - start);
        bool answer = false;
        std::string reply = handle(part, &answer, errors);
        if (answer) {
            if (malformed_) reply = "#MEAS@ERR?" + reply.substr(0, 3) + "\x7f";
            if (any) replies += ';';
            replies += reply;
            any = true;
        }
        if (semi == std::string::npos) break;
        start = semi + 1;
    }
    if (!any || silent_) return {};
    bool nonUtf8 = false;
    {
        std::lock_guard lock(mutex_);
        nonUtf8 = misbehaviour_.nonUtf8;
    }
    if (nonUtf8) replies = "\xff\xfe" + replies;
    return replies + '\n';
}

Error VirtualInstrument::start(int port) {
    if (thread_.joinable()) return {};
    Result<net::Socket> listener = net::ListenLoopback(port, &port_);
    if (!listener) return listener.error().wrap("the virtual instrument cannot serve");
    Result<std::pair<net::Socket, net::Socket>> wake = net::WakePair();
    if (!wake) return wake.error().wrap("the virtual instrument cannot serve");
    listener_ = std::move(listener.value());
    wakeRead_ = std::move(wake.value().first);
    wakeWrite_ = std::move(wake.value().second);
    stop_ = false;
    thread_ = std::thread([this] { serve(); });
    return {};
}

void VirtualInstrument::stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    const char byte = 0;
    std::size_t sent = 0;
    (void)net::SendSome(wakeWrite_, &byte, 1, &sent);
    thread_.join();
    listener_.reset();
    wakeRead_.reset();
    wakeWrite_.reset();
}

namespace {

// One client of the test set: what it sent that is not a whole line yet, and
// the replies it has not taken yet.
struct Client {
    net::Socket socket;
    std::string input;
    bool discarding = false;  // inside a line longer than kMaxLine
    std::string output;
    std::size_t sent = 0;     // bytes of `output` already sent
    std::deque<std::string> errors;  // its own error queue
};

void closeClient(Client& client) { client.socket.reset(); }

// Sends what the socket takes without waiting; false when the client is gone.
bool flush(Client& client) {
    while (client.sent < client.output.size()) {
        std::size_t n = 0;
        const net::Io io = net::SendSome(client.socket, client.output.data() + client.sent,
                                         client.output.size() - client.sent, &n);
        if (io == net::Io::WouldBlock) break;
        if (io != net::Io::Done) return false;
        client.sent += n;
    }
    if (client.sent == client.output.size()) {
        client.output.clear();
        client.sent = 0;
    }
    return true;
}

}  // namespace

void VirtualInstrument::serve() {
    std::vector<Client> clients;
    std::vector<net::PollEntry> fds;
    while (!stop_) {
        fds.clear();
        fds.push_back({wakeRead_.handle(), true, false});
        fds.push_back({listener_.handle(), true, false});
        for (const Client& c : clients) fds.push_back({c.socket.handle(), true, !c.output.empty()});
        if (net::Poll(fds, -1) < 0) continue;
        if (fds[0].readable || stop_) break;
        for (std::size_t i = 2; i < fds.size(); ++i) {
            const net::PollEntry& ready = fds[i];
            if (!ready.readable && !ready.writable && !ready.failed) continue;
            Client& client = clients[i - 2];
            if (ready.writable) {
                if (!flush(client)) {
                    closeClient(client);
                    continue;
                }
            }
            if (!ready.readable && !ready.failed) continue;
            char chunk[4096];
            std::size_t size = 0;
            const net::Io io = net::ReceiveSome(client.socket, chunk, sizeof chunk, &size);
            if (io == net::Io::WouldBlock) continue;
            if (io != net::Io::Done) {
                closeClient(client);
                continue;
            }
            // Whole lines are answered at once; only the unfinished rest is
            // kept, and never more than kMaxLine bytes of it.
            std::size_t from = 0;
            while (from < size && client.socket.valid()) {
                const char* nl = static_cast<const char*>(std::memchr(chunk + from, '\n', size - from));
                const std::size_t end = nl != nullptr ? static_cast<std::size_t>(nl - chunk) : size;
                if (!client.discarding) {
                    client.input.append(chunk + from, end - from);
                    if (client.input.size() > kMaxLine) {
                        client.input.clear();
                        client.input.shrink_to_fit();
                        client.discarding = true;
                        pushError(client.errors, "-223,\"Too much data\"");
                    }
                    largestLine_ = std::max<std::size_t>(largestLine_, client.input.size());
                }
                if (nl == nullptr) break;
                from = end + 1;
                if (client.discarding) {
                    client.discarding = false;
                    continue;
                }
                const std::string line = std::move(client.input);
                client.input.clear();
                client.output += answerLine(line, client.errors);
                if (client.output.size() - client.sent > kMaxPending) {
                    // It does not read what it asks for: it is let go rather
                    // than kept at the cost of the others.
                    ++dropped_;
                    closeClient(client);
                    break;
                }
            }
            if (client.socket.valid() && !client.output.empty() && !flush(client)) closeClient(client);
        }
        clients.erase(std::remove_if(clients.begin(), clients.end(), [](const Client& c) { return !c.socket.valid(); }),
                      clients.end());
        if (fds[1].readable) {
            net::Socket accepted = net::Accept(listener_);
            if (accepted.valid() && clients.size() < kMaxClients) {
                Client c;
                c.socket = std::move(accepted);
                clients.push_back(std::move(c));
            }
            // A client beyond the limit is closed as `accepted` goes.
        }
    }
    clients.clear();
}

}  // namespace varnel

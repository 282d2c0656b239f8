#include "sim/VirtualFaults.h"

#include <charconv>
#include <cstdlib>

namespace varnel {

namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool ParseUnsigned(std::string_view text, unsigned long long& value) {
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

bool ParseProbability(std::string_view text, double& value) {
    if (text.empty() || text.size() > 32) return false;
    const std::string copy(text);
    char* end = nullptr;
    value = std::strtod(copy.c_str(), &end);
    return end == copy.c_str() + copy.size() && value >= 0.0 && value <= 1.0;
}

}  // namespace

std::string VirtualFaultNames() {
    return "hang, hang=MS, hang-after=N[:MS], no-answer, late=N, bad-checksum, refuse, check-condition, short, drop=P, "
           "corrupt=P, lose-commands=P, delay=MS, unplug-after=N, seed=N, none";
}

Result<VirtualFaultSpec> ParseVirtualFaults(std::string_view spec) {
    VirtualFaultSpec out;
    while (!spec.empty()) {
        const std::size_t comma = spec.find(',');
        const std::string_view item = Trim(spec.substr(0, comma));
        spec = comma == std::string_view::npos ? std::string_view{} : spec.substr(comma + 1);
        if (item.empty()) continue;
        const std::size_t equals = item.find('=');
        const std::string_view name = item.substr(0, equals);
        const std::string_view value = equals == std::string_view::npos ? std::string_view{} : item.substr(equals + 1);
        const bool hasValue = equals != std::string_view::npos;
        unsigned long long number = 0;
        double probability = 0.0;
        const auto bad = [&](const char* what) {
            return Error::make(ErrorCode::BadData,
                               "bad virtual fault \"" + std::string(item) + "\": " + what + " (faults: " +
                                   VirtualFaultNames() + ")");
        };
        if (name == "none" && !hasValue) {
            out = VirtualFaultSpec{};
        } else if (name == "hang") {
            out.link.hang = true;
            if (hasValue) {
                if (!ParseUnsigned(value, number) || number > 600000) return bad("expected milliseconds");
                out.link.hangTime = std::chrono::milliseconds(number);
            }
        } else if (name == "hang-after") {
            // N or N:MS
            const std::size_t colon = value.find(':');
            unsigned long long ms = 0;
            if (!ParseUnsigned(value.substr(0, colon), number) || number < 1 || number > 0xFFFFFFFFull ||
                (colon != std::string_view::npos && (!ParseUnsigned(value.substr(colon + 1), ms) || ms > 600000)))
                return bad("expected a command count of 1 or more, and milliseconds after a colon");
            out.link.hangAfter = static_cast<unsigned>(number);
            if (colon != std::string_view::npos) out.link.hangTime = std::chrono::milliseconds(ms);
        } else if (name == "no-answer" && !hasValue) {
            out.firmware = Fault::NoAnswer;
        } else if (name == "bad-checksum" && !hasValue) {
            out.firmware = Fault::WrongChecksum;
        } else if (name == "late") {
            if (!ParseUnsigned(value, number) || number < 1 || number > 100000) return bad("expected a read count of 1 or more");
            out.firmware = Fault::AnswerAfterReads;
            out.firmwareReads = static_cast<unsigned>(number);
        } else if (name == "refuse" && !hasValue) {
            out.link.refusal = LinkFaults::Refusal::Permission;
        } else if (name == "check-condition" && !hasValue) {
            out.link.refusal = LinkFaults::Refusal::CheckCondition;
        } else if (name == "short" && !hasValue) {
            out.link.refusal = LinkFaults::Refusal::ShortRead;
        } else if (name == "drop" || name == "corrupt" || name == "lose-commands") {
            if (!ParseProbability(value, probability)) return bad("expected a probability from 0 to 1");
            (name == "drop" ? out.link.dropReply : name == "corrupt" ? out.link.corruptReply : out.link.loseCommand) =
                probability;
        } else if (name == "delay") {
            if (!ParseUnsigned(value, number) || number > 600000) return bad("expected milliseconds");
            out.link.delay = std::chrono::milliseconds(number);
        } else if (name == "unplug-after") {
            if (!ParseUnsigned(value, number) || number < 1 || number > 0xFFFFFFFFull) return bad("expected a command count of 1 or more");
            out.link.unplugAfter = static_cast<unsigned>(number);
        } else if (name == "seed") {
            if (!ParseUnsigned(value, number) || number > 0xFFFFFFFFull) return bad("expected a number");
            out.link.seed = static_cast<std::uint32_t>(number);
        } else {
            return bad("unknown fault");
        }
    }
    return out;
}

Error ApplyVirtualFaults(VirtualRadio& radio, std::string_view spec) {
    Result<VirtualFaultSpec> parsed = ParseVirtualFaults(spec);
    if (!parsed) return parsed.error();
    std::lock_guard lock(radio.transportMutex());
    radio.setLinkFaults(parsed->link);
    radio.setFault(parsed->firmware, parsed->firmwareReads);
    return {};
}

}  // namespace varnel

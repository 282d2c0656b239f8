// Configuration, identity and CSV helpers shared by the record stores.
#include "records/RecordStore.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>

#include "lang/ItemNames.h"
#include "lang/Profile.h"
#include "records/RecordColumns.h"
#include "util/ConfigFolder.h"
#include "util/LocalTime.h"
#include "util/Csv.h"
#include "util/Utf8.h"

#ifdef _WIN32
#include "util/Win32.h"
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace varnel {

namespace {

// Applies one "database" setting to the configuration; false when empty.
bool TakeSetting(const std::string& value, const std::string& source, RecordsConfig& config) {
    if (value.empty()) return false;
    config.source = source;
    if (value.rfind("sqlite:", 0) == 0) {
        config.kind = RecordsConfig::Kind::Sqlite;
        config.sqliteFile = value.substr(7);
    } else {
        config.kind = RecordsConfig::Kind::Postgres;
        config.connection = value;
    }
    return true;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    static const char* const kDigits = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

std::string IntOrEmpty(int v) { return v < 0 ? std::string() : std::to_string(v); }

// Shortest text that reads back as the same number ("12.5", "-0.25").
std::string RealOrEmpty(const std::optional<double>& v) {
    if (!v) return {};
    char text[40];
    for (int digits = 6; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, *v);
        if (std::strtod(text, nullptr) == *v) break;
    }
    return text;
}

}  // namespace

std::filesystem::path DefaultRecordsFile() { return UserDataFolder() / "records.sqlite"; }
std::filesystem::path DefaultRecordsQueueFile() { return UserDataFolder() / "records-queue.sqlite"; }

RecordsConfig ReadRecordsConfig() {
    RecordsConfig config;
    config.sqliteFile = DefaultRecordsFile();
    config.source = "default";
    if (TakeSetting(EnvOrEmpty("VARNEL_RECORDS_DB"), "VARNEL_RECORDS_DB", config)) return config;
    const std::filesystem::path user = UserConfigFolder() / "records.ini";
    if (TakeSetting(ReadProfileString(user, "records", "database"), user.string(), config)) return config;
#ifndef _WIN32
    const std::filesystem::path system = "/etc/varnel-tuner/records.ini";
    if (TakeSetting(ReadProfileString(system, "records", "database"), system.string(), config)) return config;
#endif
    return config;
}

Result<std::unique_ptr<RecordStore>> OpenConfiguredStore(const RecordsConfig& config) {
    if (config.kind == RecordsConfig::Kind::Postgres)
        return OpenQueuedStore(config.connection, DefaultRecordsQueueFile());
    return OpenSqliteStore(config.sqliteFile);
}

std::string NewRecordUid() {
    // 128 random bits as a version-4 UUID.
    static thread_local std::mt19937_64 generator = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(),
                           static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
        return std::mt19937_64(seed);
    }();
    std::array<std::uint8_t, 16> b{};
    for (int i = 0; i < 16; i += 8) {
        const std::uint64_t r = generator();
        for (int k = 0; k < 8; ++k) b[i + k] = static_cast<std::uint8_t>(r >> (8 * k));
    }
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                  b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

std::string UtcTimestampNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    const std::tm utc = UtcTime(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
    return text;
}

std::string StationName() {
#ifdef _WIN32
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (GetComputerNameA(name, &size)) return name;
    return EnvOrEmpty("COMPUTERNAME");
#else
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) == 0 && name[0]) return name;
    return EnvOrEmpty("HOSTNAME");
#endif
}

std::string ConfiguredStationId() {
    const std::string env = EnvOrEmpty("VARNEL_STATION_ID");
    if (!env.empty()) return env;
    std::string id = ReadProfileString(UserConfigFolder() / "records.ini", "records", "station_id");
#ifndef _WIN32
    if (id.empty()) id = ReadProfileString("/etc/varnel-tuner/records.ini", "records", "station_id");
#endif
    return id.empty() ? StationName() : id;
}

std::string SoftwareVersion() {
#ifdef VARNEL_VERSION
    return VARNEL_VERSION;
#else
    return "unknown";
#endif
}

std::string OperatorName() {
#ifdef _WIN32
    char name[256] = {};
    DWORD size = sizeof name;
    if (GetUserNameA(name, &size)) return name;
    return EnvOrEmpty("USERNAME");
#else
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name) return pw->pw_name;
    const std::string user = EnvOrEmpty("USER");
    return user.empty() ? std::to_string(geteuid()) : user;
#endif
}

namespace {

// Length of the valid UTF-8 sequence at text[i], 0 when the byte starts
// none; NUL counts as invalid here, since the server refuses it in text.
std::size_t Utf8SequenceAt(const std::string& text, std::size_t i) {
    char32_t code = 0;
    return text[i] == '\0' ? 0 : Utf8Sequence(text, i, code);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

bool ServerSafeText(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = Utf8SequenceAt(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string EscapeServerText(const std::string& text) {
    static const char* const kDigits = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = Utf8SequenceAt(text, i);
        if (n == 0) {
            const auto b = static_cast<unsigned char>(text[i]);
            out += "\\x";
            out += kDigits[b >> 4];
            out += kDigits[b & 15];
            ++i;
        } else if (text[i] == '\\') {
            out += "\\\\";
            ++i;
        } else {
            out.append(text, i, n);
            i += n;
        }
    }
    return out;
}

std::string UnescapeServerText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && HexDigit(text[i + 2]) >= 0 &&
                   HexDigit(text[i + 3]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 2]) * 16 + HexDigit(text[i + 3]));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

Error RecordStore::forEach(const RecordFilter& filter, const std::function<bool(const CalibrationRecord&)>& each) {
    auto records = list(filter);
    if (!records) return records.error();
    for (const CalibrationRecord& r : *records)
        if (!each(r)) break;
    return {};
}

bool HasRecordFlag(const std::string& flags, const char* flag) {
    const std::string word = flag;
    std::size_t from = 0;
    while (from <= flags.size()) {
        std::size_t comma = flags.find(',', from);
        if (comma == std::string::npos) comma = flags.size();
        if (flags.compare(from, comma - from, word) == 0 && comma - from == word.size()) return true;
        from = comma + 1;
    }
    return false;
}

std::string RecordsCsvHeader() {
    std::string out;
    for (const RecordColumn& c : RecordColumns()) {
        if (!out.empty()) out += ',';
        out += c.name;
    }
    // The item and the band by name, as the records window shows them,
    // after the stored columns (whose numbers stay where they were).
    return out + ",item_name,band_name\r\n";
}

std::string RecordCsvLine(const CalibrationRecord& r) {
    std::string out;
    bool first = true;
    for (const RecordColumn& c : RecordColumns()) {
        if (!first) out += ',';
        first = false;
        switch (c.kind) {
            case ColumnKind::Id: out += std::to_string(r.id); break;
            case ColumnKind::Text: out += CsvField(r.*c.text); break;
            case ColumnKind::Int: out += std::to_string(r.*c.number); break;
            case ColumnKind::OptionalInt: out += IntOrEmpty(r.*c.number); break;
            case ColumnKind::OptionalReal: out += RealOrEmpty(r.*c.real); break;
            case ColumnKind::Blob: out += Hex(r.*c.bytes); break;
        }
    }
    out += ',' + CsvField(ItemCaption(r.item)) + ',' + CsvField(BandCaption(r.band));
    return out + "\r\n";
}

std::string RecordsToCsv(const std::vector<CalibrationRecord>& records) {
    std::string out = RecordsCsvHeader();
    for (const CalibrationRecord& r : records) out += RecordCsvLine(r);
    return out;
}

}  // namespace varnel

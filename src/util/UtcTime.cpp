#include "util/UtcTime.h"

#include <cstdio>

namespace varnel {

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<long long>(yoe) + era * 400 + (m <= 2);
}

class Reader {
public:
    explicit Reader(const std::string& s) : s_(s) {}
    bool done() const { return i_ == s_.size(); }
    bool take(char c) {
        if (i_ < s_.size() && s_[i_] == c) return ++i_, true;
        return false;
    }
    char peek() const { return i_ < s_.size() ? s_[i_] : '\0'; }
    // Exactly `n` digits.
    bool digits(int n, int& out) {
        out = 0;
        for (int k = 0; k < n; ++k) {
            if (i_ >= s_.size() || s_[i_] < '0' || s_[i_] > '9') return false;
            out = out * 10 + (s_[i_++] - '0');
        }
        return true;
    }
    // One or more digits of a fraction, as milliseconds (the rest dropped).
    bool fraction(int& millis) {
        millis = 0;
        int n = 0;
        while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') {
            if (n < 3) millis = millis * 10 + (s_[i_] - '0');
            ++n, ++i_;
        }
        if (n == 0 || n > 9) return false;
        for (int k = n; k < 3; ++k) millis *= 10;
        return true;
    }

private:
    const std::string& s_;
    std::size_t i_ = 0;
};

}  // namespace

std::optional<std::string> CanonicalUtcTime(const std::string& text) {
    Reader r(text);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
    if (!r.digits(4, year) || !r.take('-') || !r.digits(2, month) || !r.take('-') || !r.digits(2, day))
        return std::nullopt;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || month < 1 || month > 12 || day < 1) return std::nullopt;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > kDays[month - 1] + (month == 2 && leap ? 1 : 0)) return std::nullopt;
    int offsetMinutes = 0;
    if (!r.done()) {
        if (!(r.take('T') || r.take('t') || r.take(' '))) return std::nullopt;
        if (!r.digits(2, hour) || !r.take(':') || !r.digits(2, minute)) return std::nullopt;
        if (r.take(':')) {
            if (!r.digits(2, second)) return std::nullopt;
            if ((r.take('.') || r.take(',')) && !r.fraction(millis)) return std::nullopt;
        }
        if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
        if (r.take('Z') || r.take('z')) {
        } else if (r.peek() == '+' || r.peek() == '-') {
            const int sign = r.take('-') ? -1 : (r.take('+'), 1);
            int oh = 0, om = 0;
            if (!r.digits(2, oh)) return std::nullopt;
            if (r.take(':')) {
                if (!r.digits(2, om)) return std::nullopt;
            } else if (!r.done() && !r.digits(2, om)) {
                return std::nullopt;
            }
            if (oh > 23 || om > 59) return std::nullopt;
            offsetMinutes = sign * (oh * 60 + om);
        }
        if (!r.done()) return std::nullopt;
    }
    long long seconds = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
                        hour * 3600 + minute * 60 + second - offsetMinutes * 60;
    long long days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    long long rest = seconds - days * 86400;
    long long y = 0;
    unsigned m = 0, d = 0;
    CivilFromDays(days, y, m, d);
    if (y < 1 || y > 9999) return std::nullopt;
    char out[96];
    std::snprintf(out, sizeof out, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", static_cast<int>(y), static_cast<int>(m % 100),
                  static_cast<int>(d % 100), static_cast<int>(rest / 3600 % 100), static_cast<int>(rest / 60 % 60),
                  static_cast<int>(rest % 60), millis % 1000);
    return std::string(out);
}

}  // namespace varnel

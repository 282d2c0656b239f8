// Shared helpers of the fuzz targets: a byte reader over the fuzzer's input
// and one scratch folder per process (in memory where the system has one).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <unistd.h>

namespace varnel::fuzz {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::size_t left() const { return size_ - pos_; }
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint16_t u16() { return static_cast<std::uint16_t>((byte() << 8) | byte()); }
    // Up to `most` bytes, the count taken from the input.
    std::string_view bytes(std::size_t most) {
        std::size_t n = left() == 0 ? 0 : byte();
        n = std::min({n, most, left()});
        return take(n);
    }
    std::string_view take(std::size_t n) {
        n = std::min(n, left());
        const std::string_view out(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return out;
    }
    std::string_view rest() { return take(left()); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A folder of this process, removed at exit.
inline const std::filesystem::path& ScratchDirectory() {
    static const std::filesystem::path dir = [] {
        std::error_code ec;
        std::filesystem::path base = std::filesystem::exists("/dev/shm", ec) ? std::filesystem::path("/dev/shm")
                                                                             : std::filesystem::temp_directory_path();
        std::filesystem::path d = base / ("varnel-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        static const std::filesystem::path copy = d;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(copy, ignored);
        });
        return d;
    }();
    return dir;
}

inline void WriteWhole(const std::filesystem::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Stops the run: a broken invariant is a finding like a crash.
#define FUZZ_CHECK(condition) \
    do {                      \
        if (!(condition)) __builtin_trap(); \
    } while (0)

}  // namespace varnel::fuzz

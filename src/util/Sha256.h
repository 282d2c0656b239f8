// SHA-256 (FIPS 180-4) of a byte string, for the fingerprint of the files a
// record depends on (the procedure file of an alignment run).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace varnel {

std::array<std::uint8_t, 32> Sha256(std::string_view bytes);
// The digest as 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::string_view bytes);

}  // namespace varnel

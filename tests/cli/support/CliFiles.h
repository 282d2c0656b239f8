// What the command-line tests read back from the files a command wrote.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace varnel::clitest {

// The whole file, bytes as they are; empty when it cannot be read.
inline std::string ReadAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Two power steps of five points each, quick to settle on the virtual test set.
inline constexpr const char* kPowerProcedure = R"({"name": "Power", "steps": [
  {"name": "High power", "item": 19, "points": [1, 2, 3, 4, 5], "keying": "transmit", "setup": "transmit",
   "measure": "power", "target": 37.0, "tolerance": 0.2, "unit": "dBm", "settle_ms": 25},
  {"name": "Low power", "item": 18, "points": [1, 2, 3, 4, 5], "keying": "transmit", "setup": "transmit",
   "measure": "power", "target": 30.0, "tolerance": 0.2, "unit": "dBm", "settle_ms": 25}]})";

}  // namespace varnel::clitest

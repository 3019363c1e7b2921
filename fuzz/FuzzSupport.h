#pragma once
// What the fuzz targets share: a file of this process for the input's bytes, a small random
// generator whose choices the input decides, and the way a broken rule is reported.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace trimora::fuzz {

// A path in the temporary folder that belongs to this process (removed when it ends).
const std::string& ScratchFile();
// Replaces the scratch file's content with `bytes`.
void WriteScratch(std::string_view bytes);

// Deterministic choices drawn from the input: the same bytes make the same choices, so a
// finding replays exactly.
class Choices {
public:
    Choices(const uint8_t* data, size_t size);
    uint64_t Next();
    // A number in [low, high]; low when high < low.
    int64_t Between(int64_t low, int64_t high);

private:
    uint64_t state_;
};

// A rule of the code under test does not hold: prints it and stops, so libFuzzer keeps the input.
[[noreturn]] void Broken(const std::string& what);

}  // namespace trimora::fuzz

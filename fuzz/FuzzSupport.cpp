#include "FuzzSupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace trimora::fuzz {

const std::string& ScratchFile() {
    static const std::string path = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "trimora-fuzz-XXXXXX").string();
        const int fd = mkstemp(pattern.data());
        if (fd < 0) Broken("cannot create a scratch file in the temporary folder");
        close(fd);
        static std::string removeAtExit;
        removeAtExit = pattern;
        std::atexit([] { unlink(removeAtExit.c_str()); });
        return pattern;
    }();
    return path;
}

void WriteScratch(std::string_view bytes) {
    FILE* out = std::fopen(ScratchFile().c_str(), "wb");
    if (!out) Broken("cannot write the scratch file");
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (std::fclose(out) != 0 || !written) Broken("cannot write the scratch file");
}

Choices::Choices(const uint8_t* data, size_t size) : state_(14695981039346656037ull) {
    for (size_t i = 0; i < size; ++i) state_ = (state_ ^ data[i]) * 1099511628211ull;
}

// SplitMix64.
uint64_t Choices::Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

int64_t Choices::Between(int64_t low, int64_t high) {
    if (high <= low) return low;
    const uint64_t span = static_cast<uint64_t>(high - low) + 1;
    return low + static_cast<int64_t>(Next() % span);
}

void Broken(const std::string& what) {
    std::fprintf(stderr, "\n*** FUZZ RULE BROKEN: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace trimora::fuzz

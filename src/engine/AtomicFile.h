#pragma once
// Writes a whole small file or nothing, the one way the program saves its pictures and its
// stored settings: the bytes go to a temporary file in the target's folder, are flushed to
// disk, and only then take the target's name. A link is followed and kept; a replaced file
// keeps its permissions.
#include <cstdint>
#include <span>
#include <string>

namespace trimora {

// Returns an empty text on success, else the system's description of what failed; the target
// then holds whatever it held before (or stays absent) and no temporary file is left behind.
std::string SaveFileAtomically(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace trimora

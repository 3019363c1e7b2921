#pragma once
// Writes a whole file or nothing: the bytes go to a temporary file in the target's folder, which
// replaces the target only once it is complete and on disk.
#include <cstdint>
#include <span>
#include <string>

namespace trimora {

// Throws EngineError with a description of what the system refused. On failure the target
// keeps whatever it held before (or stays absent) and no temporary file is left behind.
void WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace trimora

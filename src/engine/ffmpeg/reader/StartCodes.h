#pragma once
// MPEG video streams (MPEG-1, MPEG-2, MPEG-4 Part 2) mark every header with a start code: the
// bytes 00 00 01 and the header's kind.
#include <cstdint>

namespace trimora {

// The next start code at or after `pos` in `size` bytes at `data` (0x000001XX), with `pos` just
// past it afterwards, where the header's own bytes begin; 0 at the end.
inline uint32_t NextStartCode(const uint8_t* data, int size, int& pos) {
    uint32_t code = 0xFF;
    while (pos < size) {
        code = code << 8 | data[pos++];
        if ((code & 0xFFFFFF00) == 0x100) return code;
    }
    return 0;
}

}  // namespace trimora

#pragma once
// Which MPEG-4 Part 2 pictures stored in an AVI file's chunks the demuxer flags as keyframes. It
// takes the flag from the picture's own header (its picture parser's picture type), not from
// the index, so the chunks' first bytes are read here as that parser reads them.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/FfmpegUtil.h"

namespace trimora {

struct VideoChunk {
    int64_t pos = 0;  // the picture's first byte in the file
    int64_t size = 0;
    bool indexKey = false;  // the index flags the chunk as a keyframe
};

// The keyframe flag of each chunk's packet as the demuxer gives it, reading the chunks in the
// order given (the order of the file) from `path`, which must be `fileSize` bytes long; or
// nothing where the packets' times would depend on the pictures: a picture shown after later
// ones (a B-VOP), headers that ask for reordering, or headers the parser stops on. Also nothing
// where the file cannot be read.
std::optional<std::vector<bool>> Mpeg4KeyFlags(const std::string& path, int64_t fileSize, const AVCodecParameters* codec,
                                               const std::vector<VideoChunk>& chunks);

}  // namespace trimora

#pragma once
// The opening pass's result read from the container's own index instead of from every packet:
// an MP4/QuickTime file's sample tables and an AVI file's index tell every packet's place,
// time and kind, so a long file opens without reading it.
#include <optional>

#include "engine/FfmpegUtil.h"
#include "engine/ffmpeg/reader/PacketScan.h"

namespace trimora {

// Exactly what Scan() would find in `input` (just opened, nothing read yet), or nothing where the
// tables cannot tell it for certain (fragmented or damaged tables, a file whose end is missing,
// packets the demuxer reshapes as it reads them): the packets must be read then. Reads a few
// packets from the start to confirm; the demuxer is left anywhere.
std::optional<ScanResult> ReadContainerTables(AVFormatContext* input, int videoIndex, int audioIndex);

}  // namespace trimora

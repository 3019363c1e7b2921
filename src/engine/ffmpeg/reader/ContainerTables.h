#pragma once
// The opening pass's result read from the container's own index instead of from every packet:
// an MP4/QuickTime file's sample tables and an AVI file's index tell every packet's place,
// time and kind, so a long file opens without reading it.
#include <functional>
#include <optional>

#include "engine/FfmpegUtil.h"
#include "engine/ffmpeg/reader/Mpeg4Pictures.h"
#include "engine/ffmpeg/reader/PacketScan.h"

namespace trimora {

// Exactly what Scan() would find in `input` (just opened, nothing read yet), or nothing where the
// tables cannot tell it for certain (fragmented or damaged tables, a file whose end is missing,
// packets the demuxer reshapes as it reads them): the packets must be read then. The first
// packets are read to confirm what the tables tell; where they disagree, `reopen` is set: the
// demuxer has read on, and a new one must read the packets from the start. An AVI file's chunk
// heads are taken from `heads` where it read them.
std::optional<ScanResult> ReadContainerTables(AVFormatContext* input, int videoIndex, int audioIndex, bool& reopen,
                                              ChunkHeadsAhead* heads = nullptr);

// Gives a demuxer of an AVI file opened without reading its index (OpenInput's `giveIndex`) the
// video's entries of the index `heads` read, as the demuxer would have taken them itself; false
// where they cannot be told for certain, and the demuxer must read its own. The demuxer reads an
// index a byte at a time: a long file's took most of its open.
bool GiveAviIndex(AVFormatContext* input, ChunkHeadsAhead& heads);
// For a second demuxer on the same file, reading the sound (stream `audioIndex`): its entries of
// the index given to the first, as `giveIndex` for OpenInput; empty where the first was not given one.
std::function<bool(AVFormatContext*)> SoundIndexGiver(ChunkHeadsAhead& heads, int audioIndex);

}  // namespace trimora

// Fuzzes the media reader: the input's bytes are a file, which is opened, described, read on
// (video frames and sound blocks) and sought in, in an order the bytes decide. A refusal
// (EngineError) is a normal outcome. A crash, a sanitizer report, a hang or a runaway allocation
// is a finding, and so is a frame or a sound block that breaks the reader's own rules.
//
// The work per input is bounded (frames, blocks, seeks), so that a slow input means a slow
// reader, not a long script.
#include <algorithm>
#include <cstdint>
#include <string>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

#include "FuzzSupport.h"
#include "engine/EngineError.h"
#include "engine/FrameBuffer.h"
#include "engine/ffmpeg/reader/FfmpegReader.h"

namespace {

using trimora::fuzz::Broken;
using trimora::fuzz::Choices;

constexpr int kFramesInOrder = 30;   // read from the start
constexpr int kBlocksInOrder = 30;
constexpr int kSeeks = 8;
constexpr size_t kCacheBytes = 8u << 20;

volatile uint8_t sink;

// Checks a delivered frame against its layout and reads every byte of its planes, so that a
// plane reaching past the picture's buffers shows up here or under AddressSanitizer.
bool InsideBuffers(const AVFrame& picture, const uint8_t* begin, size_t size) {
    for (const AVBufferRef* buffer : picture.buf)
        if (buffer && begin >= buffer->data && begin + size <= buffer->data + buffer->size) return true;
    return false;
}

void Inspect(const trimora::FrameData& frame, trimora::FfmpegReader& reader) {
    if (frame.empty()) return;
    const auto view = trimora::ViewFrame(frame);
    if (!view) Broken("a delivered frame cannot be read");
    const trimora::FrameHeader& h = view->header;
    if (h.frameNumber < 1 || h.frameNumber > reader.NumberOfFrames())
        Broken("frame number " + std::to_string(h.frameNumber) + " outside 1.." +
               std::to_string(reader.NumberOfFrames()));
    const auto format = static_cast<AVPixelFormat>(h.pixelFormat);
    if (!av_pix_fmt_desc_get(format)) Broken("a frame of unknown pixel format " + std::to_string(h.pixelFormat));
    ptrdiff_t lines[4];
    for (int i = 0; i < 4; ++i) lines[i] = view->linesizes[i];
    size_t sizes[4] = {0, 0, 0, 0};
    if (av_image_fill_plane_sizes(sizes, format, h.height, lines) < 0) Broken("a frame's planes have no size");
    uint8_t sum = 0;
    for (int i = 0; i < 4; ++i) {
        if (!view->planes[i] || sizes[i] == 0) continue;
        if (!InsideBuffers(*frame.Picture(), view->planes[i], sizes[i]))
            Broken("plane " + std::to_string(i) + " reaches past the picture's buffers");
        for (size_t k = 0; k < sizes[i]; ++k) sum ^= view->planes[i][k];
    }
    sink = sum;
}

void CheckPosition(trimora::FfmpegReader& reader) {
    const int32_t current = reader.CurrentFrameNumber();
    if (current < 0 || current > reader.NumberOfFrames())
        Broken("current frame " + std::to_string(current) + " outside 0.." + std::to_string(reader.NumberOfFrames()));
}

void ReadFrame(trimora::FfmpegReader& reader, trimora::FrameData& frame) {
    reader.ReadNextVideoFrame(frame);
    Inspect(frame, reader);
    CheckPosition(reader);
}

// Returns false at the end of the sound.
bool ReadBlock(trimora::FfmpegReader& reader, int32_t blockSize, trimora::AudioBlock& block) {
    reader.ReadNextAudioBlock(blockSize, block);
    if (block.empty()) return false;
    const size_t frameBytes = 2 * static_cast<size_t>(std::max(1, reader.Channels()));
    if (block.size() % frameBytes != 0) Broken("a sound block of " + std::to_string(block.size()) + " bytes is not whole sample frames");
    if (blockSize > 0 && block.size() > static_cast<size_t>(blockSize) * frameBytes)
        Broken("a sound block of " + std::to_string(block.size()) + " bytes for " + std::to_string(blockSize) +
               " sample frames");
    uint8_t sum = 0;
    for (uint8_t b : block) sum ^= b;
    sink = sum;
    return true;
}

int32_t BlockSize(Choices& choices) {
    static constexpr int32_t kSizes[] = {0, 1, 1152, 2304, 4800};
    return kSizes[choices.Between(0, 4)];
}

void Exercise(trimora::FfmpegReader& reader, Choices& choices) {
    // Every value the program shows or computes with.
    uint64_t values = reader.HasVideo() + reader.HasAudio() + reader.VideoCodecName().size() +
                      reader.AudioFormatName().size() + static_cast<uint64_t>(reader.FrameRate() > 0);
    for (const int32_t v : {reader.VideoDuration(), reader.VideoBitRate(), reader.NumberOfFrames(), reader.Width(),
                            reader.Height(), reader.AudioDuration(), reader.AudioBitRate(), reader.SampleRate(),
                            reader.BitsPerSample(), reader.Channels(), reader.CurrentVideoPosition(),
                            reader.CurrentAudioPosition()})
        values += static_cast<uint32_t>(v);
    sink = static_cast<uint8_t>(values);
    const int32_t frames = reader.NumberOfFrames();
    if (reader.HasVideo() && frames < 1) Broken("video with no frames was opened");

    trimora::FrameData frame;
    for (int i = 0; i < kFramesInOrder && i < frames + 1; ++i) ReadFrame(reader, frame);
    trimora::AudioBlock block;
    for (int i = 0; i < kBlocksInOrder; ++i)
        if (!ReadBlock(reader, BlockSize(choices), block)) break;

    const int32_t duration = std::max(reader.VideoDuration(), reader.AudioDuration());
    for (int i = 0; i < kSeeks; ++i) {
        switch (choices.Between(0, 3)) {
            case 0: reader.SeekToFrame(static_cast<int32_t>(choices.Between(-1, frames + 2))); break;
            case 1: reader.SeekToPosition(static_cast<int32_t>(choices.Between(-1000, int64_t{duration} + 1000))); break;
            case 2: reader.DropNotification(static_cast<int32_t>(choices.Between(-1, 4))); break;
            default: reader.SeekToFrame(std::max(1, reader.CurrentFrameNumber() - 1)); break;  // a step back
        }
        CheckPosition(reader);
        const int64_t reads = choices.Between(1, 4);
        for (int64_t k = 0; k < reads; ++k) {
            ReadFrame(reader, frame);
            ReadBlock(reader, BlockSize(choices), block);
        }
    }
    reader.Close();
    if (reader.HasVideo() || reader.NumberOfFrames() != 0) Broken("values survive closing the reader");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    trimora::fuzz::WriteScratch(std::string_view(reinterpret_cast<const char*>(data), size));
    Choices choices(data, size);
    trimora::FfmpegReader reader(kCacheBytes);
    try {
        reader.OpenForReading(trimora::fuzz::ScratchFile());
    } catch (const trimora::EngineError&) {
        return 0;  // refused: the file is not a video the reader can take
    }
    try {
        Exercise(reader, choices);
    } catch (const trimora::EngineError&) {
        // A read that fails with a message is a sound outcome for a damaged file.
    }
    return 0;
}

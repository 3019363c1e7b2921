#pragma once
// Owning pointers for FFmpeg objects and the one helper that turns FFmpeg error codes into text.
// The rest of the engine never calls a *_free by hand.
#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "engine/EngineError.h"

namespace trimora::ff {

// Closes the demuxer and, where it reads through a file reader of its own (OpenFileReader), that
// reader too.
struct InputContextDeleter {
    void operator()(AVFormatContext* c) const;
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsDeleter {
    void operator()(SwsContext* c) const { sws_freeContext(c); }
};
struct BufferPoolDeleter {
    void operator()(AVBufferPool* p) const { av_buffer_pool_uninit(&p); }
};
struct SwrDeleter {
    void operator()(SwrContext* c) const { swr_free(&c); }
};
// An output context owns its AVIOContext; closing the file is the writer's job (it must write
// the trailer first), this only frees what is left.
struct OutputContextDeleter {
    void operator()(AVFormatContext* c) const;
};

using InputContextPtr = std::unique_ptr<AVFormatContext, InputContextDeleter>;
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;
// Buffers handed out by a pool stay valid after the pool is let go; they are freed as they return.
using BufferPoolPtr = std::unique_ptr<AVBufferPool, BufferPoolDeleter>;

inline FramePtr MakeFrame() { return FramePtr(av_frame_alloc()); }
inline PacketPtr MakePacket() { return PacketPtr(av_packet_alloc()); }

// A reader of the file at `path` with a buffer of `bufferSize` bytes, for a demuxer that reads
// through it (AVFMT_FLAG_CUSTOM_IO); nullptr with errno set where the file cannot be opened.
// FFmpeg's own file reading takes 32 KB at a time: a long file is then read in hundreds of
// thousands of system calls. `end` (unless -1): the reading ends there, as at the end of a file.
AVIOContext* OpenFileReader(const std::string& path, int bufferSize, int64_t end = -1);
// Closes a reader made by OpenFileReader (nullptr: nothing).
void CloseFileReader(AVIOContext* reader);

// A writer of the file at `path` with a buffer of `bufferSize` bytes, for a muxer that writes
// through it (AVFMT_FLAG_CUSTOM_IO); nullptr with errno set where the file cannot be opened. The
// file is written as it is found (the program's output files are new and empty): emptying it
// would have the file system write all of it out when it is closed, while the program waits.
// Instead what is written goes on its way to the disk every few megabytes, so that making the
// file durable at the end has little left to do.
AVIOContext* OpenFileWriter(const std::string& path, int bufferSize);
// Writes out what the writer holds and closes the file; the writer is gone afterwards. Returns 0,
// or the first error the writing or the closing met.
int CloseFileWriter(AVIOContext** writer);

// The text of an FFmpeg error code.
std::string ErrorText(int errorCode);

// Throws EngineError("<what>: <FFmpeg's text>") when code < 0; returns code otherwise.
int Check(int code, const std::string& what);

}  // namespace trimora::ff

#pragma once
// The kinds of the MPEG-4 Part 2 pictures stored in an AVI file's chunks, as the demuxer finds
// them: it takes a packet's keyframe flag (and, where the pictures are reordered, whether it has
// a presentation time) from the picture's own header through its picture parser, not from the
// index, so the chunks' first bytes are read here as that parser reads them.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <optional>
#include <string>
#include <vector>

#include "engine/FfmpegUtil.h"

namespace trimora {

// The file mapped into memory: the first bytes of tens of thousands of chunks scattered through
// it cost a fraction of what a read call each costs. It is mapped only at the size expected, and
// a read of bytes that another program has cut off meanwhile fails instead of stopping the
// program (the access raises SIGBUS, which is caught for these reads alone).
class MappedFile {
public:
    MappedFile(const std::string& path, int64_t size);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    bool IsOpen() const { return data_ != nullptr; }
    // The `count` bytes at `pos` into `out`; false where they lie outside the size it was mapped
    // with, or the file no longer holds them.
    bool Read(int64_t pos, size_t count, std::vector<uint8_t>& out) const;
    bool Read(int64_t pos, size_t count, uint8_t* out) const;

private:
    const uint8_t* data_ = nullptr;
    int64_t size_ = 0;
};

struct VideoChunk {
    int64_t pos = 0;  // the picture's first byte in the file
    int64_t size = 0;
    bool indexKey = false;  // the index flags the chunk as a keyframe
};

// What the demuxer makes of a chunk's picture.
struct ChunkPicture {
    bool key = false;
    bool bidirectional = false;  // a B-VOP: shown before the picture decoded ahead of it
};

// Reads `count` bytes at `pos` of a file into `out`; false where they cannot be read.
using ReadBytes = std::function<bool(int64_t pos, size_t count, uint8_t* out)>;

// A stream's header (strh) as stored.
struct AviStreamHeader {
    bool padding = false;    // a "pads" stream, which the demuxer leaves out of its numbering
    int64_t scale = 0;       // the time unit is scale / rate seconds
    int64_t rate = 0;
    int64_t start = 0;       // the stream's first time, in its units
    int64_t sampleSize = 0;  // bytes of one sample; 0: each chunk is one unit of time
    int64_t superIndex = -1;  // where its OpenDML index of indexes (indx) is, which the demuxer reads instead
    int64_t superIndexSize = 0;
};

// An AVI file's index (idx1), where the file is one whole RIFF part holding one index. The
// demuxer indexes a file without one (an interrupted recording) as it reads, so its index then
// holds only what was read so far; and the further parts of a file beyond a gigabyte are indexed
// otherwise (ReadOpenDmlCounts).
struct AviIndex {
    std::vector<uint8_t> entries;  // 16 bytes each, as stored
    int64_t movie = -1;            // where the movie list's type is (offsets may count from it), -1: none
    std::vector<int64_t> counts;   // the chunks with data, by stream number
    std::vector<AviStreamHeader> streams;  // by stream number, as the header lists them
};
std::optional<AviIndex> ReadAviIndex(const ReadBytes& read, int64_t fileSize);
// The chunks with data, by stream number, that an AVI file's OpenDML indexes list (a file beyond a
// gigabyte is several RIFF parts, indexed so), as the demuxer reads them instead of the first
// part's index; nothing where the file is not a chain of whole RIFF parts, or the indexes are not
// plain indexes of each stream's chunks.
std::optional<std::vector<int64_t>> ReadOpenDmlCounts(const ReadBytes& read, int64_t fileSize);

// A picture's start code and the byte after it, which tells its kind.
constexpr size_t kChunkHeadBytes = 5;
using ChunkHead = std::array<uint8_t, kChunkHeadBytes>;

// The first bytes of the video chunks an AVI file's index lists, read on a thread of its own from
// the moment the file is chosen: meanwhile the demuxer reads the same index, a while on a long
// file. Nothing is read from a file that is not one whole AVI part with an index.
class ChunkHeadsAhead {
public:
    explicit ChunkHeadsAhead(const std::string& path);
    // Waits for the thread, which lets go of the file.
    ~ChunkHeadsAhead();
    ChunkHeadsAhead(const ChunkHeadsAhead&) = delete;
    ChunkHeadsAhead& operator=(const ChunkHeadsAhead&) = delete;
    // The heads of `chunks`, where the chunks read are exactly these (the demuxer found the same
    // ones); else nothing, and they are read as without this. Waits for the reading.
    std::optional<std::vector<ChunkHead>> Take(const std::vector<VideoChunk>& chunks);
    // Ends the reading where it is: the heads are not wanted.
    void Stop();
    // The file looked like an AVI file, and its reading started.
    bool Started() const { return started_; }
    // Lets go of the file's pages, in the background: the file is open, and unmapping them
    // takes a while of its own.
    void Release();

    struct Read {
        std::vector<int64_t> counts;  // of chunks with data, by stream number (AviIndex)
        std::vector<VideoChunk> chunks;
        std::vector<ChunkHead> heads;
        size_t videoStream = 0;  // the stream number of the chunks
        // By stream number, the entries the demuxer would take from the index (the chunks'
        // headers' places), where every stream's times follow from its header alone, the streams
        // are interleaved within a second of each other and every chunk lies in the file; else
        // empty.
        std::vector<std::vector<AVIndexEntry>> entries;
        std::vector<AviStreamHeader> headers;  // by stream number
    };
    // What was read (waiting for it), nothing where the file is not one whole AVI part with an
    // index; the heads are gone once taken.
    const Read* Result();
    // The entries of stream `stream` read with the heads, taken out of the result.
    std::vector<AVIndexEntry> TakeEntries(size_t stream);
    // The demuxer was opened without reading the index and given the video's entries of this
    // one (GiveAviIndex).
    void MarkGiven() { given_ = true; }
    bool Given() const { return given_; }

private:
    bool given_ = false;
    std::atomic<bool> stop_{false};
    bool started_ = false;
    std::future<std::optional<Read>> reading_;
    std::optional<Read> read_;
    std::mutex mutex_;
    std::condition_variable released_;
    bool release_ = false;  // the file may be unmapped
    std::thread thread_;
};

// The pictures of the chunks as the demuxer gives them, reading the chunks in the order given
// (the order of the file) from `path`, which must be `fileSize` bytes long; or nothing where the
// packets' times would not follow from them alone: B-VOPs in a stream whose headers ask for no
// reordering, headers that change what they ask for, or headers the parser stops on. Also
// nothing where the file cannot be read. The chunks' heads are taken from `ahead` where it has them.
std::optional<std::vector<ChunkPicture>> Mpeg4Pictures(const std::string& path, int64_t fileSize,
                                                       const AVCodecParameters* codec,
                                                       const std::vector<VideoChunk>& chunks,
                                                       ChunkHeadsAhead* ahead = nullptr);

}  // namespace trimora

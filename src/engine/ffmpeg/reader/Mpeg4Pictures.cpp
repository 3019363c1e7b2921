#include "engine/ffmpeg/reader/Mpeg4Pictures.h"

#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cmath>
#include <future>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>

namespace trimora {

namespace {

constexpr uint8_t kPictureStart[4] = {0x00, 0x00, 0x01, 0xB6};
// Room after a picture's start code for the rest of its header (a few bytes, a few more with a
// sprite's trajectory): the parser reads no further.
constexpr int64_t kPictureHeaderRoom = 1024;
// What is looked at first for the headers before a picture: they are a few dozen bytes.
constexpr int64_t kFirstLook = 4096;
// What the parser is told before each chunk: it sets the reordering the headers ask for (0 or 1)
// when it reaches a picture, and leaves this where it stops before one.
constexpr int kNoPictureReached = -1;

// A copy from the mapped file that survives another program cutting the file short meanwhile:
// touching a page past its new end raises SIGBUS, which ends that copy as failed instead of the
// program. A SIGBUS that is not one of these copies' goes where it went before.
__attribute__((tls_model("initial-exec"))) thread_local sigjmp_buf* tCopying = nullptr;
struct sigaction gBusBefore;
std::once_flag gBusTaken;

void OnBus(int signal, siginfo_t* info, void* context) {
    if (sigjmp_buf* copying = tCopying) {
        tCopying = nullptr;
        siglongjmp(*copying, 1);
    }
    if (gBusBefore.sa_flags & SA_SIGINFO) {
        gBusBefore.sa_sigaction(signal, info, context);
    } else if (gBusBefore.sa_handler != SIG_IGN && gBusBefore.sa_handler != SIG_DFL) {
        gBusBefore.sa_handler(signal);
    } else if (gBusBefore.sa_handler == SIG_DFL) {
        // The default: the program stops, as it would have without this handler.
        ::signal(SIGBUS, SIG_DFL);
        raise(SIGBUS);
    }
}

// `count` bytes from `from` (in the mapping) to `to`; false where the file no longer holds them.
bool GuardedCopy(uint8_t* to, const uint8_t* from, size_t count) {
    std::call_once(gBusTaken, [] {
        struct sigaction action {};
        action.sa_sigaction = OnBus;
        // Not blocked while handled: the jump out of the handler then leaves the mask as it was,
        // and the copies need not save it (a system call each).
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, &gBusBefore);
    });
    sigjmp_buf copying;
    if (sigsetjmp(copying, 0) != 0) return false;
    tCopying = &copying;
    // The copy stays between the two: the compiler moves nothing across. Byte by byte in this
    // function, not through a library's copy: a fault inside a copy that a sanitizer's runtime
    // has taken over would not reach the handler.
    std::atomic_signal_fence(std::memory_order_seq_cst);
    const volatile uint8_t* source = from;
    for (size_t i = 0; i < count; ++i) to[i] = source[i];
    std::atomic_signal_fence(std::memory_order_seq_cst);
    tCopying = nullptr;
    return true;
}

struct ParserDeleter {
    void operator()(AVCodecParserContext* parser) const { av_parser_close(parser); }
};

bool IsPictureStart(const uint8_t* p) {
    return p[0] == kPictureStart[0] && p[1] == kPictureStart[1] && p[2] == kPictureStart[2] && p[3] == kPictureStart[3];
}

// Where the first picture start code is in the `size` bytes at `p`, or -1.
int64_t FindPictureStart(const uint8_t* p, int64_t size) {
    for (int64_t i = 0; i + 4 <= size; ++i)
        if (p[i + 2] == 0x01 && IsPictureStart(p + i)) return i;
    return -1;
}

}  // namespace

MappedFile::MappedFile(const std::string& path, int64_t size) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == size && size > 0) {
        void* mapped = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, fd, 0);
        if (mapped != MAP_FAILED) {
            data_ = static_cast<const uint8_t*>(mapped);
            size_ = size;
        }
    }
    close(fd);  // the mapping stays
}

MappedFile::~MappedFile() {
    if (!data_) return;
    // In pieces: while pages are unmapped, the program's other threads cannot map memory (a large
    // allocation does), and a long file's pages take tens of milliseconds to unmap.
    constexpr int64_t kPiece = int64_t{32} << 20;
    for (int64_t at = 0; at < size_; at += kPiece)
        munmap(const_cast<uint8_t*>(data_) + at, static_cast<size_t>(std::min(kPiece, size_ - at)));
}

bool MappedFile::Read(int64_t pos, size_t count, std::vector<uint8_t>& out) const {
    out.resize(count);
    return Read(pos, count, out.data());
}

bool MappedFile::Read(int64_t pos, size_t count, uint8_t* out) const {
    if (!data_ || pos < 0 || pos > size_ || count > static_cast<size_t>(size_ - pos)) return false;
    return GuardedCopy(out, data_ + pos, count);
}

namespace {

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[3]) << 24 | static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
}

// The `count` bytes at `pos` of the open file `fd`.
bool ReadAt(int fd, int64_t pos, size_t count, uint8_t* out) {
    for (size_t done = 0; done < count;) {
        const ssize_t n = pread(fd, out + done, count - done, static_cast<off_t>(pos + static_cast<int64_t>(done)));
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The stream number an index entry's chunk id starts with ("01wb": 1), -1 for none.
int StreamNumber(const uint8_t* id) {
    if (id[0] < '0' || id[0] > '9' || id[1] < '0' || id[1] > '9') return -1;
    return (id[0] - '0') * 10 + id[1] - '0';
}

// A file open for reading at given places.
class OpenedFile {
public:
    explicit OpenedFile(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~OpenedFile() {
        if (fd_ >= 0) close(fd_);
    }
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;
    int Fd() const { return fd_; }
    bool Read(int64_t pos, size_t count, uint8_t* out) const { return fd_ >= 0 && ReadAt(fd_, pos, count, out); }
    bool Read(int64_t pos, size_t count, std::vector<uint8_t>& out) const {
        out.resize(count);
        return Read(pos, count, out.data());
    }

private:
    int fd_;
};

// The first bytes of every chunk into `heads`, on two threads (where a second can be had):
// touching the pages they lie on is most of the cost. False where the file no longer holds them
// or `stop` is set.
bool ReadChunkHeads(const MappedFile& file, const std::vector<VideoChunk>& chunks, std::vector<ChunkHead>& heads,
                    const std::atomic<bool>* stop) {
    constexpr size_t kStopCheck = 1024;
    std::atomic<bool> failed{!file.IsOpen()};
    const auto read = [&](size_t from, size_t to) {
        for (size_t i = from; i < to && !failed; ++i) {
            if (stop && i % kStopCheck == 0 && *stop) failed = true;
            const size_t count = static_cast<size_t>(std::min<int64_t>(chunks[i].size, kChunkHeadBytes));
            if (!file.Read(chunks[i].pos, count, heads[i].data())) failed = true;
        }
    };
    const size_t half = chunks.size() / 2;
    auto secondHalf = std::async(std::launch::async | std::launch::deferred, read, half, chunks.size());
    read(0, half);
    secondHalf.get();
    return !failed;
}

// The entries the demuxer takes from the index, by stream number, their offsets counted from
// `base`: an entry without data, or at the place of the entry taken before it, is not taken, but
// its time passes. Empty where a stream's times do not follow from its header alone (a start
// time, pictures timed by their bytes, sound timed by its chunks), where the demuxer would take
// its entries from OpenDML indexes instead, or where it would find the streams not interleaved
// and read them in an order of its own.
std::vector<std::vector<AVIndexEntry>> DemuxerEntries(const AviIndex& avi, int64_t base, int64_t fileSize,
                                                     const OpenedFile& opened) {
    constexpr uint32_t kKeyFrame = 0x10;  // the index's keyframe flag
    constexpr int64_t kLargestEntry = 0x3FFFFFFF;  // the demuxer takes no larger chunk
    constexpr double kMostApart = 1.0;    // seconds between streams at one place of the file
    const std::vector<AviStreamHeader>& headers = avi.streams;
    const size_t streams = headers.size();
    std::vector<std::vector<AVIndexEntry>> entries(streams);
    std::vector<double> secondsPerTick(streams, 0);  // of the stream's times as the demuxer counts them
    for (size_t n = 0; n < streams; ++n) {
        const AviStreamHeader& h = headers[n];
        if (h.padding || h.superIndex >= 0) return {};
        if (h.start == 0 && h.scale > 0 && h.rate > 0)
            secondsPerTick[n] = static_cast<double>(h.scale) / static_cast<double>(h.rate) /
                                static_cast<double>(std::max<int64_t>(h.sampleSize, 1));
        if (n < avi.counts.size()) entries[n].reserve(static_cast<size_t>(avi.counts[n]));
    }
    std::vector<int64_t> time(streams, 0);
    std::vector<double> lastSeconds(streams, -1);
    const std::vector<uint8_t>& index = avi.entries;
    bool anyKey = false;
    int64_t lastPos = -1, lastTaken = -1;
    for (size_t e = 0; e + 16 <= index.size(); e += 16) {
        const uint8_t* entry = index.data() + e;
        const int number = StreamNumber(entry);
        if (number < 0 || static_cast<size_t>(number) >= streams) continue;
        const size_t n = static_cast<size_t>(number);
        if (secondsPerTick[n] <= 0 || (entry[2] == 'd') != (headers[n].sampleSize == 0)) return {};
        const int64_t pos = base + Le32(entry + 8);
        const int64_t size = Le32(entry + 12);
        const bool key = (Le32(entry + 4) & kKeyFrame) != 0;
        anyKey = anyKey || key;
        // Two entries at one place: the demuxer takes the file as not interleaved.
        if (pos == lastPos) return {};
        lastPos = pos;
        if (pos != lastTaken && size > 0) {
            if (pos < lastTaken || size > kLargestEntry || pos > fileSize - size) return {};
            lastTaken = pos;
            AVIndexEntry& taken = entries[n].emplace_back();
            taken.pos = pos;
            taken.timestamp = time[n];
            taken.flags = key ? AVINDEX_KEYFRAME : 0;
            taken.size = static_cast<int>(size);
            const double seconds = static_cast<double>(time[n]) * secondsPerTick[n];
            for (size_t other = 0; other < streams; ++other)
                if (lastSeconds[other] >= 0 && std::abs(lastSeconds[other] - seconds) > kMostApart && other != n)
                    return {};
            lastSeconds[n] = seconds;
        }
        time[n] += headers[n].sampleSize > 0 ? size : 1;
    }
    for (size_t n = 0; n < streams; ++n) {
        if (entries[n].empty()) continue;
        if (!anyKey) entries[n].front().flags = AVINDEX_KEYFRAME;
        // A stream that starts after another has ended, or whose first chunk runs into its
        // second, is not interleaved either.
        for (size_t other = 0; other < streams; ++other)
            if (other != n && !entries[other].empty() && entries[n].front().pos > entries[other].back().pos) return {};
        uint8_t length[4];
        if (entries[n].size() >= 2 && (!opened.Read(entries[n][0].pos + 4, 4, length) ||
                                       entries[n][0].pos + Le32(length) > entries[n][1].pos))
            return {};
    }
    return entries;
}

// The video chunks of the file's index and their heads; nothing where the file is not one whole
// AVI part with an index, or `stop` is set.
std::optional<ChunkHeadsAhead::Read> ReadHeads(const std::string& path, const std::atomic<bool>& stop,
                                               std::unique_ptr<MappedFile>& mapping) {
    constexpr int64_t kChunkHeader = 8;   // an index entry tells where the chunk's header is
    constexpr uint32_t kKeyFrame = 0x10;  // the index's keyframe flag
    const OpenedFile opened(path);
    struct stat st {};
    if (opened.Fd() < 0 || fstat(opened.Fd(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    const int64_t fileSize = st.st_size;
    std::optional<AviIndex> avi = ReadAviIndex(
        [&opened](int64_t pos, size_t count, uint8_t* out) { return opened.Read(pos, count, out); }, fileSize);
    if (!avi || avi->movie < 0) return std::nullopt;
    const std::vector<uint8_t>& index = avi->entries;
    const int64_t movi = avi->movie;
    ChunkHeadsAhead::Read read;
    read.counts = avi->counts;
    // The video: the stream with the most pictures listed ("##dc", "##db").
    std::array<size_t, 100> pictures{};
    for (size_t e = 0; e + 16 <= index.size(); e += 16) {
        const uint8_t* id = index.data() + e;
        const int number = StreamNumber(id);
        if (number >= 0 && id[2] == 'd' && (id[3] == 'c' || id[3] == 'b') && Le32(id + 12) > 0)
            ++pictures[static_cast<size_t>(number)];
    }
    const size_t stream = static_cast<size_t>(std::max_element(pictures.begin(), pictures.end()) - pictures.begin());
    if (pictures[stream] == 0) return std::nullopt;
    const uint8_t video[2] = {static_cast<uint8_t>('0' + stream / 10), static_cast<uint8_t>('0' + stream % 10)};
    // Offsets count from the file's start or from the movie list: the first entry's chunk header
    // tells which.
    int64_t base = -1;
    for (size_t e = 0; base < 0 && e + 16 <= index.size(); e += 16) {
        if (std::memcmp(index.data() + e, video, 2) != 0 || Le32(index.data() + e + 12) == 0) continue;
        for (const int64_t candidate : {int64_t{0}, movi}) {
            uint8_t tag[4];
            if (base < 0 && opened.Read(candidate + Le32(index.data() + e + 8), 4, tag) &&
                std::memcmp(tag, index.data() + e, 4) == 0)
                base = candidate;
        }
        break;
    }
    if (base < 0) return std::nullopt;
    read.videoStream = stream;
    read.entries = DemuxerEntries(*avi, base, fileSize, opened);
    read.headers = avi->streams;
    read.chunks.reserve(pictures[stream]);
    int64_t last = -1;
    for (size_t e = 0; e + 16 <= index.size(); e += 16) {
        const uint8_t* entry = index.data() + e;
        const int64_t pos = base + Le32(entry + 8);
        const int64_t size = Le32(entry + 12);
        if (size == 0 || pos == last) continue;
        last = pos;
        if (std::memcmp(entry, video, 2) != 0 || entry[2] != 'd') continue;
        if (pos > fileSize - kChunkHeader - size) return std::nullopt;
        read.chunks.push_back(VideoChunk{pos + kChunkHeader, size, (Le32(entry + 4) & kKeyFrame) != 0});
    }
    avi.reset();
    mapping = std::make_unique<MappedFile>(path, fileSize);
    read.heads.resize(read.chunks.size());
    if (!ReadChunkHeads(*mapping, read.chunks, read.heads, &stop)) return std::nullopt;
    return read;
}

// What a chunk's visitor asks of the walk over the chunks.
enum class Walk { Next, Done, Fail };

// Visits the chunks laid end to end in [begin, end): `visit(at, id, size)` for each, `at` where
// its 8-byte header is, `size` the bytes of data after it (padded to an even count). False where
// a header cannot be read, a chunk runs past `end`, or the visitor fails.
bool WalkChunks(const ReadBytes& read, int64_t begin, int64_t end,
                const std::function<Walk(int64_t at, const uint8_t* id, int64_t size)>& visit) {
    uint8_t h[8];
    for (int64_t at = begin; at <= end - 8;) {
        if (!read(at, 8, h)) return false;
        const int64_t size = Le32(h + 4);
        if (size > end - at - 8) return false;
        const Walk next = visit(at, h, size);
        if (next != Walk::Next) return next == Walk::Done;
        at += 8 + size + (size & 1);
    }
    return true;
}

// The chunk at `at` is a list of the type `type`.
bool IsList(const ReadBytes& read, int64_t at, const uint8_t* id, int64_t size, const char* type) {
    uint8_t listType[4];
    return std::memcmp(id, "LIST", 4) == 0 && size >= 4 && read(at + 8, 4, listType) &&
           std::memcmp(listType, type, 4) == 0;
}

// The stream headers of the header list's stream lists in [begin, end), in order.
bool ReadStreamHeaders(const ReadBytes& read, int64_t begin, int64_t end, std::vector<AviStreamHeader>& streams) {
    constexpr size_t kMostStreams = 100;  // two digits number them
    return WalkChunks(read, begin, end, [&](int64_t at, const uint8_t* id, int64_t size) {
        if (!IsList(read, at, id, size, "strl")) return Walk::Next;
        if (streams.size() == kMostStreams) return Walk::Fail;
        AviStreamHeader& header = streams.emplace_back();
        const bool listed = WalkChunks(read, at + 12, at + 8 + size, [&](int64_t in, const uint8_t* chunk, int64_t length) {
            uint8_t strh[48];
            if (std::memcmp(chunk, "strh", 4) == 0 && length >= 48 && read(in + 8, 48, strh)) {
                header.padding = std::memcmp(strh, "pads", 4) == 0;
                header.scale = Le32(strh + 20);
                header.rate = Le32(strh + 24);
                header.start = Le32(strh + 28);
                header.sampleSize = Le32(strh + 44);
            } else if (std::memcmp(chunk, "indx", 4) == 0) {
                header.superIndex = in + 8;
                header.superIndexSize = length;
            }
            return Walk::Next;
        });
        return listed ? Walk::Next : Walk::Fail;
    });
}

}  // namespace

// False where chunks of the streams' data follow the last chunk the index lists in the movie list:
// an index cut short (a recording program stopped while writing it, damage) that would lose the
// frames after it. The index's offsets count from the file's start or from the movie list, as the
// first entry's chunk header tells.
bool ListsTheWholeMovie(const ReadBytes& read, const AviIndex& index, int64_t movieEnd) {
    if (index.movie < 0) return true;
    int64_t base = -1;
    int64_t listedEnd = -1;
    for (size_t e = 0; e + 16 <= index.entries.size(); e += 16) {
        const uint8_t* entry = index.entries.data() + e;
        const int64_t offset = Le32(entry + 8), size = Le32(entry + 12);
        if (base < 0) {
            for (const int64_t candidate : {int64_t{0}, index.movie}) {
                uint8_t tag[4];
                if (base < 0 && read(candidate + offset, 4, tag) && std::memcmp(tag, entry, 4) == 0) base = candidate;
            }
            if (base < 0) return true;  // the demuxer's own reading decides
        }
        listedEnd = std::max(listedEnd, base + offset + 8 + size + (size & 1));
    }
    if (listedEnd < 0 || listedEnd >= movieEnd) return true;
    bool more = false;
    WalkChunks(read, listedEnd, movieEnd, [&](int64_t at, const uint8_t* id, int64_t size) {
        more = size > 0 && (StreamNumber(id) >= 0 || IsList(read, at, id, size, "rec "));
        return more ? Walk::Done : Walk::Next;
    });
    return !more;
}

std::optional<AviIndex> ReadAviIndex(const ReadBytes& read, int64_t fileSize) {
    constexpr int64_t kLargestIndex = int64_t{64} << 20;  // ten hours at 60 frames a second take a tenth
    uint8_t h[12];
    if (!read(0, 12, h) || std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "AVI ", 4) != 0)
        return std::nullopt;
    const int64_t riffEnd = 8 + static_cast<int64_t>(Le32(h + 4));
    if (riffEnd > fileSize || fileSize - riffEnd > 1) return std::nullopt;
    AviIndex index;
    bool found = false;
    int64_t movieEnd = -1;
    const bool walked = WalkChunks(read, 12, riffEnd, [&](int64_t at, const uint8_t* id, int64_t size) {
        if (IsList(read, at, id, size, "movi")) {
            if (index.movie < 0) {
                index.movie = at + 8;
                movieEnd = at + 8 + size;
            }
        } else if (IsList(read, at, id, size, "hdrl")) {
            if (!ReadStreamHeaders(read, at + 12, at + 8 + size, index.streams)) return Walk::Fail;
        } else if (std::memcmp(id, "idx1", 4) == 0) {
            if (found || size > kLargestIndex) return Walk::Fail;
            index.entries.resize(static_cast<size_t>(size));
            if (!read(at + 8, index.entries.size(), index.entries.data())) return Walk::Fail;
            found = true;
        }
        return Walk::Next;
    });
    if (!walked || !found || !ListsTheWholeMovie(read, index, movieEnd)) return std::nullopt;
    index.counts.assign(100, 0);
    for (size_t e = 0; e + 16 <= index.entries.size(); e += 16) {
        const uint8_t* id = index.entries.data() + e;
        const int number = StreamNumber(id);
        if (number >= 0 && Le32(id + 12) > 0) ++index.counts[static_cast<size_t>(number)];
    }
    return index;
}

namespace {

uint64_t Le64(const uint8_t* p) { return static_cast<uint64_t>(Le32(p + 4)) << 32 | Le32(p); }

// The chunks with data an OpenDML index of indexes lists for stream `stream`, through the indexes
// of chunks it points to; -1 where they are not plain indexes of this stream's chunks.
int64_t CountOpenDmlChunks(const ReadBytes& read, const AviStreamHeader& header, size_t stream, int64_t fileSize) {
    constexpr int64_t kIndexHeader = 24;
    constexpr int64_t kLargestIndex = int64_t{64} << 20;
    // An index's header: entries of `longs` 32-bit words, of `type` (0 indexes, 1 chunks), of this
    // stream; the entries in use, -1 where it is not such a header.
    const auto entriesIn = [&](int64_t at, int64_t size, std::vector<uint8_t>& bytes, int longs, int type) {
        if (size < kIndexHeader || size > kLargestIndex) return int64_t{-1};
        bytes.resize(static_cast<size_t>(size));
        if (!read(at, bytes.size(), bytes.data())) return int64_t{-1};
        const uint8_t* h = bytes.data();
        const int64_t inUse = Le32(h + 4);
        if (h[0] != longs || h[1] != 0 || h[2] != 0 || h[3] != type || StreamNumber(h + 8) != static_cast<int>(stream) ||
            inUse > (size - kIndexHeader) / (4 * longs))
            return int64_t{-1};
        return inUse;
    };
    std::vector<uint8_t> indexes, chunks;
    const int64_t count = entriesIn(header.superIndex, header.superIndexSize, indexes, 4, 0);
    if (count <= 0) return -1;
    int64_t withData = 0;
    int64_t budget = kLargestIndex;  // for all the indexes of chunks together: damage reads no more
    for (int64_t i = 0; i < count; ++i) {
        const uint64_t at = Le64(indexes.data() + kIndexHeader + 16 * i);
        uint8_t chunk[8];
        if (at > static_cast<uint64_t>(fileSize - 8) || !read(static_cast<int64_t>(at), 8, chunk) ||
            std::memcmp(chunk, "ix", 2) != 0)
            return -1;
        const int64_t size = std::min<int64_t>(Le32(chunk + 4), fileSize - static_cast<int64_t>(at) - 8);
        if ((budget -= size) < 0) return -1;
        const int64_t inUse = entriesIn(static_cast<int64_t>(at) + 8, size, chunks, 2, 1);
        if (inUse < 0 || Le64(chunks.data() + 12) >= static_cast<uint64_t>(fileSize)) return -1;
        for (int64_t k = 0; k < inUse; ++k)
            if ((Le32(chunks.data() + kIndexHeader + 8 * k + 4) & 0x7FFFFFFF) != 0) ++withData;
    }
    return withData;
}

}  // namespace

std::optional<std::vector<int64_t>> ReadOpenDmlCounts(const ReadBytes& read, int64_t fileSize) {
    uint8_t h[12];
    // RIFF parts end to end, the first "AVI ", the others "AVIX", up to the file's end.
    int64_t firstEnd = -1;
    for (int64_t at = 0; at < fileSize;) {
        if (fileSize - at == 1 && at > 0) break;  // a pad byte
        if (fileSize - at < 12 || !read(at, 12, h) || std::memcmp(h, "RIFF", 4) != 0 ||
            std::memcmp(h + 8, at == 0 ? "AVI " : "AVIX", 4) != 0)
            return std::nullopt;
        const int64_t end = at + 8 + static_cast<int64_t>(Le32(h + 4));
        if (end > fileSize) return std::nullopt;
        if (firstEnd < 0) firstEnd = end;
        at = end + (end & 1);
    }
    if (firstEnd < 0 || firstEnd == fileSize || firstEnd + 1 == fileSize) return std::nullopt;  // one part: ReadAviIndex
    std::vector<AviStreamHeader> streams;
    const bool walked = WalkChunks(read, 12, firstEnd, [&](int64_t at, const uint8_t* id, int64_t size) {
        if (!IsList(read, at, id, size, "hdrl")) return Walk::Next;
        return ReadStreamHeaders(read, at + 12, at + 8 + size, streams) ? Walk::Done : Walk::Fail;
    });
    if (!walked || streams.empty()) return std::nullopt;
    std::vector<int64_t> counts(100, 0);
    for (size_t n = 0; n < streams.size(); ++n) {
        if (streams[n].superIndex < 0) continue;
        const int64_t count = CountOpenDmlChunks(read, streams[n], n, fileSize);
        if (count < 0) return std::nullopt;
        counts[n] = count;
    }
    return counts;
}

ChunkHeadsAhead::ChunkHeadsAhead(const std::string& path) {
    uint8_t h[12];
    const OpenedFile file(path);
    if (!file.Read(0, 12, h) || std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "AVI ", 4) != 0) return;
    std::promise<std::optional<Read>> done;
    reading_ = done.get_future();
    try {
        thread_ = std::thread([this, path, done = std::move(done)]() mutable {
            std::unique_ptr<MappedFile> mapping;
            std::optional<Read> read;
            try {
                read = ReadHeads(path, stop_, mapping);
            } catch (const std::exception&) {
                // Read when wanted, where whatever failed here is told.
            }
            done.set_value(std::move(read));
            // Unmapping the pages touched takes a while of its own: not while the file opens.
            std::unique_lock lock(mutex_);
            released_.wait(lock, [this] { return release_; });
            lock.unlock();
            mapping.reset();
        });
        started_ = true;
    } catch (const std::system_error&) {
        // No thread to be had: the heads are read when they are wanted.
        reading_ = {};
    }
}

ChunkHeadsAhead::~ChunkHeadsAhead() {
    Stop();
    Release();
    if (thread_.joinable()) thread_.join();
}

void ChunkHeadsAhead::Release() {
    {
        std::lock_guard lock(mutex_);
        release_ = true;
    }
    released_.notify_all();
}

void ChunkHeadsAhead::Stop() {
    stop_ = true;
    if (reading_.valid()) reading_.wait();
}

const ChunkHeadsAhead::Read* ChunkHeadsAhead::Result() {
    if (reading_.valid()) read_ = reading_.get();
    return read_ ? &*read_ : nullptr;
}

std::vector<AVIndexEntry> ChunkHeadsAhead::TakeEntries(size_t stream) {
    const Read* read = Result();
    if (!read || stream >= read->entries.size()) return {};
    return std::move(read_->entries[stream]);
}

std::optional<std::vector<ChunkHead>> ChunkHeadsAhead::Take(const std::vector<VideoChunk>& chunks) {
    const Read* read = Result();
    if (!read || read->chunks.size() != chunks.size() || read->heads.size() != chunks.size()) return std::nullopt;
    for (size_t i = 0; i < chunks.size(); ++i)
        if (read->chunks[i].pos != chunks[i].pos || read->chunks[i].size != chunks[i].size) return std::nullopt;
    // The rest stays: the index read with them may be wanted again.
    std::vector<ChunkHead> heads = std::move(read_->heads);
    read_->heads = {};
    return heads;
}

std::optional<std::vector<ChunkPicture>> Mpeg4Pictures(const std::string& path, int64_t fileSize,
                                                       const AVCodecParameters* codec,
                                                       const std::vector<VideoChunk>& chunks,
                                                       ChunkHeadsAhead* ahead) {
    // The reordering the headers ask for (none, or by one picture), which the demuxer's timing
    // follows: it must stay the same throughout.
    const int delay = codec->video_delay;
    if (codec->codec_id != AV_CODEC_ID_MPEG4 || (delay != 0 && delay != 1) ||
        codec->profile == FF_PROFILE_MPEG4_SIMPLE_STUDIO)
        return std::nullopt;
    // The few chunks that start with headers are read whole enough for the parser, by read calls:
    // they are scattered, and mapping each page touched would cost more.
    const OpenedFile file(path);
    std::unique_ptr<AVCodecParserContext, ParserDeleter> parser(av_parser_init(AV_CODEC_ID_MPEG4));
    ff::CodecContextPtr context(avcodec_alloc_context3(nullptr));
    if (file.Fd() < 0 || !parser || !context || avcodec_parameters_to_context(context.get(), codec) < 0)
        return std::nullopt;
    // As the demuxer has it: each packet is one whole picture.
    parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;

    for (const VideoChunk& chunk : chunks)
        if (chunk.size <= 0 || chunk.size > INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE || chunk.pos < 0 ||
            chunk.pos > fileSize - chunk.size)
            return std::nullopt;
    // The first bytes of every chunk, read ahead or now. A file cut short meanwhile is declined,
    // and its reading packet by packet tells what is left of it.
    std::optional<std::vector<ChunkHead>> taken = ahead ? ahead->Take(chunks) : std::nullopt;
    std::vector<ChunkHead> heads = taken ? std::move(*taken) : std::vector<ChunkHead>(chunks.size());
    if (!taken && !ReadChunkHeads(MappedFile(path, fileSize), chunks, heads, nullptr)) return std::nullopt;

    std::vector<ChunkPicture> pictures;
    pictures.reserve(chunks.size());
    std::vector<uint8_t> head;
    int kind = AV_PICTURE_TYPE_NONE;  // the parser's: kept from the last picture it reached
    // The parser has read a chunk that is a picture alone since it last read headers: another
    // such chunk then changes nothing but the kind. (Not just after the headers: reading the
    // first picture after them may still change what they ask for.)
    bool settled = false;
    for (size_t i = 0; i < chunks.size(); ++i) {
        const VideoChunk& chunk = chunks[i];
        if (settled && chunk.size > 4 && IsPictureStart(heads[i].data())) {
            // The kind is the two bits after the start code.
            kind = AV_PICTURE_TYPE_I + (heads[i][4] >> 6);
        } else {
            // Headers first (the stream's, the layer's, user data): the parser reads them as the
            // demuxer's does, up to the picture's header, from a copy padded as packets are.
            size_t length = static_cast<size_t>(std::min(chunk.size, kFirstLook));
            if (!file.Read(chunk.pos, length, head)) return std::nullopt;
            int64_t start = FindPictureStart(head.data(), static_cast<int64_t>(length));
            if (start < 0 && chunk.size > kFirstLook) {
                length = static_cast<size_t>(chunk.size);
                if (!file.Read(chunk.pos, length, head)) return std::nullopt;
                start = FindPictureStart(head.data(), chunk.size);
            }
            length = static_cast<size_t>(start < 0 ? chunk.size : std::min(chunk.size, start + 4 + kPictureHeaderRoom));
            if (length > head.size() && !file.Read(chunk.pos, length, head)) return std::nullopt;
            head.resize(length);
            head.resize(length + AV_INPUT_BUFFER_PADDING_SIZE, 0);
            context->has_b_frames = kNoPictureReached;
            uint8_t* out = nullptr;
            int outSize = 0;
            av_parser_parse2(parser.get(), context.get(), &out, &outSize, head.data(), static_cast<int>(length),
                             AV_NOPTS_VALUE, AV_NOPTS_VALUE, chunk.pos);
            if (context->has_b_frames == kNoPictureReached) {
                // Stopped on headers it could not read before the picture: not followed here.
                if (start >= 0) return std::nullopt;
                // No picture: the kind stays that of the one before.
                context->has_b_frames = delay;
                settled = false;
            } else {
                if (context->has_b_frames != delay) return std::nullopt;
                kind = parser->pict_type;
                settled = start == 0;
            }
        }
        // Without reordering asked for, the demuxer starts reordering at the first B-VOP.
        if (kind == AV_PICTURE_TYPE_B && delay == 0) return std::nullopt;
        // Before any picture the index's flag is taken, except on the last chunk, whose flag the
        // demuxer sets from its own look at the chunk.
        if (kind == AV_PICTURE_TYPE_NONE && i + 1 == chunks.size()) return std::nullopt;
        pictures.push_back(ChunkPicture{kind == AV_PICTURE_TYPE_I || (kind == AV_PICTURE_TYPE_NONE && chunk.indexKey),
                                        kind == AV_PICTURE_TYPE_B});
    }
    return pictures;
}

}  // namespace trimora

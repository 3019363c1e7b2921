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
#include <future>
#include <cstring>
#include <memory>
#include <mutex>

namespace trimora {

namespace {

constexpr uint8_t kPictureStart[4] = {0x00, 0x00, 0x01, 0xB6};
// Room after a picture's start code for the rest of its header (a few bytes, a few more with a
// sprite's trajectory): the parser reads no further.
constexpr int64_t kPictureHeaderRoom = 1024;
// What is looked at first for the headers before a picture: they are a few dozen bytes.
constexpr int64_t kFirstLook = 4096;
// A picture's start code and the byte after it, which tells its kind.
constexpr size_t kHeadBytes = 5;
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
    if (data_) munmap(const_cast<uint8_t*>(data_), static_cast<size_t>(size_));
}

bool MappedFile::Read(int64_t pos, size_t count, std::vector<uint8_t>& out) const {
    if (!data_ || pos < 0 || pos > size_ || count > static_cast<size_t>(size_ - pos)) return false;
    out.resize(count);
    return GuardedCopy(out.data(), data_ + pos, count);
}

std::optional<std::vector<ChunkPicture>> Mpeg4Pictures(const std::string& path, int64_t fileSize,
                                                       const AVCodecParameters* codec,
                                                       const std::vector<VideoChunk>& chunks) {
    // The reordering the headers ask for (none, or by one picture), which the demuxer's timing
    // follows: it must stay the same throughout.
    const int delay = codec->video_delay;
    if (codec->codec_id != AV_CODEC_ID_MPEG4 || (delay != 0 && delay != 1) ||
        codec->profile == FF_PROFILE_MPEG4_SIMPLE_STUDIO)
        return std::nullopt;
    const MappedFile file(path, fileSize);
    std::unique_ptr<AVCodecParserContext, ParserDeleter> parser(av_parser_init(AV_CODEC_ID_MPEG4));
    ff::CodecContextPtr context(avcodec_alloc_context3(nullptr));
    if (!file.IsOpen() || !parser || !context || avcodec_parameters_to_context(context.get(), codec) < 0)
        return std::nullopt;
    // As the demuxer has it: each packet is one whole picture.
    parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;

    for (const VideoChunk& chunk : chunks)
        if (chunk.size <= 0 || chunk.size > INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE || chunk.pos < 0 ||
            chunk.pos > fileSize - chunk.size)
            return std::nullopt;
    // The first bytes of every chunk, read on two threads (where a second can be had): touching
    // the pages they lie on is most of the cost. A file cut short meanwhile is declined, and its
    // reading packet by packet tells what is left of it.
    std::vector<std::array<uint8_t, kHeadBytes>> heads(chunks.size());
    std::atomic<bool> unreadable{false};
    const auto readHeads = [&](size_t from, size_t to) {
        std::vector<uint8_t> bytes;
        for (size_t i = from; i < to && !unreadable; ++i) {
            const size_t count = static_cast<size_t>(std::min<int64_t>(chunks[i].size, kHeadBytes));
            if (!file.Read(chunks[i].pos, count, bytes)) unreadable = true;
            std::copy(bytes.begin(), bytes.end(), heads[i].begin());
        }
    };
    {
        const size_t half = chunks.size() / 2;
        auto secondHalf = std::async(std::launch::async | std::launch::deferred, readHeads, half, chunks.size());
        readHeads(0, half);
        secondHalf.get();
    }
    if (unreadable) return std::nullopt;

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

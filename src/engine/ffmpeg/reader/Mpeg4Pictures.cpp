#include "engine/ffmpeg/reader/Mpeg4Pictures.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <climits>
#include <memory>

namespace trimora {

namespace {

constexpr uint8_t kPictureStart[4] = {0x00, 0x00, 0x01, 0xB6};
// Room after a picture's start code for the rest of its header (a few bytes, a few more with a
// sprite's trajectory): the parser reads no further.
constexpr int64_t kPictureHeaderRoom = 1024;
// What the parser is told before each chunk: it sets the reordering the headers ask for (0 or 1)
// when it reaches a picture, and leaves this where it stops before one.
constexpr int kNoPictureReached = -1;

// The file mapped into memory: the first bytes of tens of thousands of chunks scattered through
// it cost a fraction of what a read call each costs. Its size is checked when it is mapped;
// another program cutting it short in the milliseconds it is read here would stop this one
// (SIGBUS). Not mapped on Windows: the pictures are read packet by packet there.
class MappedFile {
public:
#ifdef _WIN32
    MappedFile(const std::string&, int64_t) {}
    const uint8_t* Data() const { return nullptr; }
#else
    MappedFile(const std::string& path, int64_t size) {
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
    ~MappedFile() {
        if (data_) munmap(const_cast<uint8_t*>(data_), static_cast<size_t>(size_));
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    const uint8_t* Data() const { return data_; }

private:
    const uint8_t* data_ = nullptr;
    int64_t size_ = 0;
#endif
};

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
    if (!file.Data() || !parser || !context || avcodec_parameters_to_context(context.get(), codec) < 0)
        return std::nullopt;
    // As the demuxer has it: each packet is one whole picture.
    parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;

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
        if (chunk.size <= 0 || chunk.size > INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE || chunk.pos < 0 ||
            chunk.pos > fileSize - chunk.size)
            return std::nullopt;
        const uint8_t* data = file.Data() + chunk.pos;
        if (settled && chunk.size > 4 && IsPictureStart(data)) {
            // The kind is the two bits after the start code.
            kind = AV_PICTURE_TYPE_I + (data[4] >> 6);
        } else {
            // Headers first (the stream's, the layer's, user data): the parser reads them as the
            // demuxer's does, up to the picture's header, from a copy padded as packets are.
            const int64_t start = FindPictureStart(data, chunk.size);
            const int64_t length = start < 0 ? chunk.size : std::min(chunk.size, start + 4 + kPictureHeaderRoom);
            head.assign(data, data + length);
            head.resize(static_cast<size_t>(length) + AV_INPUT_BUFFER_PADDING_SIZE, 0);
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

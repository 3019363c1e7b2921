#include "engine/ffmpeg/reader/ContainerTables.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <vector>

#include "engine/ffmpeg/reader/InputFile.h"
#include "engine/ffmpeg/reader/Mpeg4Pictures.h"
#include "engine/ffmpeg/reader/PackedBFrames.h"

namespace trimora {

namespace {

// Packets compared with what the demuxer really gives before the tables are trusted.
constexpr size_t kPacketsConfirmed = 32;
// A table larger than this (ten hours at 60 frames a second need a tenth of it) is damage: it
// is not read into memory.
constexpr int64_t kLargestTable = int64_t{64} << 20;

constexpr uint32_t Tag(const char (&name)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(name[0])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(name[1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(name[2])) << 8 | static_cast<uint32_t>(static_cast<uint8_t>(name[3]));
}

uint32_t Be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}
uint64_t Be64(const uint8_t* p) { return static_cast<uint64_t>(Be32(p)) << 32 | Be32(p + 4); }

// The file's bytes read through the demuxer's own I/O; nothing is read outside the file.
class FileBytes {
public:
    FileBytes(AVIOContext* io, int64_t size) : io_(io), size_(size) {}
    int64_t Size() const { return size_; }
    bool Read(int64_t pos, int64_t count, std::vector<uint8_t>& out) const {
        if (count < 0) return false;
        out.resize(static_cast<size_t>(count));
        return Read(pos, count, out.data());
    }
    bool Read(int64_t pos, int64_t count, uint8_t* out) const {
        if (pos < 0 || count < 0 || pos > size_ || count > size_ - pos) return false;
        if (avio_seek(io_, pos, SEEK_SET) != pos) return false;
        for (int64_t done = 0; done < count;) {
            const int n = avio_read(io_, out + done, static_cast<int>(std::min<int64_t>(count - done, INT_MAX)));
            if (n <= 0) return false;
            done += n;
        }
        return true;
    }

private:
    AVIOContext* io_;
    int64_t size_;
};

struct Box {
    uint32_t type = 0;
    int64_t body = 0;  // first byte after the header
    int64_t end = 0;
};

// The boxes directly inside [begin, end); false where one does not fit (a damaged or cut file).
bool ListBoxes(const FileBytes& file, int64_t begin, int64_t end, std::vector<Box>& boxes) {
    constexpr size_t kMostBoxes = 4096;
    boxes.clear();
    std::vector<uint8_t> head;
    for (int64_t at = begin; at < end;) {
        if (end - at < 8 || !file.Read(at, 8, head)) return false;
        uint64_t size = Be32(head.data());
        const uint32_t type = Be32(head.data() + 4);
        int64_t body = at + 8;
        if (size == 1) {
            if (end - at < 16 || !file.Read(at + 8, 8, head)) return false;
            size = Be64(head.data());
            body = at + 16;
        } else if (size == 0) {
            size = static_cast<uint64_t>(end - at);
        }
        if (size < static_cast<uint64_t>(body - at) || size > static_cast<uint64_t>(end - at)) return false;
        if (boxes.size() == kMostBoxes) return false;
        boxes.push_back(Box{type, body, at + static_cast<int64_t>(size)});
        at += static_cast<int64_t>(size);
    }
    return true;
}

const Box* Find(const std::vector<Box>& boxes, uint32_t type) {
    for (const Box& b : boxes)
        if (b.type == type) return &b;
    return nullptr;
}

// The box at the end of `path` inside `from`, or false.
bool Descend(const FileBytes& file, const Box& from, std::initializer_list<uint32_t> path, Box& found) {
    std::vector<Box> boxes;
    Box at = from;
    for (uint32_t type : path) {
        if (!ListBoxes(file, at.body, at.end, boxes)) return false;
        const Box* next = Find(boxes, type);
        if (!next) return false;
        at = *next;
    }
    found = at;
    return true;
}

// A full box's body (after version and flags) read whole.
bool ReadBody(const FileBytes& file, const Box& box, std::vector<uint8_t>& body, uint8_t& version) {
    if (box.end - box.body > kLargestTable || !file.Read(box.body, box.end - box.body, body) || body.size() < 4)
        return false;
    version = body[0];
    body.erase(body.begin(), body.begin() + 4);
    return true;
}

// One track's samples as its tables give them, in decode order.
struct TrackTables {
    std::vector<int64_t> dts;
    std::vector<int64_t> offset;  // presentation offsets, empty without
    std::vector<int64_t> size;
    std::vector<int64_t> pos;
    bool editsUnderstood = false;  // none, or one edit that plays part of the media at its rate
};

bool ReadSizes(const FileBytes& file, const Box& box, TrackTables& t) {
    std::vector<uint8_t> b;
    uint8_t version = 0;
    if (!ReadBody(file, box, b, version) || b.size() < 8) return false;
    const uint32_t constant = Be32(b.data());
    const uint64_t count = Be32(b.data() + 4);
    // Pictures of one size are stored otherwise by some muxers; not worth guessing.
    if (constant != 0 || count == 0 || count > (b.size() - 8) / 4) return false;
    t.size.resize(count);
    for (size_t i = 0; i < count; ++i) t.size[i] = Be32(b.data() + 8 + 4 * i);
    return true;
}

bool ReadDecodeTimes(const FileBytes& file, const Box& box, TrackTables& t) {
    std::vector<uint8_t> b;
    uint8_t version = 0;
    if (!ReadBody(file, box, b, version) || b.size() < 4) return false;
    const uint64_t entries = Be32(b.data());
    if (entries > (b.size() - 4) / 8) return false;
    t.dts.clear();
    t.dts.reserve(t.size.size());
    int64_t time = 0;
    for (size_t i = 0; i < entries; ++i) {
        const uint32_t count = Be32(b.data() + 4 + 8 * i);
        const uint32_t delta = Be32(b.data() + 8 + 8 * i);
        if (delta > INT32_MAX || count > t.size.size() - t.dts.size()) return false;
        for (uint32_t k = 0; k < count; ++k, time += delta) t.dts.push_back(time);
    }
    return t.dts.size() == t.size.size();
}

bool ReadPresentationOffsets(const FileBytes& file, const Box& box, TrackTables& t) {
    std::vector<uint8_t> b;
    uint8_t version = 0;
    if (!ReadBody(file, box, b, version) || b.size() < 4) return false;
    const uint64_t entries = Be32(b.data());
    if (entries > (b.size() - 4) / 8) return false;
    t.offset.clear();
    t.offset.reserve(t.size.size());
    for (size_t i = 0; i < entries; ++i) {
        const uint32_t count = Be32(b.data() + 4 + 8 * i);
        const int32_t value = static_cast<int32_t>(Be32(b.data() + 8 + 8 * i));
        // Negative offsets move the decode times (and huge ones are thrown away) by rules of the
        // demuxer's own: those files are read.
        if (value < 0 || value >= (1 << 28) || count > t.size.size() - t.offset.size()) return false;
        t.offset.insert(t.offset.end(), count, value);
    }
    return t.offset.empty() || t.offset.size() == t.size.size();
}

bool ReadPositions(const FileBytes& file, const Box& chunksBox, const Box& offsetsBox, TrackTables& t) {
    std::vector<uint8_t> runs, offsets;
    uint8_t version = 0;
    if (!ReadBody(file, chunksBox, runs, version) || runs.size() < 4) return false;
    if (!ReadBody(file, offsetsBox, offsets, version) || offsets.size() < 4) return false;
    const bool wide = offsetsBox.type == Tag("co64");
    const uint64_t chunks = Be32(offsets.data());
    if (chunks > (offsets.size() - 4) / (wide ? 8 : 4)) return false;
    const uint64_t entries = Be32(runs.data());
    if (entries == 0 || entries > (runs.size() - 4) / 12) return false;
    const size_t samples = t.size.size();
    t.pos.clear();
    t.pos.reserve(samples);
    for (size_t e = 0; e < entries; ++e) {
        const uint64_t first = Be32(runs.data() + 4 + 12 * e);
        const uint64_t perChunk = Be32(runs.data() + 8 + 12 * e);
        const uint64_t last = e + 1 < entries ? Be32(runs.data() + 4 + 12 * (e + 1)) : chunks + 1;
        if (first < 1 || last < first || last > chunks + 1 || perChunk > samples) return false;
        for (uint64_t c = first; c < last; ++c) {
            const uint8_t* at = offsets.data() + 4 + (c - 1) * (wide ? 8 : 4);
            int64_t pos = static_cast<int64_t>(wide ? Be64(at) : Be32(at));
            if (perChunk > samples - t.pos.size()) return false;
            for (uint64_t k = 0; k < perChunk; ++k) {
                t.pos.push_back(pos);
                pos += t.size[t.pos.size() - 1];
            }
        }
    }
    return t.pos.size() == samples;
}

bool UnderstoodEdits(const FileBytes& file, const Box& trak) {
    Box elst;
    if (!Descend(file, trak, {Tag("edts"), Tag("elst")}, elst)) {
        std::vector<Box> boxes;
        return ListBoxes(file, trak.body, trak.end, boxes) && !Find(boxes, Tag("edts"));
    }
    std::vector<uint8_t> b;
    uint8_t version = 0;
    if (!ReadBody(file, elst, b, version) || b.size() < 4) return false;
    const uint32_t entries = Be32(b.data());
    const size_t entrySize = version == 1 ? 20 : 12;
    if (entries > 2 || b.size() < 4 + entries * entrySize) return false;
    // An empty edit (the track starts later than the movie) then one that plays the media from
    // a point at its own rate: the demuxer shifts every time by the same amount.
    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t* e = b.data() + 4 + i * entrySize;
        const int64_t mediaTime = version == 1 ? static_cast<int64_t>(Be64(e + 8)) : static_cast<int32_t>(Be32(e + 4));
        const uint32_t rate = Be32(e + (version == 1 ? 16 : 8));
        const bool last = i + 1 == entries;
        if (last ? mediaTime < 0 || rate != 0x10000 : mediaTime != -1) return false;
    }
    return true;
}

// The track whose header names `id`, or false.
bool FindTrack(const FileBytes& file, const Box& moov, int id, Box& found) {
    std::vector<Box> tracks, inside;
    if (!ListBoxes(file, moov.body, moov.end, tracks)) return false;
    std::vector<uint8_t> b;
    for (const Box& trak : tracks) {
        if (trak.type != Tag("trak")) continue;
        if (!ListBoxes(file, trak.body, trak.end, inside)) return false;
        const Box* tkhd = Find(inside, Tag("tkhd"));
        uint8_t version = 0;
        if (!tkhd || !ReadBody(file, *tkhd, b, version)) return false;
        const size_t at = version == 1 ? 16 : 8;
        if (b.size() < at + 4) return false;
        if (Be32(b.data() + at) == static_cast<uint32_t>(id)) {
            found = trak;
            return true;
        }
    }
    return false;
}

// The movie's box, where the file is one whole movie (not built of fragments) and every box fits.
bool FindMovie(const FileBytes& file, Box& moov) {
    std::vector<Box> top;
    if (!ListBoxes(file, 0, file.Size(), top)) return false;
    const Box* found = Find(top, Tag("moov"));
    if (!found || Find(top, Tag("moof"))) return false;
    std::vector<Box> inside;
    if (!ListBoxes(file, found->body, found->end, inside) || Find(inside, Tag("mvex"))) return false;
    moov = *found;
    return true;
}

bool ReadTrack(const FileBytes& file, const Box& trak, TrackTables& t) {
    Box stbl;
    if (!Descend(file, trak, {Tag("mdia"), Tag("minf"), Tag("stbl")}, stbl)) return false;
    std::vector<Box> tables;
    if (!ListBoxes(file, stbl.body, stbl.end, tables)) return false;
    const Box* stsz = Find(tables, Tag("stsz"));
    const Box* stts = Find(tables, Tag("stts"));
    const Box* stsc = Find(tables, Tag("stsc"));
    const Box* stco = Find(tables, Tag("stco"));
    if (!stco) stco = Find(tables, Tag("co64"));
    if (!stsz || !stts || !stsc || !stco) return false;
    if (!ReadSizes(file, *stsz, t) || !ReadDecodeTimes(file, *stts, t) || !ReadPositions(file, *stsc, *stco, t))
        return false;
    if (const Box* ctts = Find(tables, Tag("ctts")); ctts && !ReadPresentationOffsets(file, *ctts, t)) return false;
    t.editsUnderstood = UnderstoodEdits(file, trak);
    return true;
}

bool HasPresentationOffsets(const FileBytes& file, const Box& trak) {
    Box ctts;
    return Descend(file, trak, {Tag("mdia"), Tag("minf"), Tag("stbl"), Tag("ctts")}, ctts);
}

// The demuxer's index of a stream, checked to lie inside the file.
std::optional<std::vector<AVIndexEntry>> IndexOf(AVStream* stream, int64_t fileSize) {
    const int count = avformat_index_get_entries_count(stream);
    if (count <= 0 || count > fileSize) return std::nullopt;
    std::vector<AVIndexEntry> entries(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(stream, i);
        // Packets beyond the end of a cut file are not in it; empty ones are not packets.
        if (!e || e->pos < 0 || e->size <= 0 || e->pos > fileSize - e->size) return std::nullopt;
        entries[static_cast<size_t>(i)] = *e;
    }
    return entries;
}

// How long a picture lasts as the demuxer tells it where the tables give no duration of their
// own: one period of the stream's frame rate.
int64_t FramePeriod(const AVStream* stream) {
    const AVRational rate = stream->r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) return 0;
    return av_rescale_rnd(1, static_cast<int64_t>(rate.den) * stream->time_base.den,
                          static_cast<int64_t>(rate.num) * stream->time_base.num, AV_ROUND_DOWN);
}

// The time to the next packet, or to the stream's end after the last; 0 where it is unusable.
int64_t TimeToNext(const std::vector<AVIndexEntry>& entries, size_t i, const AVStream* stream) {
    const int64_t next = i + 1 < entries.size() ? entries[i + 1].timestamp : stream->duration;
    return next == AV_NOPTS_VALUE || next <= entries[i].timestamp ? 0 : next - entries[i].timestamp;
}

bool MovieVideo(const FileBytes& file, const Box& moov, AVStream* stream, ScanResult& result) {
    const auto entries = IndexOf(stream, file.Size());
    Box trak;
    TrackTables t;
    if (!entries || !FindTrack(file, moov, stream->id, trak) || !ReadTrack(file, trak, t) || !t.editsUnderstood)
        return false;
    if (entries->size() > t.size.size()) return false;
    // The index holds the samples from the edit's start on; each is found by its place in the file.
    const auto start = std::find(t.pos.begin(), t.pos.end(), entries->front().pos);
    if (start == t.pos.end()) return false;
    const size_t first = static_cast<size_t>(start - t.pos.begin());
    if (entries->size() > t.size.size() - first) return false;
    const int64_t shift = t.dts[first] - entries->front().timestamp;
    const int64_t period = FramePeriod(stream);
    if (!t.offset.empty() && period <= 0) return false;
    result.video.reserve(entries->size());
    for (size_t i = 0; i < entries->size(); ++i) {
        const AVIndexEntry& e = (*entries)[i];
        const size_t k = first + i;
        if (e.pos != t.pos[k] || e.size != t.size[k] || e.timestamp != t.dts[k] - shift) return false;
        PacketEntry p;
        p.dts = e.timestamp;
        p.pts = t.offset.empty() ? e.timestamp : e.timestamp + t.offset[k];
        p.pos = e.pos;
        p.duration = t.offset.empty() ? TimeToNext(*entries, i, stream) : period;
        if (p.duration <= 0) return false;
        p.key = (e.flags & AVINDEX_KEYFRAME) != 0;
        p.discard = (e.flags & AVINDEX_DISCARD_FRAME) != 0;
        result.video.push_back(p);
        result.videoBytes += e.size;
    }
    return true;
}

bool MovieSound(const FileBytes& file, const Box& moov, AVStream* stream, ScanResult& result) {
    const auto entries = IndexOf(stream, file.Size());
    Box trak;
    if (!entries || !FindTrack(file, moov, stream->id, trak) || HasPresentationOffsets(file, trak)) return false;
    result.audio.reserve(entries->size());
    for (size_t i = 0; i < entries->size(); ++i) {
        const AVIndexEntry& e = (*entries)[i];
        const int64_t duration = TimeToNext(*entries, i, stream);
        if (duration <= 0) return false;
        result.audio.push_back(SoundPacket{e.timestamp, e.pos, duration});
        result.audioBytes += e.size;
    }
    return true;
}

// Codecs whose packets the demuxer passes on as the tables store them: for others (MPEG audio,
// AC-3, VC-1, VP8/9, AV1...) a parser joins, splits or retimes them as they are read.
bool PassedOnAsStored(const AVStream* stream) {
    switch (stream->codecpar->codec_id) {
    case AV_CODEC_ID_H264:
    case AV_CODEC_ID_HEVC:
    case AV_CODEC_ID_MPEG4:
    case AV_CODEC_ID_MJPEG:
    case AV_CODEC_ID_AAC:
    case AV_CODEC_ID_ALAC:
    case AV_CODEC_ID_PCM_U8:
    case AV_CODEC_ID_PCM_S16LE:
    case AV_CODEC_ID_PCM_S16BE:
    case AV_CODEC_ID_PCM_S24LE:
    case AV_CODEC_ID_PCM_S24BE:
    case AV_CODEC_ID_PCM_S32LE:
    case AV_CODEC_ID_PCM_S32BE:
    case AV_CODEC_ID_PCM_F32LE:
    case AV_CODEC_ID_PCM_F32BE:
        return true;
    default:
        return false;
    }
}

std::optional<ScanResult> FromMovie(AVFormatContext* input, int videoIndex, int audioIndex) {
    for (int index : {videoIndex, audioIndex})
        if (index >= 0 && !PassedOnAsStored(input->streams[index])) return std::nullopt;
    const FileBytes file(input->pb, avio_size(input->pb));
    Box moov;
    if (file.Size() <= 0 || !FindMovie(file, moov)) return std::nullopt;
    ScanResult result;
    if (videoIndex >= 0 && !MovieVideo(file, moov, input->streams[videoIndex], result)) return std::nullopt;
    if (audioIndex >= 0 && !MovieSound(file, moov, input->streams[audioIndex], result)) return std::nullopt;
    return result;
}

// An AVI index entry tells where a chunk's header is; its data follows the 8-byte header.
constexpr int64_t kChunkHeader = 8;

// Pictures the AVI demuxer passes on as the index tells them: each one whole on its own (no
// reordering, a keyframe wherever the index says), so no parser has anything to change.
bool IntraOnlyPictures(const AVStream* stream) {
    switch (stream->codecpar->codec_id) {
    case AV_CODEC_ID_MJPEG:
    case AV_CODEC_ID_RAWVIDEO:
    case AV_CODEC_ID_HUFFYUV:
    case AV_CODEC_ID_FFVHUFF:
        return stream->codecpar->video_delay == 0;
    default:
        return false;
    }
}

// MPEG-4 pictures that may be packed two to a chunk (PackedBFrames.h): which chunks hold two is
// told only by reading them whole. Packed streams hold placeholder chunks of a few bytes, and DivX
// marks them in the headers the stream starts with.
bool MayBePacked(const FileBytes& file, const AVCodecParameters* codec, const std::vector<VideoChunk>& chunks) {
    constexpr int64_t kHeaders = 4096;
    if (std::any_of(chunks.begin(), chunks.end(), [](const VideoChunk& c) { return c.size <= kLargestPlaceholder; }))
        return true;
    if (codec->extradata && MarkedPacked(codec->extradata, codec->extradata_size)) return true;
    std::vector<uint8_t> head;
    return chunks.empty() || !file.Read(chunks.front().pos, std::min(chunks.front().size, kHeaders), head) ||
           MarkedPacked(head.data(), static_cast<int>(head.size()));
}

bool AviVideo(const FileBytes& file, AVStream* stream, const std::vector<AVIndexEntry>* entries, const char* url,
              ChunkHeadsAhead* heads, ScanResult& result) {
    const int64_t fileSize = file.Size();
    const AVCodecParameters* codec = stream->codecpar;
    // MPEG-4 pictures' keyframe flags (and, where they are reordered, which have a presentation
    // time) come from their headers, read from the file beside the demuxer (its own file: the
    // demuxer's reads stay where they are).
    const bool kindsFromPictures = codec->codec_id == AV_CODEC_ID_MPEG4;
    if (!IntraOnlyPictures(stream) && !(kindsFromPictures && url && std::strncmp(url, "file:", 5) == 0)) return false;
    // Each chunk is one frame period: one tick of the stream's time base (where the parser has
    // read the pictures' frame rate, that is a tick longer than a millisecond).
    if (av_cmp_q(stream->r_frame_rate, av_inv_q(stream->time_base)) != 0 ||
        (kindsFromPictures && int64_t{stream->time_base.num} * 1000 <= stream->time_base.den))
        return false;
    if (!entries) return false;
    std::vector<VideoChunk> chunks;
    chunks.reserve(entries->size());
    // Empty chunks (a frame dropped, an encoder's delay) are not in the index and give no
    // packet; the time goes on over them.
    int64_t last = -1;
    for (const AVIndexEntry& e : *entries) {
        if (e.timestamp <= last || e.pos > fileSize - kChunkHeader - e.size) return false;
        last = e.timestamp;
        chunks.push_back(VideoChunk{e.pos + kChunkHeader, e.size, (e.flags & AVINDEX_KEYFRAME) != 0});
    }
    if (kindsFromPictures && MayBePacked(file, codec, chunks)) return false;
    std::optional<std::vector<ChunkPicture>> pictures;
    if (kindsFromPictures && !(pictures = Mpeg4Pictures(url + 5, fileSize, codec, chunks, heads))) return false;
    result.video.reserve(chunks.size());
    for (size_t i = 0; i < chunks.size(); ++i) {
        PacketEntry p;
        p.pts = p.dts = (*entries)[i].timestamp;
        // Reordered, a picture that others are shown before (not a B-VOP) is given no
        // presentation time: it is known only once those have been read.
        if (pictures && codec->video_delay > 0 && !(*pictures)[i].bidirectional) p.pts = AV_NOPTS_VALUE;
        p.pos = chunks[i].pos;
        p.duration = 1;
        p.key = pictures ? (*pictures)[i].key : chunks[i].indexKey;
        result.video.push_back(p);
        result.videoBytes += chunks[i].size;
    }
    return true;
}

// Plain PCM sound: the demuxer hands each chunk on in packets of at most 1024 sample frames
// (one sample frame a packet where those are large), timed by the bytes before them.
bool AviSound(AVStream* stream, int64_t fileSize, const std::vector<AVIndexEntry>* entries, ScanResult& result) {
    const AVCodecParameters* a = stream->codecpar;
    const int bits = av_get_bits_per_sample(a->codec_id);
    const bool pcm = a->codec_id == AV_CODEC_ID_PCM_U8 || a->codec_id == AV_CODEC_ID_PCM_S16LE ||
                     a->codec_id == AV_CODEC_ID_PCM_S24LE || a->codec_id == AV_CODEC_ID_PCM_S32LE ||
                     a->codec_id == AV_CODEC_ID_PCM_F32LE;
    const int64_t frameBytes = a->block_align;
    if (!pcm || a->sample_rate <= 0 || frameBytes <= 0 || frameBytes != static_cast<int64_t>(a->ch_layout.nb_channels) * bits / 8)
        return false;
    const int64_t largest = frameBytes <= 1 ? INT_MAX : frameBytes < 32 ? 1024 * frameBytes : frameBytes;
    if (!entries) return false;
    result.audio.reserve(entries->size() * 2);
    int64_t bytes = 0;
    int64_t lastSize = -1, lastDuration = 0;  // the chunks are mostly of one size
    for (const AVIndexEntry& e : *entries) {
        if (e.timestamp != bytes || e.size % frameBytes != 0 || e.pos > fileSize - kChunkHeader - e.size) return false;
        int64_t pos = e.pos + kChunkHeader;
        for (int64_t left = e.size; left > 0;) {
            const int64_t size = std::min(left, largest);
            if (size != lastSize)
                lastDuration = av_rescale_rnd(1, size / frameBytes * stream->time_base.den,
                                              static_cast<int64_t>(a->sample_rate) * stream->time_base.num, AV_ROUND_DOWN);
            lastSize = size;
            const int64_t duration = lastDuration;
            result.audio.push_back(SoundPacket{bytes / frameBytes, pos, duration});
            result.audioBytes += size;
            bytes += size;
            pos += size;
            left -= size;
        }
    }
    return true;
}

std::optional<ScanResult> FromAvi(AVFormatContext* input, int videoIndex, int audioIndex, ChunkHeadsAhead* heads) {
    const FileBytes file(input->pb, avio_size(input->pb));
    const int64_t fileSize = file.Size();
    // The chunk heads read ahead are wanted for MPEG-4 pictures only; the index read with them
    // then tells the counts.
    const bool mpeg4 = videoIndex >= 0 && input->streams[videoIndex]->codecpar->codec_id == AV_CODEC_ID_MPEG4;
    if (heads && !mpeg4) heads->Stop();
    if (fileSize <= 0) return std::nullopt;
    // Where the demuxer was given the index read ahead, the streams' entries are the ones it was
    // given; else its own, which must be the file's whole index.
    const ChunkHeadsAhead::Read* given = heads && heads->Given() ? heads->Result() : nullptr;
    const auto entriesOf = [&](int index, std::optional<std::vector<AVIndexEntry>>& own) -> const std::vector<AVIndexEntry>* {
        AVStream* stream = input->streams[index];
        if (!given) {
            own = IndexOf(stream, fileSize);
            return own ? &*own : nullptr;
        }
        const size_t n = static_cast<size_t>(index);
        if (stream->id != index || n >= given->entries.size() || given->entries[n].empty()) return nullptr;
        return &given->entries[n];
    };
    if (!given) {
        std::vector<int64_t> counts;
        if (const ChunkHeadsAhead::Read* ahead = heads && mpeg4 ? heads->Result() : nullptr) {
            counts = ahead->counts;
        } else {
            const ReadBytes read = [&file](int64_t pos, size_t count, uint8_t* out) {
                return file.Read(pos, static_cast<int64_t>(count), out);
            };
            if (std::optional<AviIndex> index = ReadAviIndex(read, fileSize)) {
                counts = std::move(index->counts);
            } else if (std::optional<std::vector<int64_t>> parts = ReadOpenDmlCounts(read, fileSize)) {
                counts = std::move(*parts);
            } else {
                return std::nullopt;
            }
        }
        // The demuxer's own index is the file's whole index.
        for (int index : {videoIndex, audioIndex}) {
            if (index < 0) continue;
            const AVStream* stream = input->streams[index];
            if (stream->id < 0 || stream->id >= static_cast<int>(counts.size()) ||
                counts[static_cast<size_t>(stream->id)] != avformat_index_get_entries_count(stream))
                return std::nullopt;
        }
    }
    // The sound's packets are listed meanwhile on another thread (where one can be had): they
    // need the demuxer's index of the sound alone, the video's the file as well.
    std::optional<std::vector<AVIndexEntry>> ownVideo, ownSound;
    const std::vector<AVIndexEntry>* videoEntries = videoIndex >= 0 ? entriesOf(videoIndex, ownVideo) : nullptr;
    const std::vector<AVIndexEntry>* soundEntries = audioIndex >= 0 ? entriesOf(audioIndex, ownSound) : nullptr;
    ScanResult sound;
    std::future<bool> soundListed = std::async(std::launch::async | std::launch::deferred, [&] {
        return audioIndex < 0 || AviSound(input->streams[audioIndex], fileSize, soundEntries, sound);
    });
    ScanResult result;
    const bool video =
        videoIndex < 0 || AviVideo(file, input->streams[videoIndex], videoEntries, input->url, heads, result);
    if (!soundListed.get() || !video) return std::nullopt;
    result.audio = std::move(sound.audio);
    result.audioBytes = sound.audioBytes;
    return result;
}

// Gives the demuxer a stream's index entries, in order.
bool AddEntries(AVStream* stream, const std::vector<AVIndexEntry>& entries) {
    if (entries.empty()) return false;
    for (const AVIndexEntry& e : entries)
        if (av_add_index_entry(stream, e.pos, e.timestamp, e.size, 0, e.flags) < 0) return false;
    return true;
}

bool SameVideo(const PacketEntry& a, const AVPacket* p) {
    return a.pts == p->pts && a.dts == p->dts && a.pos == p->pos && a.duration == p->duration &&
           a.key == ((p->flags & AV_PKT_FLAG_KEY) != 0) && a.discard == ((p->flags & AV_PKT_FLAG_DISCARD) != 0);
}

bool SameSound(const SoundPacket& a, const AVPacket* p) {
    const int64_t t = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
    return t != AV_NOPTS_VALUE && a.time == t && a.pos == p->pos && a.duration == std::max<int64_t>(p->duration, 0);
}

// The first packets the demuxer gives are the ones the tables tell.
bool ConfirmedByFirstPackets(AVFormatContext* input, int videoIndex, int audioIndex, const ScanResult& result) {
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const int n = static_cast<int>(i);
        input->streams[i]->discard = n == videoIndex || n == audioIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    ff::PacketPtr packet = ff::MakePacket();
    if (!packet) return false;
    AVPacket* p = packet.get();
    const size_t videoWanted = std::min(result.video.size(), kPacketsConfirmed);
    const size_t soundWanted = std::min(result.audio.size(), kPacketsConfirmed);
    size_t video = 0, sound = 0;
    for (int read = 0; (video < videoWanted || sound < soundWanted) && read < 4096; ++read) {
        if (av_read_frame(input, p) < 0) return false;
        bool same = true;
        if (p->size > 0 && p->stream_index == videoIndex)
            same = video < result.video.size() && SameVideo(result.video[video++], p);
        else if (p->size > 0 && p->stream_index == audioIndex)
            same = sound < result.audio.size() && SameSound(result.audio[sound++], p);
        av_packet_unref(p);
        if (!same) return false;
    }
    return video >= videoWanted && sound >= soundWanted;
}

}  // namespace

std::optional<ScanResult> ReadContainerTables(AVFormatContext* input, int videoIndex, int audioIndex, bool& reopen,
                                              ChunkHeadsAhead* heads) {
    reopen = false;
    if (!input || !input->pb || !(input->pb->seekable & AVIO_SEEKABLE_NORMAL) || !input->iformat) return std::nullopt;
    // The demuxer reads on from where it is: the tables are read elsewhere and it is put back.
    const int64_t demuxerAt = avio_tell(input->pb);
    std::optional<ScanResult> result;
    if (std::strcmp(input->iformat->name, "mov,mp4,m4a,3gp,3g2,mj2") == 0)
        result = FromMovie(input, videoIndex, audioIndex);
    else if (std::strcmp(input->iformat->name, "avi") == 0)
        result = FromAvi(input, videoIndex, audioIndex, heads);
    // Put back in any case: the packets are read from there when the tables do not tell them.
    if (avio_seek(input->pb, demuxerAt, SEEK_SET) != demuxerAt) {
        reopen = true;
        return std::nullopt;
    }
    if (result && !ConfirmedByFirstPackets(input, videoIndex, audioIndex, *result)) {
        reopen = true;
        return std::nullopt;
    }
    // A demuxer given the index read ahead holds the video's entries alone: where the tables do
    // not tell the packets, they are read by one that has read its own.
    if (!result && heads && heads->Given()) reopen = true;
    return result;
}

bool GiveAviIndex(AVFormatContext* input, ChunkHeadsAhead& heads) {
    const ChunkHeadsAhead::Read* read = heads.Result();
    if (!read || std::strcmp(input->iformat->name, "avi") != 0 || read->entries.size() != input->nb_streams)
        return false;
    const int video = FindVideoStream(input);
    if (video < 0 || static_cast<size_t>(video) != read->videoStream) return false;
    AVStream* stream = input->streams[video];
    // MPEG-4 pictures, whose heads are read ahead with the index: other pictures are opened as
    // they always were.
    if (stream->id != video || stream->codecpar->codec_id != AV_CODEC_ID_MPEG4) return false;
    // Sound whose times count samples of the size the demuxer takes them to have.
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* s = input->streams[i];
        if (s->id != static_cast<int>(i)) return false;
        if (i != static_cast<unsigned>(video) && !read->entries[i].empty() &&
            read->headers[i].sampleSize != s->codecpar->block_align)
            return false;
    }
    if (!AddEntries(stream, read->entries[read->videoStream])) return false;
    heads.MarkGiven();
    return true;
}

std::function<bool(AVFormatContext*)> SoundIndexGiver(ChunkHeadsAhead& heads, int audioIndex) {
    const ChunkHeadsAhead::Read* read = heads.Given() ? heads.Result() : nullptr;
    if (!read || audioIndex < 0 || static_cast<size_t>(audioIndex) >= read->entries.size()) return {};
    const int64_t sampleSize = read->headers[static_cast<size_t>(audioIndex)].sampleSize;
    const unsigned streams = static_cast<unsigned>(read->entries.size());
    const auto entries =
        std::make_shared<const std::vector<AVIndexEntry>>(heads.TakeEntries(static_cast<size_t>(audioIndex)));
    return [entries, sampleSize, streams, audioIndex](AVFormatContext* input) {
        if (std::strcmp(input->iformat->name, "avi") != 0 || input->nb_streams != streams) return false;
        AVStream* stream = input->streams[audioIndex];
        return stream->id == audioIndex && stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO &&
               sampleSize == stream->codecpar->block_align && AddEntries(stream, *entries);
    };
}

}  // namespace trimora

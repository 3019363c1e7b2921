// The index read from a container's own tables against the one read from every packet: equal
// field by field, or declined, never different.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <map>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>

#include "ReaderTestSupport.h"
#include "engine/ffmpeg/reader/ContainerTables.h"
#include "engine/ffmpeg/reader/InputFile.h"
#include "engine/ffmpeg/reader/Mpeg4Pictures.h"
#include "engine/ffmpeg/reader/PacketScan.h"
#include "support/GstClips.h"

namespace trimora::test {
namespace {

namespace fs = std::filesystem;

// `input` made again by the ffmpeg command (stream copy, the movie's header first), with options
// before and after the input.
std::string Remuxed(const std::string& input, const std::string& before, const std::string& after = "") {
    return CachedMedia("tables|" + input + "|" + before + "|" + after, ".mp4", [&](const std::string& path) {
        const std::string command = "ffmpeg -v error -nostdin -y " + before + " -i " + ShellQuote(input) + " " +
                                    after + " -c copy -movflags +faststart " + ShellQuote(path);
        ASSERT_EQ(RunCommand(command), 0) << command;
    });
}

std::string Fragmented(const std::string& input) {
    return CachedMedia("tables-frag|" + input, ".mp4", [&](const std::string& path) {
        const std::string command = "ffmpeg -v error -nostdin -y -i " + ShellQuote(input) +
                                    " -c copy -movflags frag_keyframe+empty_moov " + ShellQuote(path);
        ASSERT_EQ(RunCommand(command), 0) << command;
    });
}

// `input` (an AVI with MPEG-4 video and sound) muxed again by GStreamer's AVI muxer, the video
// chunks as they are (its demuxer passes over empty chunks: the encoder's delay is gone).
std::string AvimuxRemuxed(const std::string& input) {
    return CachedMedia("tables-avimux|" + input, ".avi", [&](const std::string& path) {
        const std::string command = "gst-launch-1.0 -q filesrc location=" + ShellQuote(input) +
                                    " ! avidemux name=d d.video_0 ! queue ! capssetter replace=false "
                                    "caps=video/mpeg,mpegversion=4,systemstream=false ! m.video_0 avimux name=m ! "
                                    "filesink location=" + ShellQuote(path) + " d.audio_0 ! queue ! m.audio_0";
        ASSERT_EQ(RunCommand(command), 0) << command;
    });
}

// A copy of the file whose last part is missing.
std::string CutShort(const std::string& input, double share) {
    return CachedMedia("tables-cut|" + input + "|" + std::to_string(share), fs::path(input).extension().string(),
                       [&](const std::string& path) {
                           fs::copy_file(input, path, fs::copy_options::overwrite_existing);
                           fs::resize_file(path, static_cast<uintmax_t>(static_cast<double>(fs::file_size(input)) * share));
                       });
}

// A copy of an AVI file whose index flags every chunk as a keyframe, as some muxers write it.
std::string EveryChunkFlaggedKey(const std::string& input) {
    return CachedMedia("tables-all-keys|" + input, ".avi", [&](const std::string& path) {
        std::ifstream in(input, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto le32 = [&](size_t at) {
            uint32_t v = 0;
            for (int k = 3; k >= 0; --k) v = v << 8 | static_cast<uint8_t>(bytes[at + static_cast<size_t>(k)]);
            return v;
        };
        bool patched = false;
        for (size_t at = 12; at + 8 <= bytes.size();) {
            const size_t size = le32(at + 4);
            if (std::string(bytes.data() + at, 4) == "idx1") {
                for (size_t e = at + 8; e + 16 <= at + 8 + size && e + 16 <= bytes.size(); e += 16) bytes[e + 4] |= 0x10;
                patched = true;
            }
            at += 8 + size + (size & 1);
        }
        ASSERT_TRUE(patched) << input;
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    });
}

// `input` (an AVI file the ffmpeg command made, of one RIFF part) laid out as that muxer lays out a
// file beyond a gigabyte: its chunks in two RIFF parts ("AVI " and "AVIX"), each part's movie list
// ending in an OpenDML index of its chunks per stream (ix00, ix01), the streams' headers holding
// an index of those (indx, written where the muxer left room for it) and the first part keeping
// the old index of its own chunks.
std::string InTwoRiffParts(const std::string& input) {
    return CachedMedia("tables-two-parts|" + input, ".avi", [&](const std::string& path) {
        std::ifstream in(input, std::ios::binary);
        const std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto le32 = [&](const std::vector<char>& b, size_t at) {
            uint32_t v = 0;
            for (int k = 3; k >= 0; --k) v = v << 8 | static_cast<uint8_t>(b[at + static_cast<size_t>(k)]);
            return v;
        };
        const auto put32 = [](std::vector<char>& b, size_t at, uint64_t v) {
            for (int k = 0; k < 4; ++k) b[at + static_cast<size_t>(k)] = static_cast<char>(v >> (8 * k) & 0xFF);
        };
        const auto add32 = [&](std::vector<char>& b, uint64_t v) {
            b.resize(b.size() + 4);
            put32(b, b.size() - 4, v);
        };
        const auto addTag = [](std::vector<char>& b, const char* tag) { b.insert(b.end(), tag, tag + 4); };
        // The top level: the header list, the movie list and the old index.
        size_t movi = 0, idx1 = 0;
        for (size_t at = 12; at + 8 <= file.size();) {
            const size_t size = le32(file, at + 4);
            if (std::string(file.data() + at, 4) == "LIST" && std::string(file.data() + at + 8, 4) == "movi") movi = at;
            if (std::string(file.data() + at, 4) == "idx1") idx1 = at;
            at += 8 + size + (size & 1);
        }
        ASSERT_TRUE(movi > 0 && idx1 > 0) << input;
        struct Chunk {
            size_t at, size;  // the header's place in `file`, the data's size
        };
        std::vector<Chunk> chunks;
        for (size_t at = movi + 12; at + 8 <= movi + 8 + le32(file, movi + 4);) {
            chunks.push_back({at, le32(file, at + 4)});
            at += 8 + chunks.back().size + (chunks.back().size & 1);
        }
        // The keyframe flags of the old index, by chunk; the first chunk of each stream.
        std::map<size_t, bool> key;
        for (size_t e = idx1 + 8; e + 16 <= idx1 + 8 + le32(file, idx1 + 4); e += 16)
            key[le32(file, e + 8) + movi + 8] = (le32(file, e + 4) & 0x10) != 0;
        std::array<size_t, 2> firstOf{};
        for (const Chunk& chunk : chunks)
            for (size_t stream = 0; stream < 2; ++stream)
                if (!firstOf[stream] && file[chunk.at + 1] == static_cast<char>('0' + stream)) firstOf[stream] = chunk.at;
        ASSERT_TRUE(firstOf[0] && firstOf[1]) << input;
        // The stream headers' room for their indexes (JUNK of 4120 bytes in each stream list).
        std::vector<size_t> room;
        for (size_t at = 12; at + 8 <= movi; ++at)
            if (std::string(file.data() + at, 4) == "JUNK" && le32(file, at + 4) == 4120) room.push_back(at);
        ASSERT_EQ(room.size(), 2u) << input;
        std::vector<char> out(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(movi));
        std::vector<std::vector<uint64_t>> indexes(2);  // per stream: each part's index chunk's place and size
        const auto writePart = [&](size_t from, size_t to, bool first) {
            const size_t riff = out.size();
            if (!first) {
                addTag(out, "RIFF");
                add32(out, 0);
                addTag(out, "AVIX");
            }
            const size_t list = out.size();
            addTag(out, "LIST");
            add32(out, 0);
            addTag(out, "movi");
            const size_t base = list + 8;  // where the list's type is: offsets count from there
            std::vector<std::vector<std::pair<uint64_t, uint64_t>>> entries(2);  // offset, size with flag
            for (size_t c = from; c < to; ++c) {
                const Chunk& chunk = chunks[c];
                const int stream = file[chunk.at + 1] - '0';
                if (stream < 0 || stream > 1) continue;
                // The data's place from the base, its size with the top bit set for a chunk that is
                // not a keyframe.
                entries[static_cast<size_t>(stream)].push_back(
                    {out.size() - base + 8, chunk.size | (key[chunk.at] ? 0u : 0x80000000u)});
                out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(chunk.at),
                           file.begin() + static_cast<std::ptrdiff_t>(chunk.at + 8 + chunk.size + (chunk.size & 1)));
            }
            for (size_t stream = 0; stream < 2; ++stream) {
                indexes[stream].push_back(out.size());
                addTag(out, stream == 0 ? "ix00" : "ix01");
                add32(out, 24 + 8 * entries[stream].size());
                out.push_back(2);  // 32-bit words an entry
                out.push_back(0);
                out.push_back(0);
                out.push_back(1);  // an index of chunks
                add32(out, entries[stream].size());
                out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(firstOf[stream]),
                           file.begin() + static_cast<std::ptrdiff_t>(firstOf[stream] + 4));  // the chunks' id
                add32(out, base);
                add32(out, 0);
                add32(out, 0);
                for (const auto& [offset, size] : entries[stream]) {
                    add32(out, offset);
                    add32(out, size);
                }
                indexes[stream].push_back(32 + 8 * entries[stream].size());
                indexes[stream].push_back(entries[stream].size());
            }
            put32(out, list + 4, out.size() - list - 8);
            if (!first) put32(out, riff + 4, out.size() - riff - 8);
        };
        const size_t half = chunks.size() / 2;
        writePart(0, half, true);
        // The first part's old index: its own chunks, whose places have not moved.
        const size_t oldIndex = out.size();
        addTag(out, "idx1");
        add32(out, 0);
        for (size_t e = idx1 + 8; e + 16 <= idx1 + 8 + le32(file, idx1 + 4); e += 16) {
            const size_t pos = le32(file, e + 8) + movi + 8;
            if (pos >= chunks[half].at) continue;
            out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(e),
                       file.begin() + static_cast<std::ptrdiff_t>(e + 16));
        }
        put32(out, oldIndex + 4, out.size() - oldIndex - 8);
        put32(out, 4, out.size() - 8);
        writePart(half, chunks.size(), false);
        // The stream headers' indexes of the index chunks.
        for (size_t stream = 0; stream < 2; ++stream) {
            const size_t at = room[stream];
            std::copy_n("indx", 4, out.begin() + static_cast<std::ptrdiff_t>(at));
            std::fill(out.begin() + static_cast<std::ptrdiff_t>(at + 8), out.begin() + static_cast<std::ptrdiff_t>(at + 8 + 4120), 0);
            out[at + 8] = 4;  // 32-bit words an entry
            out[at + 11] = 0;  // an index of indexes
            put32(out, at + 12, indexes[stream].size() / 3);
            std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(firstOf[stream]), 4,
                        out.begin() + static_cast<std::ptrdiff_t>(at + 16));
            for (size_t i = 0; i < indexes[stream].size() / 3; ++i) {
                const size_t entry = at + 8 + 24 + 16 * i;
                put32(out, entry, indexes[stream][3 * i]);
                put32(out, entry + 4, 0);
                put32(out, entry + 8, indexes[stream][3 * i + 1]);
                put32(out, entry + 12, indexes[stream][3 * i + 2]);
            }
        }
        std::ofstream(path, std::ios::binary).write(out.data(), static_cast<std::streamsize>(out.size()));
    });
}

ClipSpec Clip(const std::string& format, int frames, int gop) {
    ClipSpec spec;
    spec.format = format;
    spec.frames = frames;
    spec.gop = gop;
    return spec;
}

GstClipSpec Gst(const std::string& container, const std::string& video, const std::string& audio) {
    GstClipSpec spec;
    spec.container = container;
    spec.video = video;
    spec.audio = audio;
    return spec;
}

struct TablesCase {
    const char* name;
    std::function<std::string()> make;
    bool fast;  // the tables must be used
    bool framesInOrder = true;  // the reader's frames are checked too
    bool indexGiven = false;    // an AVI file's demuxer is given the index read ahead
};

void PrintTo(const TablesCase& c, std::ostream* out) { *out << c.name; }

struct Opened {
    ff::InputContextPtr input;
    int video = -1, audio = -1;
};

Opened Open(const std::string& path) {
    Opened o;
    o.input = OpenInput(path);
    o.video = FindVideoStream(o.input.get());
    o.audio = av_find_best_stream(o.input.get(), AVMEDIA_TYPE_AUDIO, -1, o.video, nullptr, 0);
    return o;
}

// The entries of a demuxer given an index are the ones of a demuxer that read its own.
void ExpectSameEntries(AVStream* given, AVStream* own) {
    ASSERT_EQ(avformat_index_get_entries_count(given), avformat_index_get_entries_count(own));
    for (int i = 0; i < avformat_index_get_entries_count(own); ++i) {
        const AVIndexEntry* a = avformat_index_get_entry(given, i);
        const AVIndexEntry* b = avformat_index_get_entry(own, i);
        ASSERT_TRUE(a && b);
        EXPECT_EQ(a->pos, b->pos) << "entry " << i;
        EXPECT_EQ(a->timestamp, b->timestamp) << "entry " << i;
        EXPECT_EQ(a->size, b->size) << "entry " << i;
        EXPECT_EQ(a->flags, b->flags) << "entry " << i;
        if (testing::Test::HasFailure()) return;
    }
}

// The tables' result equals the one of reading every packet, field by field.
void ExpectSameAsScan(const ScanResult& tables, const ScanResult& scan) {
    ASSERT_EQ(tables.video.size(), scan.video.size());
    for (size_t i = 0; i < scan.video.size(); ++i) {
        SCOPED_TRACE("video packet " + std::to_string(i));
        const PacketEntry& a = tables.video[i];
        const PacketEntry& b = scan.video[i];
        EXPECT_EQ(a.pts, b.pts);
        EXPECT_EQ(a.dts, b.dts);
        EXPECT_EQ(a.pos, b.pos);
        EXPECT_EQ(a.duration, b.duration);
        EXPECT_EQ(a.key, b.key);
        EXPECT_EQ(a.discard, b.discard);
        if (testing::Test::HasFailure()) return;
    }
    EXPECT_EQ(tables.videoBytes, scan.videoBytes);
    ASSERT_EQ(tables.audio.size(), scan.audio.size());
    for (size_t i = 0; i < scan.audio.size(); ++i) {
        SCOPED_TRACE("sound packet " + std::to_string(i));
        EXPECT_EQ(tables.audio[i].time, scan.audio[i].time);
        EXPECT_EQ(tables.audio[i].pos, scan.audio[i].pos);
        EXPECT_EQ(tables.audio[i].duration, scan.audio[i].duration);
        if (testing::Test::HasFailure()) return;
    }
    EXPECT_EQ(tables.audioBytes, scan.audioBytes);
}

class ContainerTablesTest : public testing::TestWithParam<TablesCase> {};

TEST_P(ContainerTablesTest, GiveExactlyWhatReadingEveryPacketFindsOrDecline) {
    const std::string path = GetParam().make();
    Opened scanned = Open(path);
    const ScanResult scan = Scan(scanned.input.get(), scanned.video, scanned.audio, nullptr);
    Opened tabled = Open(path);
    bool reopen = false;
    const std::optional<ScanResult> tables = ReadContainerTables(tabled.input.get(), tabled.video, tabled.audio, reopen);
    EXPECT_FALSE(reopen);
    EXPECT_EQ(tables.has_value(), GetParam().fast);
    if (tables) ExpectSameAsScan(*tables, scan);
    if (HasFailure()) return;
    {
        // The same with an AVI file's index and chunk heads read on their own while the demuxer
        // opens the file, as the reader opens it.
        ChunkHeadsAhead heads(path);
        Opened ahead = Open(path);
        const std::optional<ScanResult> withHeads =
            ReadContainerTables(ahead.input.get(), ahead.video, ahead.audio, reopen, &heads);
        EXPECT_FALSE(reopen);
        EXPECT_EQ(withHeads.has_value(), GetParam().fast);
        if (withHeads) ExpectSameAsScan(*withHeads, scan);
        if (HasFailure()) return;
    }
    if (fs::path(path).extension() == ".avi") {
        // Opened without reading the index and given the one read ahead instead: exactly the
        // entries the demuxer reads itself, for the video and for the sound, or none given; the
        // tables then as above, or the packets read by a demuxer that reads its own.
        ChunkHeadsAhead heads(path);
        bool given = false;
        ff::InputContextPtr quick = OpenInput(path, [&](AVFormatContext* input) { return given = GiveAviIndex(input, heads); });
        EXPECT_EQ(given, GetParam().indexGiven);
        if (given) {
            Opened own = Open(path);  // nothing read yet (reading the last picture may change its entry)
            ExpectSameEntries(quick->streams[own.video], own.input->streams[own.video]);
            const std::optional<ScanResult> givenTables =
                ReadContainerTables(quick.get(), scanned.video, scanned.audio, reopen, &heads);
            EXPECT_EQ(givenTables.has_value(), GetParam().fast);
            EXPECT_EQ(reopen, !givenTables.has_value());
            if (givenTables) ExpectSameAsScan(*givenTables, scan);
            if (own.audio >= 0) {
                const auto giveSound = SoundIndexGiver(heads, own.audio);
                bool soundGiven = false;
                ff::InputContextPtr sound =
                    OpenInput(path, [&](AVFormatContext* input) { return soundGiven = giveSound && giveSound(input); });
                EXPECT_TRUE(soundGiven);
                ExpectSameEntries(sound->streams[own.audio], own.input->streams[own.audio]);
            }
        }
        if (HasFailure()) return;
    }

    // And the reader built on them delivers every frame once, in order: the pictures a straight
    // decode shows. Seeks and steps back (across keyframes) land on the same pictures.
    if (!GetParam().framesInOrder) return;
    FfmpegReader reader;
    reader.OpenForReading(path);
    const Delivered d = ReadAllFrames(reader);
    const int count = static_cast<int>(d.stamps.size());
    ASSERT_EQ(count, reader.NumberOfFrames());
    for (int i = 1; i < count; ++i) EXPECT_EQ(d.stamps[i], d.stamps[i - 1] + 1) << "frame " << i + 1;
    EXPECT_EQ(d.stamps, DecodeStamps(path));
    std::vector<int> targets = {count, 1, count / 2};
    std::mt19937 random(5);
    for (int i = 0; i < 8; ++i) targets.push_back(std::uniform_int_distribution<int>(1, count)(random));
    for (int target = std::min(count, 27); target >= 10; --target) targets.push_back(target);
    FrameData frame;
    for (int target : targets) {
        reader.SeekToFrame(target);
        reader.ReadNextVideoFrame(frame);
        EXPECT_EQ(ReadStamp(frame), d.stamps[static_cast<size_t>(target - 1)]) << "frame " << target;
    }
}

std::string H264Mp4() { return MakeClip(H264Spec(100, 12)); }

std::string Mpeg4Avi() {
    ClipSpec spec = Clip("avi", 60, 12);
    spec.bFrames = false;
    return MakeClip(spec);
}

std::string XvidAvi() {
    ClipSpec spec = Clip("avi", 60, 12);
    spec.videoCodec = "libxvid";
    spec.extraArgs = "-bf 2";
    return MakeClip(spec);
}

// Two MPEG-4 video streams: the larger pictures (the video the program shows) in fewer chunks.
std::string TwoVideosAvi() {
    return CachedMedia("tables-two-videos", ".avi", [](const std::string& path) {
        const std::string command =
            "ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=320x240:rate=10:duration=3 -f lavfi -i "
            "testsrc=size=160x120:rate=25:duration=3 -map 0 -map 1 -c:v mpeg4 -bf 2 -g 12 " + ShellQuote(path);
        ASSERT_EQ(RunCommand(command), 0) << command;
    });
}

std::string MjpegAvi() {
    ClipSpec spec = Clip("avi", 60, 12);
    spec.videoCodec = "mjpeg";
    spec.extraArgs = "-pix_fmt yuvj420p";
    return MakeClip(spec);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, ContainerTablesTest,
    testing::Values(TablesCase{"mp4_bframes", H264Mp4, true},
                    TablesCase{"mov", [] { return MakeClip(Clip("mov", 60, 25)); }, true},
                    TablesCase{"mp4_mpeg4", [] {
                                   ClipSpec spec = Clip("mp4", 60, 12);
                                   spec.videoCodec = "mpeg4";
                                   spec.bFrames = false;
                                   return MakeClip(spec);
                               }, true},
                    TablesCase{"mp4_hevc", [] {
                                   ClipSpec spec = Clip("mp4", 60, 25);
                                   spec.videoCodec = "libx265";
                                   spec.extraArgs = "-x265-params log-level=error";
                                   return MakeClip(spec);
                               }, true},
                    // An edit list that starts inside a group: its first pictures are decoded, not shown.
                    TablesCase{"mp4_edit_list", [] { return Remuxed(H264Mp4(), "-ss 1.3"); }, true},
                    // The pictures start later than the sound: an empty edit before them.
                    TablesCase{"mp4_empty_edit", [] {
                                   const std::string clip = H264Mp4();
                                   return Remuxed(clip, "-itsoffset 0.2 -i " + ShellQuote(clip), "-map 0:v -map 1:a");
                               }, true},
                    // Cut files: their last pictures lack pictures they refer to.
                    TablesCase{"mp4_cut_short", [] { return CutShort(Remuxed(H264Mp4(), ""), 0.7); }, false, false},
                    TablesCase{"mp4_fragmented", [] { return Fragmented(H264Mp4()); }, false},
                    TablesCase{"qtmux_h264_pcm", [] { return MakeGstClip(Gst("mov", "h264", "pcm")); }, true},
                    TablesCase{"qtmux_mjpeg_pcm", [] { return MakeGstClip(Gst("mov", "mjpeg", "pcm")); }, true},
                    TablesCase{"qtmux_mjpeg_mp3", [] { return MakeGstClip(Gst("mov", "mjpeg", "mp3")); }, false},
                    // MPEG-4 pictures in AVI: their keyframe flags come from their headers.
                    TablesCase{"avi_mpeg4", Mpeg4Avi, true, true, true},
                    // GStreamer's muxer puts a short clip's sound before its pictures: not
                    // interleaved as the demuxer counts it, which then reads its own index.
                    TablesCase{"avimux_mpeg4_pcm", [] { return MakeGstClip(Gst("avi", "mpeg4", "pcm")); }, true},
                    // The index's flags lie: the pictures' own kinds are what count.
                    TablesCase{"avi_every_chunk_key", [] { return EveryChunkFlaggedKey(MakeClip(Clip("avi", 60, 12))); }, true, true, true},
                    // With B-frames: the demuxer gives only the B-VOPs a presentation time.
                    TablesCase{"avi", [] { return MakeClip(Clip("avi", 60, 12)); }, true, true, true},
                    // Xvid's B-frames, packed two pictures to a chunk: empty chunks first (the
                    // encoder's delay), not-coded placeholder pictures of a few bytes after. Which
                    // chunks hold two is told only by reading them: every packet is read.
                    TablesCase{"avi_xvid", XvidAvi, false, true, true},
                    TablesCase{"avimux_xvid", [] { return AvimuxRemuxed(XvidAvi()); }, false, true, true},
                    TablesCase{"avi_two_videos", TwoVideosAvi, true, false},
                    TablesCase{"avi_mjpeg", MjpegAvi, true},
                    // The index is at the end of an AVI file: gone when the end is.
                    TablesCase{"avi_mjpeg_cut_short", [] { return CutShort(MjpegAvi(), 0.8); }, false},
                    TablesCase{"avimux_mjpeg_pcm", [] { return MakeGstClip(Gst("avi", "mjpeg", "pcm")); }, true},
                    // Beyond a gigabyte, in several RIFF parts: the OpenDML indexes tell every chunk.
                    TablesCase{"avi_two_riff_parts", [] { return InTwoRiffParts(MakeClip(Clip("avi", 60, 12))); }, true},
                    TablesCase{"avi_two_riff_parts_cut_short",
                               [] { return CutShort(InTwoRiffParts(MakeClip(Clip("avi", 60, 12))), 0.8); }, false, false},
                    TablesCase{"avi_cut_end", [] { return MakeRecording("avi-cut-end"); }, false, false}),
    [](const testing::TestParamInfo<TablesCase>& info) { return std::string(info.param.name); });

// The chunks' first bytes are read from the file mapped into memory: another program cutting
// the file short meanwhile makes those reads fail (the open then reads every packet) instead of
// stopping this program, however often it happens.
TEST(MappedFile, BytesCutOffAfterMappingFailToReadInsteadOfStoppingTheProgram) {
    constexpr int64_t kSize = 1 << 20;
    const std::string path = TempPath(".avi");
    {
        std::ofstream out(path, std::ios::binary);
        out << std::string(static_cast<size_t>(kSize), 'x');
    }
    const MappedFile file(path, kSize);
    ASSERT_TRUE(file.IsOpen());
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(file.Read(kSize - 16, 16, bytes));
    EXPECT_EQ(bytes, std::vector<uint8_t>(16, 'x'));
    fs::resize_file(path, 4096);
    EXPECT_TRUE(file.Read(0, 16, bytes));
    for (const int64_t pos : {kSize - 16, int64_t{500000}, int64_t{8192}}) EXPECT_FALSE(file.Read(pos, 16, bytes)) << pos;
    EXPECT_FALSE(file.Read(0, static_cast<size_t>(kSize) + 1, bytes));
    EXPECT_FALSE(MappedFile(path, kSize).IsOpen());  // no longer the size expected
}

// Program and transport streams: the sound read only at the start and at the end of the file
// gives the same first and end of the sound as reading every packet, and the same pictures.
struct SoundEndsCase {
    const char* name;
    std::function<std::string()> make;
    bool large = false;  // many times the part read back from the end
};

void PrintTo(const SoundEndsCase& c, std::ostream* out) { *out << c.name; }

class SoundEndsTest : public testing::TestWithParam<SoundEndsCase> {};

TEST_P(SoundEndsTest, ReadingTheSoundAtTheEndsOnlyFindsItsFirstAndItsEnd) {
    const std::string path = GetParam().make();
    Opened every = Open(path), ends = Open(path);
    ScanResult full = Scan(every.input.get(), every.video, every.audio, nullptr, true);
    ScanResult quick = Scan(ends.input.get(), ends.video, ends.audio, nullptr);
    ASSERT_GT(full.audio.size(), 100u);
    if (GetParam().large) {
        EXPECT_LT(quick.audio.size(), full.audio.size() / 2);  // the quick way was taken
    }
    ASSERT_EQ(quick.video.size(), full.video.size());
    for (size_t i = 0; i < full.video.size(); ++i) {
        EXPECT_EQ(quick.video[i].pts, full.video[i].pts) << "video packet " << i;
        EXPECT_EQ(quick.video[i].pos, full.video[i].pos) << "video packet " << i;
        if (HasFailure()) return;
    }
    const AVStream* video = every.input->streams[every.video];
    const AVStream* audio = every.input->streams[every.audio];
    FrameIndex index;
    const AVRational rate = StatedFrameRate(video);
    index.Build(full.video, video->time_base.num, video->time_base.den, rate.num, rate.den);
    PlaceSoundSpan(full, audio, video, &index);
    PlaceSoundSpan(quick, audio, video, &index);
    EXPECT_EQ(quick.audioFirst, full.audioFirst);
    EXPECT_EQ(quick.audioEnd, full.audioEnd);
    // Only for the bit rate shown: estimated from the packets read.
    EXPECT_NEAR(static_cast<double>(quick.audioBytes), static_cast<double>(full.audioBytes), 0.05 * full.audioBytes);
}

// 12 s of 640x360 pictures at a constant 6 Mbit/s, many times the megabyte read back from the
// end, with sound that ends after `soundSeconds`.
std::string LongerThanItsTail(const std::string& muxer, double soundSeconds) {
    return CachedMedia("sound-ends-cbr|" + muxer + "|" + std::to_string(soundSeconds), "." + muxer,
                       [&](const std::string& path) {
                           const std::string command =
                               "ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=640x360:rate=25 -f lavfi -i "
                               "sine=sample_rate=48000 -t 12 -af atrim=0:" + std::to_string(soundSeconds) +
                               " -c:v mpeg2video -b:v 6M -minrate 6M -maxrate 6M -bufsize 1835k -g 12 -c:a mp2 -f " + (muxer == "ts" ? "mpegts " : "vob ") +
                               ShellQuote(path);
                           ASSERT_EQ(RunCommand(command), 0) << command;
                       });
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, SoundEndsTest,
    testing::Values(SoundEndsCase{"ps", [] { return LongerThanItsTail("mpg", 12); }, true},
                    SoundEndsCase{"ts", [] { return LongerThanItsTail("ts", 12); }, true},
                    // The last sound is found further back than the part read first from the end.
                    SoundEndsCase{"ps_sound_ends_early", [] { return LongerThanItsTail("mpg", 5); }},
                    SoundEndsCase{"ts_sound_ends_early", [] { return LongerThanItsTail("ts", 5); }},
                    SoundEndsCase{"mpegpsmux", [] {
                                      GstClipSpec spec = Gst("mpeg", "mpeg4", "mp2");
                                      spec.frames = 150;
                                      return MakeGstClip(spec);
                                  }},
                    SoundEndsCase{"mpegtsmux", [] {
                                      GstClipSpec spec = Gst("ts", "h264", "mp2");
                                      spec.frames = 150;
                                      return MakeGstClip(spec);
                                  }},
                    SoundEndsCase{"joined_ts", [] { return MakeRecording("joined-ts"); }},
                    SoundEndsCase{"joined_mpg", [] { return MakeRecording("joined-mpg"); }},
                    SoundEndsCase{"ts_cut_start", [] { return MakeRecording("ts-cut-start"); }}),
    [](const testing::TestParamInfo<SoundEndsCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace trimora::test

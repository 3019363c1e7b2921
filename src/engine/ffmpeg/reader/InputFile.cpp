#include "engine/ffmpeg/reader/InputFile.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

extern "C" {
#include <libavutil/avstring.h>
#include <libavutil/mem.h>
}

#include "engine/EngineError.h"

namespace trimora {

namespace {

// The demuxers of real media containers: the Open dialog's types and the common video files.
// Playlists, concat scripts, image sequences and whatever else reads other files or the
// network are not among them.
constexpr const char* kDemuxers = "avi,mpeg,mpegts,mpegvideo,m4v,h264,hevc,asf,mov,matroska,flv,ogg,dv,nut,mxf,rm";

// What the file's first bytes look like to FFmpeg, for telling the user why it is refused.
std::string ProbedFormatName(const std::string& path) {
    std::vector<unsigned char> head(4096 + AVPROBE_PADDING_SIZE, 0);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return {};
    const size_t size = std::fread(head.data(), 1, 4096, file);
    std::fclose(file);
    AVProbeData probe{};
    probe.filename = "";
    probe.buf = head.data();
    probe.buf_size = static_cast<int>(size);
    const AVInputFormat* format = av_probe_input_format(&probe, 1);
    if (!format) return {};
    return format->long_name ? format->long_name : format->name;
}

[[noreturn]] void RefuseFormat(const std::string& path, const std::string& formatName) {
    throw EngineError("The file " + Quoted(path) + " is not a video in a container this program reads" +
                      (formatName.empty() ? std::string(".") : " (it looks like " + formatName + ")."));
}

// The largest block FFmpeg allocates at once. A damaged or crafted header can ask a demuxer for a
// gigabyte with a few bytes (an MP4 box's size); nothing a real file needs comes near half of
// that (the largest picture taken, 8192x8192 at 16 bits a sample in 4:4:4, is 384 MB).
constexpr size_t kLargestBlock = size_t{512} << 20;

}  // namespace

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

namespace {

// A video stream whose pictures' size the probe did not find.
bool PictureSizeUnknown(const AVFormatContext* input) {
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* s = input->streams[i];
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC) &&
            (s->codecpar->width <= 0 || s->codecpar->height <= 0))
            return true;
    }
    return false;
}

// The file is read by the program itself, a quarter of a megabyte at a time: opening a long
// file reads all of it.
constexpr int kReadBuffer = 256 << 10;

// A demuxer context that reads the file from byte `from` through a reader of the program's own,
// up to `end` as if the file ended there (-1: its end). Throws EngineError.
AVFormatContext* ReadingContext(const std::string& path, int64_t from, int64_t end) {
    AVIOContext* reader = ff::OpenFileReader(path, kReadBuffer, end);
    if (!reader) throw EngineError("The file " + Quoted(path) + " cannot be read: " + ff::ErrorText(AVERROR(errno)));
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw || (from > 0 && avio_seek(reader, from, SEEK_SET) < 0)) {
        avformat_free_context(raw);
        ff::CloseFileReader(reader);
        throw EngineError(raw ? "The file " + Quoted(path) + " cannot be read."
                              : "Out of memory while opening " + Quoted(path) + ".");
    }
    raw->pb = reader;
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    return raw;
}

// `thorough`: the streams are probed as far as a recording that starts within a group of
// pictures needs (FFmpeg's own probe reads 5 MB, which at a camera's bit rate ends before the
// first picture that tells the size).
ff::InputContextPtr OpenProbed(const std::string& path, const std::function<bool(AVFormatContext*)>& giveIndex,
                               bool thorough) {
    // The file's name stays the demuxer's url, as the file protocol would take it (literally: no
    // colon in a name is read as a protocol).
    static std::once_flag limited;
    std::call_once(limited, [] { av_max_alloc(kLargestBlock); });
    const std::string url = "file:" + path;
    AVFormatContext* raw = ReadingContext(path, 0, -1);
    AVIOContext* reader = raw->pb;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "format_whitelist", kDemuxers, 0);
    if (thorough) {
        constexpr int64_t kThoroughProbeBytes = int64_t{128} << 20;  // held in memory while probing
        constexpr int64_t kThoroughProbeMicroseconds = int64_t{60} * AV_TIME_BASE;
        av_dict_set_int(&options, "probesize", kThoroughProbeBytes, 0);
        av_dict_set_int(&options, "analyzeduration", kThoroughProbeMicroseconds, 0);
    }
    const int seekable = reader->seekable;
    if (giveIndex) reader->seekable = 0;
    const int opened = avformat_open_input(&raw, url.c_str(), nullptr, &options);
    reader->seekable = seekable;
    av_dict_free(&options);
    if (opened < 0) {
        ff::CloseFileReader(reader);  // the demuxer has let go of itself, not of the reader
        // A demuxer outside the list is refused before it reads anything beyond the probe.
        const std::string probed = ProbedFormatName(path);
        if (opened == AVERROR(EINVAL) && !probed.empty()) RefuseFormat(path, probed);
        throw EngineError("The file " + Quoted(path) + " cannot be read as a video: " + ff::ErrorText(opened));
    }
    ff::InputContextPtr input(raw);
    if (!av_match_list(raw->iformat->name, kDemuxers, ','))
        RefuseFormat(path, raw->iformat->long_name ? raw->iformat->long_name : raw->iformat->name);
    if (giveIndex && !giveIndex(raw)) return OpenProbed(path, {}, thorough);
    const int probed = avformat_find_stream_info(raw, nullptr);
    if (probed < 0)
        throw EngineError("The file " + Quoted(path) + " cannot be read as a video: " + ff::ErrorText(probed));
    if (!thorough && PictureSizeUnknown(raw)) return OpenProbed(path, {}, true);
    return input;
}

}  // namespace

ff::InputContextPtr OpenInput(const std::string& path, const std::function<bool(AVFormatContext*)>& giveIndex) {
    return OpenProbed(path, giveIndex, false);
}

int FindVideoStream(AVFormatContext* input) {
    int best = -1;
    int64_t bestArea = -1;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* s = input->streams[i];
        if (s->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || (s->disposition & AV_DISPOSITION_ATTACHED_PIC)) continue;
        const int64_t area = static_cast<int64_t>(s->codecpar->width) * s->codecpar->height;
        if (area > bestArea) {
            best = static_cast<int>(i);
            bestArea = area;
        }
    }
    return best;
}

int FindSoundStream(AVFormatContext* input, int videoIndex) {
    std::vector<int> sounds, usable;
    const auto consider = [&](unsigned i) {
        const AVCodecParameters* p = input->streams[i]->codecpar;
        if (p->codec_type != AVMEDIA_TYPE_AUDIO) return;
        sounds.push_back(static_cast<int>(i));
        if (p->sample_rate > 0 && p->ch_layout.nb_channels > 0 && avcodec_find_decoder(p->codec_id))
            usable.push_back(static_cast<int>(i));
    };
    // A transport stream may carry several programmes: the sound goes with the pictures.
    if (const AVProgram* program = videoIndex >= 0 ? av_find_program_from_stream(input, nullptr, videoIndex) : nullptr)
        for (unsigned k = 0; k < program->nb_stream_indexes; ++k) consider(program->stream_index[k]);
    if (sounds.empty())
        for (unsigned i = 0; i < input->nb_streams; ++i) consider(i);
    // Sound that cannot be read is taken only where there is no other: the open then says why.
    std::vector<int>& from = usable.empty() ? sounds : usable;
    if (from.empty()) return -1;
    std::sort(from.begin(), from.end());
    for (int i : from)
        if (input->streams[i]->disposition & AV_DISPOSITION_DEFAULT) return i;
    return from.front();
}

int MatchingStream(const AVFormatContext* input, AVMediaType type, int id, int index) {
    const auto same = [&](const AVStream* s) { return s->codecpar->codec_type == type && s->id == id; };
    if (index >= 0 && index < static_cast<int>(input->nb_streams) && same(input->streams[index])) return index;
    for (unsigned i = 0; i < input->nb_streams; ++i)
        if (same(input->streams[i])) return static_cast<int>(i);
    return -1;
}

bool StreamChain::Follows(const AVStream& stream, const AVStream& chosen) const {
    return stream.codecpar->codec_type == chosen.codecpar->codec_type &&
           std::find(followers_.begin(), followers_.end(), stream.id) != followers_.end();
}

bool StreamChain::Takes(AVFormatContext* input, const AVPacket& p) {
    size_t stage = 0;
    if (p.stream_index != index_) {
        AVStream* stream = input->streams[p.stream_index];
        const auto found = std::find(followers_.begin(), followers_.end(), stream->id);
        if (index_ < 0 || found == followers_.end() ||
            stream->codecpar->codec_type != input->streams[index_]->codecpar->codec_type) {
            stream->discard = AVDISCARD_ALL;
            return false;
        }
        stage = static_cast<size_t>(found - followers_.begin()) + 1;
    }
    if (stage < stage_) return false;
    moved_ = seen_ && stage > stage_;
    if (moved_) movedFrom_ = stage_ == 0 ? input->streams[index_]->id : followers_[stage_ - 1];
    stage_ = stage;
    seen_ = true;
    return true;
}

std::vector<ff::PacketPtr> TransportPacketsBefore(const std::string& url, int64_t from, int64_t to, AVMediaType type,
                                                  int id) {
    const std::string path = url.rfind("file:", 0) == 0 ? url.substr(5) : url;
    // A stretch of a few megabytes before holds the programme tables the demuxer needs first.
    constexpr int64_t kRunIn = int64_t{4} << 20;
    AVFormatContext* raw = ReadingContext(path, std::max<int64_t>(0, from - kRunIn), to);
    AVIOContext* reader = raw->pb;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const int opened = avformat_open_input(&raw, ("file:" + path).c_str(), av_find_input_format("mpegts"), &options);
    av_dict_free(&options);
    if (opened < 0) {
        ff::CloseFileReader(reader);
        throw EngineError("The file " + Quoted(path) + " cannot be read: " + ff::ErrorText(opened));
    }
    ff::InputContextPtr input(raw);
    std::vector<ff::PacketPtr> packets;
    for (;;) {
        ff::PacketPtr p = ff::MakePacket();
        if (!p) throw EngineError("Out of memory while reading the file.");
        if (av_read_frame(raw, p.get()) < 0) break;
        AVStream* stream = raw->streams[p->stream_index];
        if (stream->id == id && stream->codecpar->codec_type == type && p->size > 0 && p->pos >= from)
            packets.push_back(std::move(p));
        else if (stream->id != id)
            stream->discard = AVDISCARD_ALL;
    }
    if (raw->pb && raw->pb->error < 0 && raw->pb->error != AVERROR_EOF)
        throw EngineError("The file " + Quoted(path) + " cannot be read: " + ff::ErrorText(raw->pb->error));
    return packets;
}

std::string CodecName(AVCodecID id) {
    const AVCodecDescriptor* d = avcodec_descriptor_get(id);
    if (!d) return "unknown";
    return d->long_name ? d->long_name : d->name;
}

}  // namespace trimora

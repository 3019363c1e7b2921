#include "engine/ffmpeg/reader/FfmpegReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <type_traits>
#include <utility>

extern "C" {
#include <libavutil/imgutils.h>
}

#include "engine/DeliveredPictures.h"
#include "engine/EncodingActivity.h"
#include "engine/FrameBuffer.h"

namespace trimora {

namespace {

// Enough for a few seconds of 1080p pictures; together with the decoder's own frames it keeps
// the reader well inside a few hundred megabytes.
// The frames reached by the latest seeks (the marks' frames, as they are shown when set) are
// kept apart from the frames read since: going back to a mark after reading on, as the end
// of a job does, costs no decoding from the keyframe.
constexpr size_t kLandingBytes = 16u << 20;
// Decoding this many frames forward is taken to cost about as much as a seek.
constexpr int32_t kSeekCostFrames = 8;
// Frames before a seek's target kept for later: a few after a jump, as many as fit while the
// user steps backwards (each step back would otherwise decode from the keyframe again).
constexpr int32_t kFramesKeptAfterJump = 2;
// Frames read in order are kept only for a step or two back. Keeping more would hold on to the
// decoder's pictures, so that its pool grows by a new picture for every frame read (a cut or a
// playback would cycle through a hundred megabytes instead of a few pictures that stay in the
// processor's cache); stepping back further decodes from the keyframe once and keeps the frames
// on the way in the cache.
constexpr size_t kRecentFrames = 4;

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

ff::InputContextPtr OpenInput(const std::string& path) {
    // The file protocol takes the rest literally: no colon in a name is read as a protocol.
    const std::string url = "file:" + path;
    AVFormatContext* raw = nullptr;
    const int opened = avformat_open_input(&raw, url.c_str(), nullptr, nullptr);
    if (opened < 0)
        throw EngineError("The file " + Quoted(path) + " cannot be read as a video: " + ff::ErrorText(opened));
    ff::InputContextPtr input(raw);
    const int probed = avformat_find_stream_info(raw, nullptr);
    if (probed < 0)
        throw EngineError("The file " + Quoted(path) + " cannot be read as a video: " + ff::ErrorText(probed));
    return input;
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

// The same stream in a second demuxer opened on the same file.
int MatchingStream(AVFormatContext* input, const AVStream* original) {
    const auto same = [&](const AVStream* s) {
        return s->codecpar->codec_type == original->codecpar->codec_type && s->id == original->id;
    };
    if (original->index < static_cast<int>(input->nb_streams) && same(input->streams[original->index]))
        return original->index;
    for (unsigned i = 0; i < input->nb_streams; ++i)
        if (same(input->streams[i])) return static_cast<int>(i);
    return -1;
}

std::string CodecName(AVCodecID id) {
    const AVCodecDescriptor* d = avcodec_descriptor_get(id);
    if (!d) return "unknown";
    return d->long_name ? d->long_name : d->name;
}

struct ScanResult {
    std::vector<PacketEntry> video;
    int64_t videoBytes = 0;
    int64_t audioFirst = AV_NOPTS_VALUE;
    int64_t audioEnd = AV_NOPTS_VALUE;
    int64_t audioBytes = 0;
};

// One pass over the packets of the video and the sound stream, without decoding.
ScanResult Scan(AVFormatContext* input, int videoIndex, int audioIndex) {
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const int n = static_cast<int>(i);
        input->streams[i]->discard = n == videoIndex || n == audioIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    ScanResult result;
    ff::PacketPtr packet = ff::MakePacket();
    if (!packet) throw EngineError("Out of memory while reading the file.");
    AVPacket* p = packet.get();
    while (av_read_frame(input, p) >= 0) {
        if (p->stream_index == videoIndex && p->size > 0) {
            PacketEntry e;
            e.pts = p->pts;
            e.dts = p->dts;
            e.pos = p->pos;
            e.duration = p->duration;
            e.key = (p->flags & AV_PKT_FLAG_KEY) != 0;
            e.discard = (p->flags & AV_PKT_FLAG_DISCARD) != 0;
            result.video.push_back(e);
            result.videoBytes += p->size;
        } else if (p->stream_index == audioIndex && p->size > 0) {
            const int64_t t = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
            if (t != AV_NOPTS_VALUE) {
                if (result.audioFirst == AV_NOPTS_VALUE || t < result.audioFirst) result.audioFirst = t;
                const int64_t end = t + std::max<int64_t>(p->duration, 0);
                if (result.audioEnd == AV_NOPTS_VALUE || end > result.audioEnd) result.audioEnd = end;
            }
            result.audioBytes += p->size;
        }
        av_packet_unref(p);
    }
    return result;
}

// The nominal frame rate: the stream's own where it agrees with the packets' timing, else what
// the packets show.
AVRational ChooseFrameRate(const AVStream* stream, const std::vector<PacketEntry>& packets) {
    std::vector<int64_t> times;
    for (const PacketEntry& e : packets) {
        const int64_t t = e.pts != AV_NOPTS_VALUE ? e.pts : e.dts;
        if (t != AV_NOPTS_VALUE && !e.discard) times.push_back(t);
    }
    double measured = 0;
    if (times.size() >= 2) {
        const auto [lo, hi] = std::minmax_element(times.begin(), times.end());
        const double span = static_cast<double>(*hi - *lo) * av_q2d(stream->time_base);
        if (span > 0) measured = static_cast<double>(times.size() - 1) / span;
    }
    const auto agrees = [&](AVRational r) {
        if (r.num <= 0 || r.den <= 0) return false;
        return measured <= 0 || std::abs(av_q2d(r) - measured) <= 0.05 * measured;
    };
    if (agrees(stream->avg_frame_rate)) return stream->avg_frame_rate;
    if (agrees(stream->r_frame_rate)) return stream->r_frame_rate;
    if (measured > 0) return av_d2q(measured, 1000000);
    return AVRational{25, 1};
}

// Decoders copy colour values from the stream without checking them (MPEG-2 takes any 8-bit
// matrix number). Such a value is read as the integer it is, never loaded as the enum, and one
// FFmpeg does not know becomes `unknown`.
template <typename Enum>
int32_t KnownColourValue(const Enum& field, int64_t count, int32_t unknown) {
    std::underlying_type_t<Enum> raw;
    std::memcpy(&raw, &field, sizeof raw);
    const auto value = static_cast<int64_t>(raw);
    return value >= 0 && value < count ? static_cast<int32_t>(value) : unknown;
}

int32_t KiloBits(double bitsPerSecond) {
    if (!(bitsPerSecond > 0)) return 0;
    return static_cast<int32_t>(std::min(std::llround(bitsPerSecond / 1000), static_cast<long long>(INT32_MAX)));
}

}  // namespace

FfmpegReader::FfmpegReader(size_t cacheBytes)
    : cache_(cacheBytes), recent_(cacheBytes, kRecentFrames), landings_(kLandingBytes) {}

// Pictures published for the writer and the preview go with the reader.
FfmpegReader::~FfmpegReader() {
    if (source_ != 0) delivered::Forget(source_);
}

void FfmpegReader::Close() {
    if (source_ != 0) delivered::Forget(source_);
    video_.Close();
    audio_.Close();
    index_.Clear();
    cache_.Clear();
    recent_.Clear();
    landings_.Clear();
    seekLanding_ = false;
    info_ = Info();
    current_ = 0;
    lastDelivered_ = 0;
    dropRemaining_ = 0;
    audioPositionMs_ = 0;
}

void FfmpegReader::OpenForReading(const std::string& path) {
    Close();
    source_ = NewFrameSource();
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path file(path);  // paths are UTF-8, the native encoding here
    if (path.empty() || !fs::exists(file, error)) throw EngineError("The file " + Quoted(path) + " does not exist.");
    if (!fs::is_regular_file(file, error)) throw EngineError(Quoted(path) + " is not a file.");
    const auto fileSize = fs::file_size(file, error);
    if (!error && fileSize == 0) throw EngineError("The file " + Quoted(path) + " is empty.");

    try {
        ff::InputContextPtr first = OpenInput(path);
        const int videoIndex = FindVideoStream(first.get());
        const int audioIndex = av_find_best_stream(first.get(), AVMEDIA_TYPE_AUDIO, -1, videoIndex, nullptr, 0);
        if (videoIndex < 0 && audioIndex < 0)
            throw EngineError("The file " + Quoted(path) + " contains neither video nor sound.");
        AVStream* videoStream = videoIndex >= 0 ? first->streams[videoIndex] : nullptr;
        AVStream* audioStream = audioIndex >= 0 ? first->streams[audioIndex] : nullptr;

        ScanResult scan = Scan(first.get(), videoIndex, audioIndex);
        int64_t zero = 0;  // time zero in the video's time base, or the sound's without video
        AVRational zeroBase{1, 1};
        double scannedSeconds = 0;
        if (videoStream) {
            if (scan.video.empty()) throw EngineError("The video of " + Quoted(path) + " contains no pictures.");
            const AVRational rate = ChooseFrameRate(videoStream, scan.video);
            const int64_t packetsRead = static_cast<int64_t>(scan.video.size());
            index_.Build(std::move(scan.video), videoStream->time_base.num, videoStream->time_base.den, rate.num,
                         rate.den);
            if (index_.FrameCount() == 0) throw EngineError("The video of " + Quoted(path) + " contains no pictures.");
            zero = index_.ZeroTime();
            zeroBase = videoStream->time_base;
            scannedSeconds = index_.DurationMs() / 1000.0;
            // A header that promises more pictures than the file holds: the file was cut short.
            const int64_t promised = videoStream->nb_frames;
            if (promised > 0 && packetsRead < promised * 9 / 10 && promised - packetsRead >= 3)
                throw EngineError("The file " + Quoted(path) + " is incomplete: it holds " + std::to_string(packetsRead) +
                                  " of its " + std::to_string(promised) + " pictures.");
            info_.hasVideo = true;
            info_.videoCodec = CodecName(videoStream->codecpar->codec_id);
            info_.frameRate = av_q2d(rate);
            if (rate.den != 1) info_.frameRate = std::round(info_.frameRate * 1000) / 1000;
            info_.width = videoStream->codecpar->width;
            info_.height = videoStream->codecpar->height;
            const AVRational aspect = av_guess_sample_aspect_ratio(first.get(), videoStream, nullptr);
            info_.sampleAspectNum = aspect.num;
            info_.sampleAspectDen = aspect.den > 0 ? aspect.den : 1;
            const double seconds = index_.DurationMs() / 1000.0;
            info_.videoBitRate = seconds > 0 ? KiloBits(scan.videoBytes * 8 / seconds)
                                             : KiloBits(static_cast<double>(videoStream->codecpar->bit_rate));
        } else if (scan.audioFirst != AV_NOPTS_VALUE) {
            zero = scan.audioFirst;
            zeroBase = audioStream->time_base;
        }

        if (audioStream) {
            const int64_t audioZero = av_rescale_q(zero, zeroBase, audioStream->time_base);
            const int64_t firstTime = scan.audioFirst != AV_NOPTS_VALUE ? scan.audioFirst : audioZero;
            ff::InputContextPtr second = OpenInput(path);
            const int match = MatchingStream(second.get(), audioStream);
            if (match < 0) throw EngineError("The sound of " + Quoted(path) + " cannot be found again.");
            audio_.Open(std::move(second), match, audioZero, firstTime);
            const AVCodecParameters* a = audioStream->codecpar;
            info_.hasAudio = true;
            info_.audioFormat = CodecName(a->codec_id);
            info_.sampleRate = audio_.SampleRate();
            info_.channels = audio_.Channels();
            info_.bitsPerSample = av_get_bits_per_sample(a->codec_id);
            if (info_.bitsPerSample == 0 && (a->codec_id == AV_CODEC_ID_FLAC || a->codec_id == AV_CODEC_ID_ALAC))
                info_.bitsPerSample = a->bits_per_raw_sample;
            double endSeconds = 0;
            if (scan.audioEnd != AV_NOPTS_VALUE)
                endSeconds = static_cast<double>(scan.audioEnd - audioZero) * av_q2d(audioStream->time_base);
            else if (audioStream->duration > 0)
                endSeconds = static_cast<double>(audioStream->duration) * av_q2d(audioStream->time_base);
            info_.audioDuration = static_cast<int32_t>(std::llround(std::max(0.0, endSeconds) * 1000));
            const double soundSeconds = scan.audioEnd != AV_NOPTS_VALUE && scan.audioFirst != AV_NOPTS_VALUE
                                            ? (scan.audioEnd - scan.audioFirst) * av_q2d(audioStream->time_base)
                                            : 0;
            scannedSeconds = std::max(scannedSeconds, soundSeconds);
            info_.audioBitRate = a->bit_rate > 0 ? KiloBits(static_cast<double>(a->bit_rate))
                                 : soundSeconds > 0 ? KiloBits(scan.audioBytes * 8 / soundSeconds)
                                                    : 0;
        }

        // A header that promises a longer file than there is: cut short (an interrupted copy
        // or download). Reading it would end early and without warning.
        if (first->duration_estimation_method == AVFMT_DURATION_FROM_STREAM && first->duration > 0) {
            const double promised = static_cast<double>(first->duration) / AV_TIME_BASE;
            if (scannedSeconds < promised * 0.9 && promised - scannedSeconds > 0.25)
                throw EngineError("The file " + Quoted(path) + " is incomplete: it ends after " +
                                  std::to_string(std::lround(scannedSeconds)) + " of its " +
                                  std::to_string(std::lround(promised)) + " seconds.");
        }

        if (videoStream) {
            video_.Open(std::move(first), videoIndex, &index_);
            info_.open = true;
            // The first picture must decode: a file that only looks like a video fails here, and
            // the picture the program shows first is ready in the cache.
            FrameData picture;
            if (DecodeUntil(1, false, false, &picture) == 0 || picture.empty())
                throw EngineError("The video of " + Quoted(path) + " cannot be decoded.");
        }
        info_.open = true;
        if (!info_.hasVideo) audioPositionMs_ = 0;
    } catch (...) {
        Close();
        throw;
    }
}

void FfmpegReader::RequireOpen() const {
    if (!info_.open) throw EngineError("No input file is open.");
}

bool FfmpegReader::HasVideo() { return info_.hasVideo; }
bool FfmpegReader::HasAudio() { return info_.hasAudio; }
std::string FfmpegReader::VideoCodecName() { return info_.videoCodec; }
int32_t FfmpegReader::VideoDuration() { return info_.hasVideo ? index_.DurationMs() : 0; }
int32_t FfmpegReader::VideoBitRate() { return info_.videoBitRate; }
double FfmpegReader::FrameRate() { return info_.frameRate; }
int32_t FfmpegReader::NumberOfFrames() { return info_.hasVideo ? index_.FrameCount() : 0; }
int32_t FfmpegReader::Width() { return info_.width; }
int32_t FfmpegReader::Height() { return info_.height; }
std::string FfmpegReader::AudioFormatName() { return info_.audioFormat; }
int32_t FfmpegReader::AudioDuration() { return info_.audioDuration; }
int32_t FfmpegReader::AudioBitRate() { return info_.audioBitRate; }
int32_t FfmpegReader::SampleRate() { return info_.sampleRate; }
int32_t FfmpegReader::BitsPerSample() { return info_.bitsPerSample; }
int32_t FfmpegReader::Channels() { return info_.channels; }

int32_t FfmpegReader::CurrentFrameNumber() { return current_; }

int32_t FfmpegReader::CurrentVideoPosition() {
    if (!info_.hasVideo) return 0;
    return current_ == 0 ? 0 : index_.EndMs(current_);
}

int32_t FfmpegReader::CurrentAudioPosition() { return audioPositionMs_; }

void FfmpegReader::PlaceSound(int32_t frameNumber) {
    if (!info_.hasAudio) return;
    const double seconds = index_.StartSeconds(frameNumber);
    audio_.SeekTo(std::llround(seconds * info_.sampleRate));
    audioPositionMs_ = index_.StartMs(frameNumber);
}

void FfmpegReader::SeekToFrame(int32_t frameNumber) {
    RequireOpen();
    dropRemaining_ = 0;
    if (!info_.hasVideo) {
        SeekToPosition(0);
        return;
    }
    const int32_t frame = std::clamp(frameNumber, 1, index_.FrameCount() + 1);
    current_ = frame - 1;
    seekLanding_ = true;
    video_.SkipDisposableUpTo(0);
    PlaceSound(frame);
}

void FfmpegReader::SeekToPosition(int32_t timeMs) {
    RequireOpen();
    if (info_.hasVideo) {
        SeekToFrame(index_.FrameAtMs(timeMs));
        return;
    }
    if (info_.hasAudio) {
        const int32_t t = std::clamp(timeMs, 0, info_.audioDuration);
        audio_.SeekTo(static_cast<int64_t>(t) * info_.sampleRate / 1000);
        audioPositionMs_ = t;
    }
}

void FfmpegReader::DropNotification(int32_t count) {
    if (!info_.hasVideo) return;
    dropRemaining_ = std::max(0, count);
    video_.SkipDisposableUpTo(dropRemaining_ > 0 ? current_ + dropRemaining_ : 0);
}

void FfmpegReader::PackInto(FrameData& out, const AVFrame& picture, int32_t frameNumber) const {
    FrameHeader header;
    header.width = picture.width;
    header.height = picture.height;
    header.pixelFormat = picture.format;
    header.colorSpace = KnownColourValue(picture.colorspace, AVCOL_SPC_NB, AVCOL_SPC_UNSPECIFIED);
    header.colorRange = KnownColourValue(picture.color_range, AVCOL_RANGE_NB, AVCOL_RANGE_UNSPECIFIED);
    AVRational aspect = picture.sample_aspect_ratio;
    if (aspect.num <= 0 || aspect.den <= 0) aspect = AVRational{info_.sampleAspectNum, info_.sampleAspectDen};
    header.sampleAspectNum = aspect.num > 0 ? aspect.num : 0;
    header.sampleAspectDen = aspect.num > 0 && aspect.den > 0 ? aspect.den : 1;
    header.timeMs = index_.StartMs(frameNumber);
    header.frameNumber = frameNumber;
    header.source = source_;
    PackFrameInto(out, header, picture.data, picture.linesize);
}

bool FfmpegReader::DecodeForwardIsCheaper(int32_t wanted) const {
    if (!video_.Started()) return false;
    const int32_t next = video_.ExpectedNext();
    if (next > wanted) return false;
    const int32_t groupStart = std::max(1, index_.FrameOfPacket(index_.StartPacketFor(wanted)));
    return wanted - next <= wanted - groupStart + kSeekCostFrames;
}

int32_t FfmpegReader::DecodeUntil(int32_t wanted, bool dropping, bool landing, FrameData* out) {
    if (!DecodeForwardIsCheaper(wanted)) video_.StartAt(index_.StartPacketFor(wanted));
    // Frames decoded on the way to the target are kept in the cache: stepping back from the
    // target asks for them next.
    const size_t frameBytes = sizeof(FrameHeader) +
                              static_cast<size_t>(std::max(0, av_image_get_buffer_size(AV_PIX_FMT_YUV420P,
                                                                                       info_.width, info_.height, 1)));
    const bool steppingBack = wanted < lastDelivered_ && wanted >= lastDelivered_ - 3;
    const int32_t keep = steppingBack ? static_cast<int32_t>(std::min<size_t>(cache_.Capacity(frameBytes), 100000))
                                      : kFramesKeptAfterJump;
    // Pictures before the ones kept are neither shown nor kept: the decoder may skip those that
    // nothing else refers to (a drop has announced its own range already).
    if (!dropping) video_.SkipDisposableUpTo(std::max(0, wanted - keep - 1));
    for (;;) {
        int32_t number = 0;
        const AVFrame* picture = video_.Next(number);
        if (!picture) return 0;
        if (number < wanted) {
            if (!dropping && number + keep >= wanted && !cache_.Find(number)) cache_.Store(number, *picture);
            continue;
        }
        if (number > wanted && dropping) {
            // Skipped by the decoder as nothing refers to it, and thrown away anyway; the
            // caller still gets a picture rather than the end-of-stream signal.
            if (out && out->empty()) PackInto(*out, *picture, number);
            video_.PutBack();
            return wanted;
        }
        if (out) {
            // The caller's buffer is reused from frame to frame: no allocation per frame.
            PackInto(*out, *picture, number);
            recent_.Store(number, *picture);
            if (landing) landings_.Store(number, *picture);
            delivered::Publish(source_, number, *picture);
        }
        lastDelivered_ = number;
        return number;
    }
}

void FfmpegReader::ReadNextVideoFrame(FrameData& frame) {
    lastReadInBackground_ = encoding::Active();
    if (lastReadInBackground_)
        background_.Run([&] { ReadNextVideoFrameHere(frame); });
    else
        ReadNextVideoFrameHere(frame);
}

void FfmpegReader::ReadNextVideoFrameHere(FrameData& frame) {
    if (!info_.hasVideo) {
        frame.clear();
        return;
    }
    const int32_t wanted = current_ + 1;
    if (wanted > index_.FrameCount()) {
        frame.clear();
        return;
    }
    const bool dropping = dropRemaining_ > 0;
    if (dropping) --dropRemaining_;
    // Only the first frame read after a seek is where the seek landed.
    const bool landing = std::exchange(seekLanding_, false) && !dropping;
    // A dropped frame is never looked at: the caller's buffer keeps what it holds instead of
    // receiving a copy of the picture.
    const bool copy = !dropping || frame.empty();
    const AVFrame* cached = cache_.Find(wanted);
    if (!cached) cached = recent_.Find(wanted);
    if (cached && landing && !landings_.Find(wanted)) landings_.Store(wanted, *cached);
    if (!cached) cached = landings_.Find(wanted);
    if (cached) {
        if (copy) {
            PackInto(frame, *cached, wanted);
            delivered::Publish(source_, wanted, *cached);
        }
        current_ = wanted;
        lastDelivered_ = wanted;
        return;
    }
    const int32_t got = DecodeUntil(wanted, dropping, landing, copy ? &frame : nullptr);
    if (got == 0) {
        frame.clear();
        return;
    }
    current_ = got;
}

void FfmpegReader::ReadNextAudioBlock(int32_t blockSize, AudioBlock& block) {
    if (!info_.hasAudio) {
        block.clear();
        return;
    }
    audio_.Read(std::max(0, blockSize), block);
    audioPositionMs_ = static_cast<int32_t>(std::llround(audio_.Position() * 1000.0 / info_.sampleRate));
}

}  // namespace trimora

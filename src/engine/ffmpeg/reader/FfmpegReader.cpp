#include "engine/ffmpeg/reader/FfmpegReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <future>
#include <system_error>
#include <type_traits>
#include <utility>

extern "C" {
#include <libavutil/imgutils.h>
}

#include "engine/FrameBuffer.h"
#include "engine/ffmpeg/reader/ContainerTables.h"
#include "engine/ffmpeg/reader/FirstPicture.h"
#include "engine/ffmpeg/reader/PictureTurn.h"
#include "engine/ffmpeg/reader/InputFile.h"
#include "engine/ffmpeg/reader/PacketScan.h"

namespace trimora {

namespace {

// The container ids of the streams `indices` names.
std::vector<int> StreamIds(const AVFormatContext* input, const std::vector<int>& indices) {
    std::vector<int> ids;
    for (const int i : indices) ids.push_back(input->streams[i]->id);
    return ids;
}

// The format a sound stream's parameters describe: as the file's first packets have it once
// probed, or as the last packets read left it where a scan reads the packets.
struct SoundFormat {
    int rate = 0;
    AVChannelLayout layout{};
    SoundFormat() = default;
    explicit SoundFormat(const AVCodecParameters& p) : rate(p.sample_rate) {
        if (av_channel_layout_copy(&layout, &p.ch_layout) < 0) layout = AVChannelLayout{};
    }
    SoundFormat(const SoundFormat&) = delete;
    SoundFormat& operator=(const SoundFormat&) = delete;
    ~SoundFormat() { av_channel_layout_uninit(&layout); }
};

// A value of an enumeration as a damaged file may have left it: read as the integer it holds and
// taken only when it names one of the enumeration's values.
template <typename Enum>
int32_t CheckedEnum(const Enum& field, Enum count, Enum fallback) {
    static_assert(sizeof(Enum) == sizeof(int32_t));
    int32_t value = 0;
    std::memcpy(&value, &field, sizeof value);
    return value >= 0 && value < static_cast<int32_t>(count) ? value : static_cast<int32_t>(fallback);
}

int32_t KiloBits(double bitsPerSecond) {
    if (!(bitsPerSecond > 0)) return 0;
    return static_cast<int32_t>(std::min(std::llround(bitsPerSecond / 1000), static_cast<long long>(INT32_MAX)));
}

// Frames decoded ahead while a file is written: as many as fit, within a few.
constexpr size_t kVideoAheadBytes = 8u << 20;
constexpr size_t kMostFramesAhead = 4;

// Sound wholly apart from the pictures, further from them than either lasts, was never meant to
// be heard by those times: GStreamer's ASF muxer stamps the pictures 1000 hours after their sound.
// Such sound starts with the pictures instead.
bool SoundFarFromPictures(const ScanResult& scan, int64_t picturesStart, int32_t picturesMs, AVRational base) {
    if (scan.audioFirst == AV_NOPTS_VALUE || scan.audioEnd == AV_NOPTS_VALUE) return false;
    const int64_t picturesEnd = picturesStart + av_rescale_q(picturesMs, AVRational{1, 1000}, base);
    const int64_t gap = scan.audioEnd <= picturesStart  ? picturesStart - scan.audioEnd
                        : scan.audioFirst >= picturesEnd ? scan.audioFirst - picturesEnd
                                                         : -1;
    return gap > std::max(scan.audioEnd - scan.audioFirst, picturesEnd - picturesStart);
}

}  // namespace

FfmpegReader::FfmpegReader(size_t cacheBytes)
    : pictures_(cacheBytes, [this](const AVFrame& picture, int32_t number) { return FrameOf(picture, number); }) {}

FfmpegReader::~FfmpegReader() { Settle(); }

void FfmpegReader::Close() {
    headsAhead_.reset();
    DiscardVideoAhead();
    DiscardSoundAhead();
    pictures_.Close();
    audio_.Close();
    index_.Clear();
    seekLanding_ = false;
    info_ = Info();
    current_ = 0;
    dropRemaining_ = 0;
    audioPositionMs_ = 0;
}

void FfmpegReader::OpenForReading(const std::string& path, const OpenProgress& progress) {
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
        info_.quotedPath = Quoted(path);
        // The sound reads through a demuxer of its own. Opening one costs as much as the first (a
        // long movie's tables are read again), so it opens meanwhile on another thread (or when it
        // is needed, where no thread can be had), and is taken only when the sound is first read.
        std::future<ff::InputContextPtr> soundInput;
        const auto openSound = [&](std::function<bool(AVFormatContext*)> giveIndex = {}) {
            soundInput = std::async(std::launch::async | std::launch::deferred,
                                    [path, giveIndex = std::move(giveIndex)] { return OpenInput(path, giveIndex); });
        };
        // An AVI file's index is read meanwhile, and the chunks' first bytes with it; the sound's
        // demuxer opens after that, on the core this leaves.
        headsAhead_ = std::make_unique<ChunkHeadsAhead>(path);
        ChunkHeadsAhead& heads = *headsAhead_;
        if (!heads.Started()) openSound();
        // An AVI file's demuxer is given the index read ahead instead of reading it again.
        ff::InputContextPtr first = heads.Started() ? OpenInput(path, [&heads](AVFormatContext* input) {
            return GiveAviIndex(input, heads);
        }) : OpenInput(path);
        const int videoIndex = FindVideoStream(first.get());
        const int audioIndex = FindSoundStream(first.get(), videoIndex);
        // Two recordings joined may hold their sound in different formats, and reading the packets
        // leaves the stream described as its end has it. The sound is given out in the wider of
        // its start's and its end's formats, so that a stereo part after a mono one (or before it)
        // keeps both its channels, and no part is resampled down.
        const SoundFormat startFormat = audioIndex >= 0 ? SoundFormat(*first->streams[audioIndex]->codecpar) : SoundFormat();
        if (videoIndex < 0 && audioIndex < 0)
            throw EngineError("The file " + Quoted(path) + " contains neither video nor sound.");
        // The container's own tables where they tell every packet; else every packet is read, by
        // a demuxer that has read none yet.
        bool reopen = false;
        std::optional<ScanResult> tables = ReadContainerTables(first.get(), videoIndex, audioIndex, reopen, &heads);
        heads.Stop();
        if (reopen) first = OpenInput(path);
        if (audioIndex >= 0 && !soundInput.valid()) openSound(reopen ? nullptr : SoundIndexGiver(heads, audioIndex));
        AVFormatContext* const input = first.get();  // owned by the video decoder once it opens
        AVStream* videoStream = videoIndex >= 0 ? first->streams[videoIndex] : nullptr;
        AVStream* audioStream = audioIndex >= 0 ? first->streams[audioIndex] : nullptr;
        // Where every packet is read, the first picture is decoded meanwhile from the packets read.
        std::optional<FirstPicture::Result> firstPicture;
        std::optional<ScanResult> scanned = std::move(tables);
        if (!scanned) {
            std::unique_ptr<FirstPicture> early = videoStream ? std::make_unique<FirstPicture>(videoStream) : nullptr;
            VideoPacketTap tap;
            if (early) tap = [&early](const AVPacket& p, int64_t decodeIndex) { return early->Offer(p, decodeIndex); };
            scanned = Scan(first.get(), videoIndex, audioIndex, progress, false, tap);
            if (early) firstPicture = early->Take();
            // Decoded from the packets as stored; where the decoder is to get them unpacked, the
            // pictures it names by packet are another's.
            if (scanned->unpackedBFrames) firstPicture.reset();
        }
        ScanResult& scan = *scanned;
        int64_t zero = 0;  // time zero in the video's time base, or the sound's without video
        AVRational zeroBase{1, 1};
        if (videoStream) {
            if (scan.video.empty()) throw EngineError("The video of " + Quoted(path) + " contains no pictures.");
            const AVCodecParameters* v = videoStream->codecpar;
            if (v->width <= 0 || v->height <= 0 || v->width > kLargestSide || v->height > kLargestSide)
                throw EngineError("The pictures of " + Quoted(path) + " have a size that cannot be read (" +
                                  std::to_string(v->width) + "x" + std::to_string(v->height) + ").");
            // A file whose end is missing (an interrupted recording) is read as far as it goes:
            // the frames are the ones it holds, whatever its header promised.
            const AVRational stated = StatedFrameRate(videoStream);
            const bool decodeSlots = std::strcmp(input->iformat->name, "avi") == 0;
            index_.Build(scan.video, videoStream->time_base.num, videoStream->time_base.den, stated.num, stated.den,
                         decodeSlots);
            const AVRational rate = ChooseFrameRate(videoStream, index_);
            if (av_cmp_q(rate, stated) != 0)
                index_.Build(std::move(scan.video), videoStream->time_base.num, videoStream->time_base.den, rate.num,
                             rate.den, decodeSlots);
            index_.SetUnpackedBFrames(scan.unpackedBFrames);
            if (index_.FrameCount() == 0) throw EngineError("The video of " + Quoted(path) + " contains no pictures.");
            // The demuxer goes to the video; the streams stay readable through it.
            const size_t pictureBytes = sizeof(FrameHeader) + static_cast<size_t>(std::max(
                                            0, av_image_get_buffer_size(AV_PIX_FMT_YUV420P, v->width, v->height, 1)));
            pictures_.Open(std::move(first), videoIndex, &index_, pictureBytes);
            if (!scan.videoFollowers.empty()) pictures_.Decoder().SetFollowers(StreamIds(input, scan.videoFollowers));
            // A few frames decoded ahead keep the decoding going while the encoder holds the
            // writing back; more would only hold memory.
            aheadFrames_ = std::clamp<size_t>(kVideoAheadBytes / pictureBytes, 1, kMostFramesAhead);
            SkipUndecodableStart(path, std::move(firstPicture));
            zero = index_.ZeroTime();
            zeroBase = videoStream->time_base;
            info_.hasVideo = true;
            info_.videoCodec = CodecName(videoStream->codecpar->codec_id);
            info_.frameRate = av_q2d(rate);
            if (rate.den != 1) info_.frameRate = std::round(info_.frameRate * 1000) / 1000;
            info_.width = videoStream->codecpar->width;
            info_.height = videoStream->codecpar->height;
            const AVRational aspect = av_guess_sample_aspect_ratio(input, videoStream, nullptr);
            info_.sampleAspectNum = aspect.num;
            info_.sampleAspectDen = aspect.den > 0 ? aspect.den : 1;
            info_.turn = ClockwiseTurn(*videoStream);
            if (info_.turn == 90 || info_.turn == 270) {
                std::swap(info_.width, info_.height);
                if (info_.sampleAspectNum > 0) std::swap(info_.sampleAspectNum, info_.sampleAspectDen);
            }
            const double seconds = index_.DurationMs() / 1000.0;
            info_.videoBitRate = seconds > 0 ? KiloBits(scan.videoBytes * 8 / seconds)
                                             : KiloBits(static_cast<double>(videoStream->codecpar->bit_rate));
        } else if (!scan.audio.empty()) {
            PlaceSoundSpan(scan, audioStream, nullptr, nullptr);
            zero = scan.audioFirst;
            zeroBase = audioStream->time_base;
        }

        if (audioStream) {
            const AVCodecParameters* a = audioStream->codecpar;
            int rate = std::max(a->sample_rate, startFormat.rate);
            const AVChannelLayout* widest =
                startFormat.layout.nb_channels >= a->ch_layout.nb_channels ? &startFormat.layout : &a->ch_layout;
            for (const int follower : scan.audioFollowers) {
                const AVCodecParameters* f = input->streams[follower]->codecpar;
                rate = std::max(rate, f->sample_rate);
                if (f->ch_layout.nb_channels > widest->nb_channels) widest = &f->ch_layout;
            }
            const AVChannelLayout& layout = *widest;
            if (rate > kHighestSampleRate || layout.nb_channels > kMostChannels)
                throw EngineError("The sound of " + Quoted(path) + " has a format that cannot be read (" +
                                  std::to_string(rate) + " Hz, " + std::to_string(layout.nb_channels) +
                                  " channels).");
            PlaceSoundSpan(scan, audioStream, videoStream, info_.hasVideo ? &index_ : nullptr);
            int64_t audioZero = av_rescale_q(zero, zeroBase, audioStream->time_base);
            if (info_.hasVideo && SoundFarFromPictures(scan, audioZero, index_.DurationMs(), audioStream->time_base))
                audioZero = scan.audioFirst;
            const int64_t firstTime = scan.audioFirst != AV_NOPTS_VALUE ? scan.audioFirst : audioZero;
            // The sound's demuxer is taken when the sound is first read: the file is ready to be
            // shown meanwhile.
            std::future<AudioDecoder::Input> sound = std::async(
                std::launch::deferred,
                [opening = std::move(soundInput), type = a->codec_type, id = audioStream->id, index = audioStream->index]() mutable {
                    AudioDecoder::Input taken;
                    taken.input = opening.get();
                    taken.streamIndex = MatchingStream(taken.input.get(), type, id, index);
                    return taken;
                });
            // The same demuxer once more, for a sound stream that cannot be taken back to its start.
            const auto reopen = [path] { return OpenInput(path); };
            audio_.Open(std::move(sound), audioStream, audioZero, firstTime, scan.audioEnd, reopen, Quoted(path), rate,
                        layout);
            audio_.SetFollowers(StreamIds(input, scan.audioFollowers));
            if (info_.hasVideo && index_.Segments().size() > 1) FollowVideoClock(audioStream, videoStream);
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
            info_.audioDuration = static_cast<int32_t>(std::clamp(endSeconds * 1000, 0.0, static_cast<double>(INT32_MAX)));
            const double soundSeconds = scan.audioEnd != AV_NOPTS_VALUE && scan.audioFirst != AV_NOPTS_VALUE
                                            ? (scan.audioEnd - scan.audioFirst) * av_q2d(audioStream->time_base)
                                            : 0;
            info_.audioBitRate = a->bit_rate > 0 ? KiloBits(static_cast<double>(a->bit_rate))
                                 : soundSeconds > 0 ? KiloBits(scan.audioBytes * 8 / soundSeconds)
                                                    : 0;
        }

        if (videoStream) {
            info_.open = true;
            // The first picture must decode: a file that only looks like a video fails here, and
            // the picture the program shows first is ready in the cache.
            FrameData picture;
            if (!pictures_.TakeKept(1, false, &picture) &&
                (pictures_.DecodeUntil(1, false, false, &picture) == 0 || picture.empty()))
                throw EngineError("The video of " + Quoted(path) + " cannot be decoded.");
        }
        info_.open = true;
        if (!info_.hasVideo) audioPositionMs_ = 0;
        headsAhead_->Release();
    } catch (...) {
        Close();
        throw;
    }
}

void FfmpegReader::FollowVideoClock(const AVStream* audio, const AVStream* video) {
    const AVRational soundBase = audio->time_base;
    const AVRational pictureBase = video->time_base;
    const FrameIndex* index = &index_;
    AudioDecoder::TimeLine timeLine;
    timeLine.toLine = [=](int64_t stamp, int64_t pos, int64_t expected) {
        const int64_t inPictures = av_rescale_q(stamp, soundBase, pictureBase);
        const FrameIndex::Placed placed =
            index->Place(inPictures, pos, av_rescale_q(expected, soundBase, pictureBase));
        // Only the segment's offset is taken over, so the stamp keeps its own precision.
        return AudioDecoder::TimeLine::Placed{
            stamp + av_rescale_q(placed.line - inPictures, pictureBase, soundBase),
            placed.partEnd == INT64_MAX ? INT64_MAX : av_rescale_q(placed.partEnd, pictureBase, soundBase)};
    };
    timeLine.toStamp = [=](int64_t line) {
        return av_rescale_q(index->ToStamp(av_rescale_q(line, soundBase, pictureBase)), pictureBase, soundBase);
    };
    timeLine.positionBefore = [=](int64_t line) {
        return index->PositionBefore(av_rescale_q(line, soundBase, pictureBase));
    };
    audio_.SetTimeLine(std::move(timeLine));
}

void FfmpegReader::SkipUndecodableStart(const std::string& path, std::optional<FirstPicture::Result> early) {
    // A stream cut in the middle of a group (a recording started mid-broadcast) begins with
    // pictures that need others before them: the decoder shows none of them, so they are not
    // counted; frame 1 is the first picture it shows.
    if (early && early->packet >= 0 && early->packet < index_.PacketCount() && index_.FrameOfPacket(early->packet) > 0) {
        // The first picture, decoded from the first packet on while the file was read: the one
        // the decoder shows first from there.
        if (index_.HideBefore(early->packet)) {
            if (index_.FrameCount() == 0) throw EngineError("The video of " + Quoted(path) + " cannot be decoded.");
            return;
        }
        if (index_.FrameOfPacket(early->packet) == 1 && index_.StartPacketFor(1) == 0) {
            pictures_.Adopt(1, *early->picture, early->cpuSeconds);
            return;
        }
    }
    VideoDecoder& video = pictures_.Decoder();
    video.StartAt(0);
    int32_t number = 0;
    if (!video.Next(number)) throw EngineError("The video of " + Quoted(path) + " cannot be decoded.");
    if (index_.HideBefore(video.LastPacket())) {
        if (index_.FrameCount() == 0) throw EngineError("The video of " + Quoted(path) + " cannot be decoded.");
        video.StartAt(index_.StartPacketFor(1));
    } else if (number == 1) {
        video.PutBack();  // frame 1 itself: not decoded a second time
    } else {
        video.StartAt(index_.StartPacketFor(1));
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
    DiscardVideoAhead();
    DiscardSoundAhead();
    dropRemaining_ = 0;
    if (!info_.hasVideo) {
        SeekToPosition(0);
        return;
    }
    const int32_t frame = std::clamp(frameNumber, 1, index_.FrameCount() + 1);
    current_ = frame - 1;
    seekLanding_ = true;
    pictures_.Decoder().SkipDisposableUpTo(0);
    PlaceSound(frame);
}

void FfmpegReader::SeekToPosition(int32_t timeMs) {
    RequireOpen();
    DiscardVideoAhead();
    DiscardSoundAhead();
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
    DiscardVideoAhead();
    dropRemaining_ = std::max(0, count);
    pictures_.Decoder().SkipDisposableUpTo(dropRemaining_ > 0 ? current_ + dropRemaining_ : 0);
}

FrameData FfmpegReader::FrameOf(const AVFrame& picture, int32_t frameNumber) const {
    // A new reference to the decoder's picture: the decoder takes another buffer for the next
    // one, and this one goes back to its pool when the last frame holding it is let go. A
    // picture stored on its side is handed out turned upright, in a picture of its own.
    ff::FramePtr reference = info_.turn ? TurnPicture(picture, info_.turn) : ff::FramePtr(av_frame_clone(&picture));
    if (!reference) throw EngineError("Out of memory while reading the video.");
    // Decoders pass on a stream's colour values unchecked: what FFmpeg does not know is unspecified.
    reference->colorspace = static_cast<AVColorSpace>(CheckedEnum(picture.colorspace, AVCOL_SPC_NB, AVCOL_SPC_UNSPECIFIED));
    reference->color_range =
        static_cast<AVColorRange>(CheckedEnum(picture.color_range, AVCOL_RANGE_NB, AVCOL_RANGE_UNSPECIFIED));
    const AVRational aspect = reference->sample_aspect_ratio;
    if ((aspect.num <= 0 || aspect.den <= 0) && info_.sampleAspectNum > 0)
        reference->sample_aspect_ratio = AVRational{info_.sampleAspectNum, info_.sampleAspectDen};
    FrameData frame = WrapPicture(std::move(reference), index_.StartMs(frameNumber), frameNumber, source_);
    frame.SetSpan(index_.StartSeconds(frameNumber), index_.StartSeconds(frameNumber + 1));
    return frame;
}

void FfmpegReader::DecodeInBackground(bool on) {
    // The sound read ahead is kept: the next reads hand it out.
    if (!on) DiscardVideoAhead();
    decodeInBackground_ = on;
}

int64_t FfmpegReader::PicturesDecoded() {
    Settle();
    return pictures_.PicturesDecoded();
}

void FfmpegReader::ReadNextVideoFrame(FrameData& frame) {
    lastReadInBackground_ = decodeInBackground_;
    if (!decodeInBackground_) {
        ReadNextVideoFrameHere(frame);
        return;
    }
    if (!TakeVideoAhead(frame)) videoThread_.Run([&] { ReadNextVideoFrameHere(frame); });
    StartVideoAhead();
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
    // A dropped frame is never looked at: the caller's frame stays what it was.
    const bool deliver = !dropping || frame.empty();
    try {
        current_ = Fetch(wanted, dropping, landing, deliver ? &frame : nullptr);
    } catch (...) {
        frame.clear();
        throw;
    }
}

int32_t FfmpegReader::Fetch(int32_t wanted, bool dropping, bool landing, FrameData* out) {
    if (pictures_.TakeKept(wanted, landing, out)) return wanted;
    const int32_t got = pictures_.DecodeUntil(wanted, dropping, landing, out);
    if (got == 0) {
        // The file held this frame when it was opened: losing it is a failure, not the end.
        throw EngineError("The video of " + info_.quotedPath + " ends after frame " + std::to_string(wanted - 1) +
                          " of " + std::to_string(index_.FrameCount()) +
                          ": the file is damaged or became shorter while it was read.");
    }
    return got;
}

void FfmpegReader::StartVideoAhead() {
    {
        std::lock_guard<std::mutex> lock(aheadMutex_);
        if (aheadRunning_) return;  // it reads on by itself while there is room
    }
    videoThread_.Wait();  // the piece that stopped
    int32_t next = current_ + 1;
    {
        std::lock_guard<std::mutex> lock(aheadMutex_);
        if (!videoAhead_.empty()) {
            if (videoAhead_.back().failure) return;
            next = videoAhead_.back().got + 1;
        }
        if (!info_.hasVideo || next > index_.FrameCount() || dropRemaining_ > 0 || seekLanding_ ||
            videoAhead_.size() >= aheadFrames_)
            return;
        aheadRunning_ = true;
        aheadStop_ = false;
    }
    videoThread_.Start([this, next] { ReadVideoAhead(next); });
}

void FfmpegReader::ReadVideoAhead(int32_t next) {
    for (;;) {
        VideoAhead ahead;
        ahead.wanted = next;
        try {
            ahead.got = Fetch(next, false, false, &ahead.frame);
        } catch (...) {
            ahead.failure = std::current_exception();
        }
        const bool failed = static_cast<bool>(ahead.failure);
        next = ahead.got + 1;
        std::lock_guard<std::mutex> lock(aheadMutex_);
        videoAhead_.push_back(std::move(ahead));
        if (failed || aheadStop_ || videoAhead_.size() >= aheadFrames_ || next > index_.FrameCount()) aheadRunning_ = false;
        aheadChanged_.notify_all();
        if (!aheadRunning_) return;
    }
}

bool FfmpegReader::TakeVideoAhead(FrameData& frame) {
    VideoAhead ahead;
    bool found = false;
    {
        std::unique_lock<std::mutex> lock(aheadMutex_);
        aheadChanged_.wait(lock, [this] { return !videoAhead_.empty() || !aheadRunning_; });
        if (!videoAhead_.empty()) {
            ahead = std::move(videoAhead_.front());
            videoAhead_.pop_front();
            found = true;
        }
    }
    if (found) {
        if (ahead.wanted == current_ + 1 && dropRemaining_ == 0 && !seekLanding_) {
            if (ahead.failure) {
                frame.clear();
                DiscardVideoAhead();
                std::rethrow_exception(ahead.failure);
            }
            frame = std::move(ahead.frame);
            current_ = ahead.got;
            return true;
        }
        DiscardVideoAhead();
    }
    videoThread_.Wait();  // the decoding goes on here, on the same thread
    return false;
}

void FfmpegReader::StopVideoAhead() {
    {
        std::lock_guard<std::mutex> lock(aheadMutex_);
        aheadStop_ = true;
    }
    videoThread_.Wait();
}

void FfmpegReader::Settle() {
    StopVideoAhead();
    soundThread_.Wait();
}

void FfmpegReader::DiscardVideoAhead() {
    // The frames read ahead stay among the recent ones: reading them again costs little.
    StopVideoAhead();
    std::lock_guard<std::mutex> lock(aheadMutex_);
    videoAhead_.clear();
}

void FfmpegReader::DiscardSoundAhead() {
    soundThread_.Wait();
    soundAhead_ = SoundAhead{};
    soundCarry_.clear();
}

void FfmpegReader::ReadNextAudioBlock(int32_t blockSize, AudioBlock& block) {
    if (!info_.hasAudio) {
        block.clear();
        return;
    }
    blockSize = std::max(0, blockSize);
    CollectSoundAhead();
    const size_t frameBytes = static_cast<size_t>(std::max(1, audio_.Channels())) * sizeof(int16_t);
    if (soundCarry_.empty()) {
        audio_.Read(blockSize, block);
    } else {
        // Samples read ahead are handed out first, in whatever blocks the caller asks for.
        const size_t wanted = blockSize == 0 ? soundCarry_.size() : static_cast<size_t>(blockSize) * frameBytes;
        if (soundCarry_.size() >= wanted) {
            block.assign(soundCarry_.begin(), soundCarry_.begin() + static_cast<std::ptrdiff_t>(wanted));
            soundCarry_.erase(soundCarry_.begin(), soundCarry_.begin() + static_cast<std::ptrdiff_t>(wanted));
        } else {
            block = std::exchange(soundCarry_, AudioBlock{});
            AudioBlock rest;
            audio_.Read(blockSize - static_cast<int32_t>(block.size() / frameBytes), rest);
            block.insert(block.end(), rest.begin(), rest.end());
        }
    }
    // The decoder is past the samples still carried.
    const int64_t position = audio_.Position() - static_cast<int64_t>(soundCarry_.size() / frameBytes);
    audioPositionMs_ = static_cast<int32_t>(std::llround(position * 1000.0 / info_.sampleRate));
    if (decodeInBackground_ && !block.empty() && soundCarry_.empty()) StartSoundAhead(blockSize);
}

void FfmpegReader::StartSoundAhead(int32_t blockSize) {
    soundAhead_ = SoundAhead{};
    soundAhead_.started = true;
    soundThread_.Start([this, blockSize] {
        try {
            audio_.Read(blockSize, soundAhead_.block);
        } catch (...) {
            soundAhead_.failure = std::current_exception();
        }
    });
}

void FfmpegReader::CollectSoundAhead() {
    soundThread_.Wait();
    SoundAhead ahead = std::exchange(soundAhead_, SoundAhead{});
    if (!ahead.started) return;
    if (ahead.failure) std::rethrow_exception(ahead.failure);
    soundCarry_ = std::move(ahead.block);
}

}  // namespace trimora

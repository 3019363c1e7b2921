#include "engine/ffmpeg/reader/PacketScan.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <optional>

#include "engine/EngineError.h"
#include "engine/ffmpeg/reader/InputFile.h"
#include "engine/ffmpeg/reader/PackedBFrames.h"
#include "engine/ffmpeg/reader/StartCodes.h"

extern "C" {
#include <libavutil/avstring.h>
}

namespace trimora {

namespace {

// H.264 and HEVC pictures in AVI, or in a file of their own as they leave the encoder, and MPEG
// pictures in a stream that carries no times: the container tells only each chunk's decode slot
// (or nothing), and where B-frames are reordered the order the pictures are shown in is their
// own. FFmpeg's H.264 and HEVC parsers read each chunk's picture order count; an MPEG picture
// tells its place in its group (the temporal reference), and the groups follow each other.
// Apply() then gives every chunk the slot it is shown in as its presentation time, as the k-th
// picture shown takes the k-th slot. The counts start again at each IDR picture; an open group's
// first picture counts on, so the pictures shown before it (decoded after it) sort before it.
class PictureOrder {
public:
    explicit PictureOrder(const AVCodecParameters* parameters) {
        const AVCodecID codec = parameters->codec_id;
        if (codec == AV_CODEC_ID_MPEG1VIDEO || codec == AV_CODEC_ID_MPEG2VIDEO) {
            mpeg_ = true;
            open_ = true;
            return;
        }
        parser_ = av_parser_init(codec);
        context_.reset(avcodec_alloc_context3(nullptr));
        if (!parser_ || !context_ || avcodec_parameters_to_context(context_.get(), parameters) < 0) {
            Close();
            return;
        }
        parser_->flags |= PARSER_FLAG_COMPLETE_FRAMES;
        open_ = true;
    }
    ~PictureOrder() { Close(); }
    PictureOrder(const PictureOrder&) = delete;
    PictureOrder& operator=(const PictureOrder&) = delete;

    void Read(const AVPacket& p) {
        if (!open_) return;
        if (p.size <= 0) {
            PushUnread();  // an empty chunk (a frame the recorder dropped)
            return;
        }
        if (mpeg_) {
            ReadMpegPicture(p);
            return;
        }
        constexpr int kUnread = std::numeric_limits<int>::min();
        parser_->output_picture_number = kUnread;
        uint8_t* out = nullptr;
        int outSize = 0;
        av_parser_parse2(parser_, context_.get(), &out, &outSize, p.data, p.size, AV_NOPTS_VALUE, AV_NOPTS_VALUE,
                         p.pos);
        if (parser_->output_picture_number == kUnread) {
            PushUnread();
            return;
        }
        PushCount(parser_->output_picture_number, parser_->key_frame == 1);
    }

    // Sets the presentation times of `video` (one entry per chunk read); leaves them unknown
    // where the counts do not give one order.
    void Apply(std::vector<PacketEntry>& video) const {
        if (!open_ || counts_.size() != video.size()) return;
        std::vector<int64_t> counts(counts_.size());
        std::vector<int64_t> pts(video.size());
        size_t start = 0;
        int64_t highest = 0;
        bool known = false;  // whether the group so far has a count read
        for (size_t i = 0; i <= video.size(); ++i) {
            // A keyframe that counts from below the group's highest count starts over.
            if (i > start && (i == video.size() || (!unread_[i] && known && (video[i].key || keys_[i]) &&
                                                    counts_[i] <= highest))) {
                PlaceUnread(counts, start, i);
                std::vector<size_t> shown(i - start);
                for (size_t k = 0; k < shown.size(); ++k) shown[k] = start + k;
                std::stable_sort(shown.begin(), shown.end(), [&](size_t a, size_t b) { return counts[a] < counts[b]; });
                for (size_t k = 0; k < shown.size(); ++k) {
                    if (k > 0 && counts[shown[k]] == counts[shown[k - 1]]) return;  // two pictures in one place
                    if (video[start + k].dts == PacketEntry::kNoTime) return;
                    pts[shown[k]] = video[start + k].dts;
                }
                start = i;
                known = false;
            }
            if (i < video.size() && !unread_[i]) {
                highest = known ? std::max(highest, counts_[i]) : counts_[i];
                known = true;
            }
        }
        for (size_t i = 0; i < video.size(); ++i) video[i].pts = pts[i];
    }

private:
    // The place of the packet's (first) picture: its group's start plus its temporal reference,
    // which counts on modulo 1024 where no group header starts it again.
    void ReadMpegPicture(const AVPacket& p) {
        for (int pos = 0;;) {
            const uint32_t code = NextStartCode(p.data, p.size, pos);
            if (code == 0) break;
            if (code == 0x1B8) {
                groupStart_ = highestCount_ + 1;
                highestInGroup_ = -1;
            } else if (code == 0x100 && pos + 2 <= p.size) {
                const uint8_t* header = p.data + pos;
                const int reference = header[0] << 2 | header[1] >> 6;
                if (reference + 512 < highestInGroup_) {
                    groupStart_ += 1024;
                    highestInGroup_ -= 1024;
                }
                highestInGroup_ = std::max(highestInGroup_, reference);
                const int64_t count = groupStart_ + reference;
                highestCount_ = std::max(highestCount_, count);
                PushCount(count, ((header[1] >> 3) & 7) == 1);  // key: an I-picture
                return;
            }
        }
        PushUnread();
    }
    void PushCount(int64_t count, bool key) {
        counts_.push_back(count);
        keys_.push_back(key);
        unread_.push_back(false);
    }
    // A chunk without a picture that can be read (damaged, or empty): its place is guessed when
    // its group is complete, and the order of all the others stays told.
    void PushUnread() {
        counts_.push_back(0);
        keys_.push_back(false);
        unread_.push_back(true);
    }
    // Copies the counts of the group [start, end) into `counts`, and gives each unread chunk of it
    // a place no other picture has: a place missing between the counts read, where the counts
    // step evenly (the picture that belongs there is the one that cannot be read), else one after
    // the last.
    void PlaceUnread(std::vector<int64_t>& counts, size_t start, size_t end) const {
        std::vector<int64_t> read;
        size_t unread = 0;
        for (size_t k = start; k < end; ++k) {
            if (unread_[k]) ++unread;
            else read.push_back(counts_[k]);
        }
        std::sort(read.begin(), read.end());
        int64_t step = 0;
        for (size_t k = 1; k < read.size(); ++k)
            if (read[k] > read[k - 1] && (step == 0 || read[k] - read[k - 1] < step)) step = read[k] - read[k - 1];
        if (step == 0) step = 1;
        std::vector<int64_t> missing;
        for (size_t k = 1; k < read.size() && missing.size() < unread; ++k)
            for (int64_t at = read[k - 1] + step; at < read[k] && missing.size() < unread; at += step)
                missing.push_back(at);
        size_t taken = 0;
        int64_t after = read.empty() ? 0 : read.back();
        for (size_t k = start; k < end; ++k) {
            if (!unread_[k]) counts[k] = counts_[k];
            else if (taken < missing.size()) counts[k] = missing[taken++];
            else counts[k] = after += step;
        }
    }
    void Close() {
        if (parser_) av_parser_close(parser_);
        parser_ = nullptr;
        open_ = false;
    }
    bool open_ = false;
    bool mpeg_ = false;
    AVCodecParserContext* parser_ = nullptr;
    ff::CodecContextPtr context_;
    std::vector<int64_t> counts_;
    std::vector<bool> keys_;
    std::vector<bool> unread_;
    int64_t groupStart_ = 0;
    int64_t highestCount_ = -1;
    int highestInGroup_ = -1;
};

// Tells progress how far the demuxer has read; stops the open when it answers false.
void Report(const OpenProgress& progress, AVFormatContext* input) {
    if (!progress) return;
    double share = 0;
    if (input->pb) {
        const int64_t size = avio_size(input->pb);
        const int64_t at = avio_tell(input->pb);
        if (size > 0 && at > 0) share = std::min(1.0, static_cast<double>(at) / static_cast<double>(size));
    }
    if (!progress(share)) throw OpenCancelled();
}

// The sound packets read at the start of a program or transport stream.
constexpr size_t kFirstSoundPackets = 64;

// What the sound packets read tell of those passed over.
struct SoundSample {
    bool passedOver = false;  // the reading of the sound stopped after its first packets
    int64_t headEnd = 0;      // where the latest of those began (a byte position)
    int64_t bytes = 0;
    int64_t duration = 0;
};

void TakeSoundPacket(const AVPacket& p, ScanResult& result, SoundSample& sample) {
    const int64_t t = p.pts != AV_NOPTS_VALUE ? p.pts : p.dts;
    const int64_t duration = std::max<int64_t>(p.duration, 0);
    if (t != AV_NOPTS_VALUE) result.audio.push_back(SoundPacket{t, p.pos, duration});
    sample.headEnd = std::max(sample.headEnd, p.pos);
    result.audioBytes += p.size;
    sample.bytes += p.size;
    sample.duration += duration;
}

void ThrowOnReadError(AVFormatContext* input) {
    if (input->pb && input->pb->error < 0 && input->pb->error != AVERROR_EOF)
        throw EngineError("The file cannot be read: " + ff::ErrorText(input->pb->error));
}

// The sound's last packets, read from the end of the file back until some are found (or the
// place where the reading of the sound stopped is reached: the packet read last may hold more
// than the part of it that was given out, so it is read again). The sound's bytes of the whole
// stretch are estimated from those read, for its bit rate.
void ReadLastSoundPackets(AVFormatContext* input, int audioIndex, ScanResult& result, SoundSample& sample) {
    for (unsigned i = 0; i < input->nb_streams; ++i)
        input->streams[i]->discard = static_cast<int>(i) == audioIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    const int64_t size = avio_size(input->pb);
    const size_t before = result.audio.size();
    ff::PacketPtr packet = ff::MakePacket();
    if (!packet) throw EngineError("Out of memory while reading the file.");
    AVPacket* p = packet.get();
    for (int64_t back = 1 << 20;; back *= 4) {
        const int64_t from = std::max(sample.headEnd, size - back);
        if (av_seek_frame(input, -1, from, AVSEEK_FLAG_BYTE) < 0)
            throw EngineError("The file cannot be read: its end cannot be reached.");
        while (av_read_frame(input, p) >= 0) {
            // Those the parser gives out at the end of the file have no position.
            if (p->stream_index == audioIndex && p->size > 0 && (p->pos >= from || p->pos < 0))
                TakeSoundPacket(*p, result, sample);
            av_packet_unref(p);
        }
        ThrowOnReadError(input);
        if (result.audio.size() > before || from == sample.headEnd || size <= 0) break;
    }
    // Between the packets read, the sound is taken to run at the rate they show.
    if (sample.duration > 0 && !result.audio.empty()) {
        const SoundPacket& last = result.audio.back();
        const int64_t span = last.time + last.duration - result.audio.front().time;
        if (span > sample.duration)
            result.audioBytes = static_cast<int64_t>(static_cast<double>(sample.bytes) * static_cast<double>(span) /
                                                     static_cast<double>(sample.duration));
    }
}

// The index entry of a video packet as the demuxer gives it.
PacketEntry EntryOf(const AVPacket& p) {
    PacketEntry e;
    e.pts = p.pts;
    e.dts = p.dts;
    e.pos = p.pos;
    e.duration = p.duration;
    e.key = (p.flags & AV_PKT_FLAG_KEY) != 0;
    e.discard = (p.flags & AV_PKT_FLAG_DISCARD) != 0;
    return e;
}

// The other streams of a transport stream: the video and the sound of another programme may
// carry on the chosen ones where those end (whether the probe already found that programme's
// streams or the demuxer finds them while the file is read). A stream that begins while the
// chosen video goes on is another programme beside it, and is passed over from then on.
class ProgrammeChanges {
public:
    ProgrammeChanges(AVFormatContext* input, int videoIndex, int audioIndex)
        : input_(input), video_(videoIndex), audio_(audioIndex),
          on_(videoIndex >= 0 && std::strcmp(input->iformat->name, "mpegts") == 0) {
        if (!on_) return;
        for (unsigned i = 0; i < input->nb_streams; ++i) {
            const int n = static_cast<int>(i);
            if (n != videoIndex && n != audioIndex && (Like(input->streams[i], video_) || Like(input->streams[i], audio_)))
                input->streams[i]->discard = AVDISCARD_DEFAULT;
        }
    }

    // A packet of the chosen video at byte `pos`: the streams begun before it run beside it.
    void ChosenVideoAt(int64_t pos) {
        for (const int index : begun_) {
            Stream& s = streams_[index];
            if (s.first >= pos) continue;
            s.beside = true;
            s.video = {};
            s.arrivals = {};
            input_->streams[index]->discard = AVDISCARD_ALL;
        }
        begun_.erase(std::remove_if(begun_.begin(), begun_.end(), [&](int index) { return streams_[index].beside; }),
                     begun_.end());
    }

    // Takes a packet of a stream other than the chosen ones, the `arrival`-th the demuxer gave.
    void Take(const AVPacket& p, unsigned arrival) {
        if (!on_ || p.size <= 0) return;
        AVStream* stream = input_->streams[p.stream_index];
        Stream& s = streams_[p.stream_index];
        if (s.beside) return;
        if (Like(stream, video_)) {
            s.video.push_back(EntryOf(p));
            s.arrivals.push_back(arrival);
            s.bytes += p.size;
        } else if (Like(stream, audio_)) {
            // As of the chosen sound: the first packets, the last ones from the end of the file.
            TakeSoundPacket(p, s.sound, s.sample);
            if (s.sound.audio.size() >= kFirstSoundPackets) {
                stream->discard = AVDISCARD_ALL;
                s.sample.passedOver = true;
            }
        } else {
            stream->discard = AVDISCARD_ALL;
            return;
        }
        if (s.first < 0) {
            s.first = p.pos;
            s.firstArrival = arrival;
            begun_.push_back(p.stream_index);
        }
        s.last = std::max(s.last, p.pos);
    }

    // Appends the video of the new streams that begin after the chosen video (or the one that
    // carried it on) has ended, each with the sound of its own programme where that is of the
    // chosen sound's kind. `videoEnd`: where the chosen video's last packet lies; `arrivals`:
    // when each of its packets in `result` came. The last packets of a stream come only at the
    // end of the file, after those of the stream that follows it: they are kept where a reading
    // that ends where the next stream begins gives them (the decoder reads them so), else left
    // out. Gives the stream whose sound is read last; `sample` takes what its packets read tell.
    // Throws EngineError where the file cannot be read.
    int Follow(int64_t videoEnd, const std::vector<unsigned>& arrivals, ScanResult& result,
               SoundSample& sample) const {
        std::vector<std::pair<int64_t, int>> starts;
        for (const auto& [index, s] : streams_)
            if (!s.beside && !s.video.empty() && s.first >= 0) starts.emplace_back(s.first, index);
        std::sort(starts.begin(), starts.end());
        std::vector<int> chain;
        std::vector<int64_t> before;  // where the video before each of the chain ends
        for (const auto& [first, index] : starts) {
            if (first <= videoEnd) continue;  // beside the video, not after it
            chain.push_back(index);
            before.push_back(videoEnd);
            videoEnd = streams_.at(index).last;
        }
        if (!chain.empty())
            result.video.resize(Kept(result.video, arrivals, input_->streams[video_]->id, streams_.at(chain.front())));
        int soundLast = audio_;
        for (size_t k = 0; k < chain.size(); ++k) {
            const int index = chain[k];
            const Stream& s = streams_.at(index);
            const size_t kept = k + 1 < chain.size() ? Kept(s.video, s.arrivals, input_->streams[index]->id,
                                                            streams_.at(chain[k + 1]))
                                                     : s.video.size();
            result.video.insert(result.video.end(), s.video.begin(), s.video.begin() + static_cast<ptrdiff_t>(kept));
            result.videoBytes += s.bytes;
            result.videoFollowers.push_back(index);
            const int sound = SoundBeside(index, before[k], k + 1 < chain.size() ? streams_.at(chain[k + 1]).first
                                                                                  : INT64_MAX);
            if (sound >= 0) {
                const Stream& a = streams_.at(sound);
                result.audio.insert(result.audio.end(), a.sound.audio.begin(), a.sound.audio.end());
                result.audioBytes += a.sound.audioBytes;
                result.audioFollowers.push_back(sound);
                soundLast = sound;
                sample.passedOver = sample.passedOver || a.sample.passedOver;
                sample.headEnd = std::max(sample.headEnd, a.sample.headEnd);
                sample.bytes += a.sample.bytes;
                sample.duration += a.sample.duration;
            }
        }
        return soundLast;
    }

private:
    struct Stream {
        std::vector<PacketEntry> video;
        std::vector<unsigned> arrivals;  // when each of `video` came
        unsigned firstArrival = 0;
        ScanResult sound;  // its audio and audioBytes
        SoundSample sample;
        int64_t bytes = 0;
        int64_t first = -1, last = -1;
        bool beside = false;  // it began while the chosen video went on
    };

    // How many of `video` (of the stream `id`, their arrivals in `arrivals`) are kept before
    // `next` takes over.
    size_t Kept(const std::vector<PacketEntry>& video, const std::vector<unsigned>& arrivals, int id,
                const Stream& next) const {
        size_t onTime = std::min(video.size(), arrivals.size());
        while (onTime > 0 && arrivals[onTime - 1] > next.firstArrival) --onTime;
        if (onTime == video.size()) return onTime;
        int64_t from = next.first;
        for (size_t i = onTime; i < video.size(); ++i)
            if (video[i].pos >= 0) from = std::min(from, video[i].pos);
        // A file that cannot be read there fails the opening, as a failing read of the scan does:
        // the pictures are not left out for it.
        const std::vector<ff::PacketPtr> read =
            TransportPacketsBefore(input_->url ? input_->url : "", from, next.first, AVMEDIA_TYPE_VIDEO, id);
        for (size_t i = onTime; i < video.size(); ++i) {
            const auto same = [&](const ff::PacketPtr& p) { return p->pos == video[i].pos && video[i].pos >= 0; };
            if (std::none_of(read.begin(), read.end(), same)) return onTime;
        }
        return video.size();
    }

    // Of the chosen stream's kind, whatever its codec, with a decoder for it.
    bool Like(const AVStream* stream, int chosen) const {
        if (chosen < 0) return false;
        const AVStream* c = input_->streams[chosen];
        return stream->codecpar->codec_type == c->codecpar->codec_type &&
               !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC) && avcodec_find_decoder(stream->codecpar->codec_id) &&
               av_cmp_q(stream->time_base, c->time_base) == 0;
    }

    // The new sound stream that goes with the new video `videoIndex`: the first that begins
    // after the video before it ended (`after`) and before the next video begins (`until`),
    // one of the video's own programme where the demuxer still tells it. -1 when there is none.
    int SoundBeside(int videoIndex, int64_t after, int64_t until) const {
        const AVProgram* program = av_find_program_from_stream(input_, nullptr, videoIndex);
        const auto inProgram = [&](int index) {
            if (!program) return false;
            const unsigned* begin = program->stream_index;
            const unsigned* end = begin + program->nb_stream_indexes;
            return std::find(begin, end, static_cast<unsigned>(index)) != end;
        };
        int chosen = -1;
        int64_t chosenFirst = INT64_MAX;
        bool chosenInProgram = false;
        for (const auto& [index, s] : streams_) {
            if (s.beside || s.sound.audio.empty() || s.first <= after || s.first >= until) continue;
            const bool own = inProgram(index);
            if (chosen < 0 || (own && !chosenInProgram) || (own == chosenInProgram && s.first < chosenFirst)) {
                chosen = index;
                chosenFirst = s.first;
                chosenInProgram = own;
            }
        }
        return chosen;
    }

    AVFormatContext* input_;
    int video_, audio_;
    bool on_;
    std::map<int, Stream> streams_;
    std::vector<int> begun_;  // streams begun that may still follow
};

// A stream without a container, or one muxed without times, tells no times at all: each packet
// takes the next slot of the stream's frame rate as its decode time, as in an AVI. Returns
// whether it did.
bool TakeDecodeSlots(std::vector<PacketEntry>& video, const AVStream* stream) {
    if (!stream || video.empty()) return false;
    for (const PacketEntry& e : video)
        if (e.dts != PacketEntry::kNoTime || e.pts != PacketEntry::kNoTime) return false;
    const AVRational rate = StatedFrameRate(stream);
    const int64_t period = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), stream->time_base));
    for (size_t i = 0; i < video.size(); ++i) video[i].dts = static_cast<int64_t>(i) * period;
    return true;
}

}  // namespace

ScanResult Scan(AVFormatContext* input, int videoIndex, int audioIndex, const OpenProgress& progress,
                bool everySoundPacket, const VideoPacketTap& tap) {
    // Often enough for a bar that moves and a cancel that is felt at once, rarely enough to cost
    // nothing beside reading the packets.
    constexpr unsigned kPacketsPerReport = 64;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const int n = static_cast<int>(i);
        input->streams[i]->discard = n == videoIndex || n == audioIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    // Of the sound only its first and its end are needed. In program and transport streams the
    // sound's packets outnumber the pictures and cost as much to read as the rest: only the
    // first ones are read here, the last ones from the end of the file afterwards, and the
    // demuxer passes over the others without making packets of them.
    const bool soundAtTheEnds = !everySoundPacket && videoIndex >= 0 && audioIndex >= 0 && input->pb &&
                                (input->pb->seekable & AVIO_SEEKABLE_NORMAL) &&
                                av_match_list(input->iformat->name, "mpeg,mpegts", ',');
    ScanResult result;
    SoundSample sample;
    ff::PacketPtr packet = ff::MakePacket();
    if (!packet) throw EngineError("Out of memory while reading the file.");
    AVPacket* p = packet.get();
    bool tapping = static_cast<bool>(tap);
    const AVStream* video = videoIndex >= 0 ? input->streams[videoIndex] : nullptr;
    const AVCodecID videoCodec = video ? video->codecpar->codec_id : AV_CODEC_ID_NONE;
    const bool avi = std::strcmp(input->iformat->name, "avi") == 0;
    const bool bare = av_match_list(input->iformat->name, "h264,hevc", ',') != 0;
    // MPEG-4 pictures in AVI chunks may be packed two to a chunk: what each chunk holds is noted.
    const bool mayBePacked = videoCodec == AV_CODEC_ID_MPEG4 && avi;
    std::vector<ChunkVops> vops;
    // H.264 or HEVC with reordered pictures in AVI, or with no container at all, and MPEG
    // pictures muxed without times: the order they are shown in is read from them.
    std::optional<PictureOrder> order;
    if ((videoCodec == AV_CODEC_ID_H264 || videoCodec == AV_CODEC_ID_HEVC) && video->codecpar->video_delay > 0 &&
        (bare || avi))
        order.emplace(video->codecpar);
    bool untimedMpeg = false;
    ProgrammeChanges changes(input, videoIndex, audioIndex);
    int64_t videoEnd = -1;           // where the chosen video's last packet lies
    std::vector<unsigned> arrivals;  // when each of its packets came
    Report(progress, input);
    for (unsigned count = 1; av_read_frame(input, p) >= 0; ++count) {
        if (count % kPacketsPerReport == 0) Report(progress, input);
        if (p->stream_index == videoIndex && p->size > 0) {
            result.video.push_back(EntryOf(*p));
            changes.ChosenVideoAt(p->pos);
            result.videoBytes += p->size;
            videoEnd = std::max(videoEnd, p->pos);
            arrivals.push_back(count);
            if (mayBePacked) vops.push_back(ReadChunkVops(p->data, p->size));
            if (result.video.size() == 1 && (videoCodec == AV_CODEC_ID_MPEG1VIDEO || videoCodec == AV_CODEC_ID_MPEG2VIDEO) &&
                p->pts == AV_NOPTS_VALUE && p->dts == AV_NOPTS_VALUE) {
                order.emplace(video->codecpar);
                untimedMpeg = true;
            }
            if (order) order->Read(*p);
            if (tapping) tapping = tap(*p, static_cast<int64_t>(result.video.size()) - 1);
        } else if (p->stream_index == audioIndex && p->size > 0) {
            TakeSoundPacket(*p, result, sample);
            if (soundAtTheEnds && result.audio.size() >= kFirstSoundPackets) {
                input->streams[audioIndex]->discard = AVDISCARD_ALL;
                sample.passedOver = true;
            }
        } else {
            changes.Take(*p, count);
        }
        av_packet_unref(p);
    }
    // The end of what can be read is where an interrupted file ends; a failing disk is not.
    ThrowOnReadError(input);
    const int soundLast = changes.Follow(videoEnd, arrivals, result, sample);
    if (sample.passedOver) ReadLastSoundPackets(input, soundLast, result, sample);
    if (mayBePacked) result.unpackedBFrames = UnpackBFrames(result.video, vops);
    const bool slotsTaken = (bare || untimedMpeg) && TakeDecodeSlots(result.video, video);
    if (order && (avi || slotsTaken)) order->Apply(result.video);
    Report(progress, input);
    return result;
}

void PlaceSoundSpan(ScanResult& scan, const AVStream* audio, const AVStream* video, const FrameIndex* index) {
    const bool mapped = video && index && index->Segments().size() > 1;
    int64_t expected = AV_NOPTS_VALUE;
    for (const SoundPacket& packet : scan.audio) {
        int64_t t = packet.time;
        if (mapped) {
            const int64_t inVideo = av_rescale_q(t, audio->time_base, video->time_base);
            const int64_t line = index->ToTimeLine(inVideo, packet.pos, expected);
            expected = line;
            t = av_rescale_q(line, video->time_base, audio->time_base);
        }
        if (scan.audioFirst == AV_NOPTS_VALUE || t < scan.audioFirst) scan.audioFirst = t;
        const int64_t end = t + packet.duration;
        if (scan.audioEnd == AV_NOPTS_VALUE || end > scan.audioEnd) scan.audioEnd = end;
    }
}

AVRational StatedFrameRate(const AVStream* stream) {
    for (AVRational r : {stream->avg_frame_rate, stream->r_frame_rate})
        if (r.num > 0 && r.den > 0 && av_q2d(r) >= 0.1 && av_q2d(r) <= 1000) return r;
    return AVRational{25, 1};
}

AVRational ChooseFrameRate(const AVStream* stream, const FrameIndex& index) {
    double measured = 0;
    if (index.FrameCount() >= 2) {
        const double span = index.StartSeconds(index.FrameCount());
        if (span > 0) measured = static_cast<double>(index.FrameCount() - 1) / span;
    }
    if (measured > 1000) measured = 0;
    const auto agrees = [&](AVRational r) {
        if (r.num <= 0 || r.den <= 0) return false;
        return measured <= 0 || std::abs(av_q2d(r) - measured) <= 0.05 * measured;
    };
    if (agrees(stream->avg_frame_rate)) return stream->avg_frame_rate;
    if (agrees(stream->r_frame_rate)) return stream->r_frame_rate;
    if (measured > 0) return av_d2q(measured, 1000000);
    return AVRational{25, 1};
}

}  // namespace trimora

#include "engine/ffmpeg/reader/VideoDecoder.h"

extern "C" {
#include <libavutil/cpu.h>
}

#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "engine/ffmpeg/reader/StartCodes.h"

namespace trimora {

namespace {

// A picture that costs more than this to decode on one thread (on this machine, measured while
// reading) makes the decoding, not the encoding, what a cut waits for: from the next start
// on, the decoder's frame threads share it among the cores. Below it one thread is better: frame
// threads cost about a third more processor time per picture (waking, handing over and copying
// state between threads) and delay the first picture after a seek.
constexpr double kThreadsAboveSeconds = 0.004;
// The first picture of a new decoder costs several times what the next ones do (its tables are
// set up, its memory first touched): alone it decides only when it is far beyond the limit.
constexpr double kFirstPictureFactor = 5;

// Frame threads for a machine of `cores` cores: two more than the cores. FFmpeg's own choice is
// one more (one thread waits for its packet while the others decode); the second keeps the
// cores busy while a picture waits for rows of the one it refers to. In a cut on two cores,
// where the encoder runs beside the decoder, it left the machine idle 1 % of the time
// instead of 3 % and finished 1.5-2 % sooner, for one more picture in memory; a third
// gained nothing more. FFmpeg's own ceiling on threads it chooses is kept.
int ThreadsForCores(int cores) { return std::clamp(cores + 2, 1, 16); }

// A decoder that reports this many failures in a row without taking a packet is given the next.
constexpr int kFailuresInARow = 64;

// Demuxers that find positions by reading timestamps from the stream itself, or that have no
// timestamps to find them by (bare video streams): there the byte position of a keyframe is the
// exact and cheap way back to it.
bool SeeksByByte(const AVInputFormat* format) {
    for (const char* name : {"mpeg", "mpegts", "mpegtsraw", "mpegvideo", "h264", "hevc"})
        if (std::strcmp(format->name, name) == 0) return true;
    return false;
}

// The picture size an MPEG-1/2 packet's sequence header announces (width << 12 | height), 0
// when it holds none.
uint32_t SequenceSize(const AVPacket& p) {
    for (int pos = 0;;) {
        const uint32_t code = NextStartCode(p.data, p.size, pos);
        if (code == 0x1B3) {
            if (pos + 3 > p.size) return 0;
            const uint8_t* b = p.data + pos;
            return static_cast<uint32_t>(b[0]) << 16 | static_cast<uint32_t>(b[1]) << 8 | b[2];
        }
        // Headers come before the first slice: past it there is none.
        if (code == 0 || (code >= 0x101 && code <= 0x1AF)) return 0;
    }
}

}  // namespace

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void VideoDecoder::Open(ff::InputContextPtr input, int streamIndex, const FrameIndex* index) {
    input_ = std::move(input);
    stream_ = input_->streams[streamIndex];
    chain_.Set(streamIndex, {});
    index_ = index;
    byteSeek_ = SeeksByByte(input_->iformat);
    for (unsigned i = 0; i < input_->nb_streams; ++i)
        input_->streams[i]->discard = static_cast<int>(i) == streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;

    if (index->UnpackedBFrames()) unpacker_.Open(stream_->codecpar, stream_->time_base);
    threaded_ = false;
    OpenCodec();
    packet_ = ff::MakePacket();
    frame_ = ff::MakeFrame();
    if (!packet_ || !frame_) throw EngineError("Out of memory while opening the video decoder.");
}

void VideoDecoder::SetFollowers(std::vector<int> streamIds) {
    chain_.Set(stream_->index, std::move(streamIds));
    for (unsigned i = 0; i < input_->nb_streams; ++i)
        if (chain_.Follows(*input_->streams[i], *stream_)) input_->streams[i]->discard = AVDISCARD_DEFAULT;
}

void VideoDecoder::OpenCodec() {
    const AVStream* stream = decoding_ ? decoding_ : stream_;
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!decoder) throw EngineError("There is no decoder for the video format of this file.");
    codec_.reset(avcodec_alloc_context3(decoder));
    if (!codec_) throw EngineError("Out of memory while opening the video decoder.");
    const AVCodecParameters* parameters = unpacker_.IsOpen() ? unpacker_.Parameters() : stream->codecpar;
    ff::Check(avcodec_parameters_to_context(codec_.get(), parameters), "Cannot set up the video decoder");
    codec_->pkt_timebase = stream_->time_base;
    codec_->thread_count = threaded_ ? ThreadsForCores(av_cpu_count()) : 1;
    codec_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    ff::Check(avcodec_open2(codec_.get(), decoder, nullptr), "Cannot open the video decoder");
    openedAt_ = picturesDecoded_;
}

bool VideoDecoder::WantsThreads() const {
    // TRIMORA_DECODER_THREADS=one or =many takes the choice out of the measuring's hands (for
    // comparing the two).
    static const char* const forced = std::getenv("TRIMORA_DECODER_THREADS");
    if (forced && std::strcmp(forced, "one") == 0) return false;
    if (forced && std::strcmp(forced, "many") == 0) return !threaded_;
    // The first pictures measured are enough: the decision is taken again at every start, and a
    // keyframe, which costs the most, is always among them.
    if (threaded_) return false;
    if (measuredPictures_ > 0) return measuredSeconds_ / static_cast<double>(measuredPictures_) > kThreadsAboveSeconds;
    return firstPictureSeconds_ > kFirstPictureFactor * kThreadsAboveSeconds;
}

void VideoDecoder::Close() {
    const int64_t decoded = picturesDecoded_;
    *this = VideoDecoder();
    picturesDecoded_ = decoded;
}

int32_t VideoDecoder::ExpectedNext() const {
    if (putBack_) return lastOutput_;
    if (atEnd_) return std::numeric_limits<int32_t>::max();
    return lastOutput_ + 1;
}

bool VideoDecoder::TrySeek(int attempt, int64_t decodeIndex) {
    const PacketEntry& target = index_->Packet(decodeIndex);
    const PacketEntry& first = index_->Packet(0);
    AVFormatContext* in = input_.get();
    const int s = stream_->index;
    // The presentation time where there is one: demuxers that index decode times shifted by the
    // reordering delay land a whole group early when asked for a keyframe's decode time.
    const int64_t targetTime = target.pts != PacketEntry::kNoTime ? target.pts : target.dts;
    const int64_t firstTime = first.dts != PacketEntry::kNoTime ? first.dts : first.pts;
    const int64_t second = av_rescale_q(1, AVRational{1, 1}, stream_->time_base);
    if (decodeIndex > 0 && attempt < kAttemptsByTime) {
        if (attempt == 0 && byteSeek_ && target.pos >= 0) return av_seek_frame(in, -1, target.pos, AVSEEK_FLAG_BYTE) >= 0;
        if (targetTime == PacketEntry::kNoTime) return false;
        // Later attempts step further back: some demuxers land just after the keyframe asked for.
        const int64_t back = attempt == 0 ? 0 : second * (attempt == 1 ? 1 : 10);
        return av_seek_frame(in, s, targetTime - back, AVSEEK_FLAG_BACKWARD) >= 0;
    }
    // From the very beginning: always right, only slower. Each way is checked by the reading that
    // follows, as the ways by time are: a demuxer whose own index does not go with its packets'
    // times lands elsewhere when asked for a time (GStreamer's ASF muxer stamps the pictures 1000
    // hours after the sound, and the file's index counts from zero), where the start of the
    // stream, asked for as the time zero, is found.
    const bool timed = firstTime != PacketEntry::kNoTime;
    switch (decodeIndex > 0 ? attempt - kAttemptsByTime : attempt) {
        case 0: return (byteSeek_ || !timed) && av_seek_frame(in, -1, 0, AVSEEK_FLAG_BYTE) >= 0;
        case 1: return timed && av_seek_frame(in, s, firstTime - 10 * second, AVSEEK_FLAG_BACKWARD) >= 0;
        case 2: return timed && av_seek_frame(in, s, firstTime, AVSEEK_FLAG_BACKWARD) >= 0;
        case 3: return avformat_seek_file(in, -1, INT64_MIN, INT64_MIN, 0, 0) >= 0;
        default: return false;
    }
}

void VideoDecoder::StartAt(int64_t decodeIndex) {
    if (WantsThreads()) {
        threaded_ = true;
        OpenCodec();
    } else {
        avcodec_flush_buffers(codec_.get());
    }
    startPacket_ = decodeIndex;
    started_ = false;
    packetWaiting_ = false;
    flushed_ = false;
    drainingForNewSize_ = false;
    codecChange_ = false;
    sequenceSize_ = 0;
    atEnd_ = false;
    putBack_ = false;
    skipUpTo_ = 0;
    if (unpacker_.IsOpen()) unpacker_.Restart();
    if (index_->PacketCount() == 0) {
        atEnd_ = true;
        started_ = true;
        return;
    }
    AVPacket* p = packet_.get();
    for (int attempt = 0; attempt < kAttemptsByTime + kAttemptsFromStart; ++attempt) {
        if (!TrySeek(attempt, decodeIndex)) continue;
        // Each way starts afresh: a way that ended in a later stream of the chain must not make
        // the next one pass over the earlier stream's packets.
        chain_.Restart();
        queued_.clear();
        nextPacket_ = -1;
        bool overshot = false;
        while (!overshot && ReadIndexedPacket(p)) {
            const int64_t current = nextPacket_++;
            if (current == decodeIndex) {
                p->pts = current;
                // A keyframe: the unpacking, holding nothing yet, gives its picture.
                packetWaiting_ = !unpacker_.IsOpen() || unpacker_.Filter(p);
                started_ = true;
                lastOutput_ = index_->FrameOfPacket(decodeIndex) - 1;
                if (lastOutput_ < 0) lastOutput_ = 0;
                return;
            }
            av_packet_unref(p);
            overshot = current > decodeIndex;
        }
    }
    throw EngineError("The video cannot be positioned: the file seems damaged.");
}

bool VideoDecoder::ReadPacket() {
    if (packetWaiting_) {
        packetWaiting_ = false;
        return true;
    }
    AVPacket* p = packet_.get();
    do {
        if (!ReadIndexedPacket(p)) return false;
        p->pts = nextPacket_++;
    } while (unpacker_.IsOpen() && !unpacker_.Filter(p));  // a chunk that gives no packet
    return true;
}

bool VideoDecoder::ReadIndexedPacket(AVPacket* p) {
    // After a byte seek the demuxer lands anywhere: the first packet the index recognises tells
    // which packet of the index comes next; until then packets are passed over. A packet still
    // held (one left waiting by a positioning that was started again) is let go first: the
    // demuxer writes over it.
    av_packet_unref(p);
    if (TakeQueued(p)) return true;
    while (av_read_frame(input_.get(), p) >= 0) {
        if (!chain_.Takes(input_.get(), *p) || p->size <= 0) {
            av_packet_unref(p);
            continue;
        }
        int from = -1;
        if (nextPacket_ >= 0 && chain_.Moved(&from) && TakeLateTail(*p, from)) return TakeQueued(p);
        if (nextPacket_ < 0) {
            const auto known = index_->Recognise(p->pos, p->dts, p->pts, (p->flags & AV_PKT_FLAG_KEY) != 0);
            if (!known) {
                av_packet_unref(p);
                continue;
            }
            nextPacket_ = *known;
        }
        return true;
    }
    return false;
}

bool VideoDecoder::TakeLateTail(AVPacket& first, int id) {
    std::vector<int64_t> due;
    for (int64_t k = nextPacket_; k < index_->PacketCount(); ++k) {
        const int64_t pos = index_->Packet(k).pos;
        if (pos < 0 || first.pos < 0 || pos >= first.pos) break;
        due.push_back(pos);
    }
    if (due.empty()) return false;
    std::vector<ff::PacketPtr> read = TransportPacketsBefore(input_->url ? input_->url : "",
                                                             *std::min_element(due.begin(), due.end()), first.pos,
                                                             stream_->codecpar->codec_type, id);
    for (const int64_t pos : due) {
        const auto found = std::find_if(read.begin(), read.end(), [pos](const ff::PacketPtr& p) { return p && p->pos == pos; });
        if (found == read.end())
            throw EngineError("The video cannot be read where its programme changes: the file seems damaged.");
        queued_.push_back(std::move(*found));
    }
    ff::PacketPtr held = ff::MakePacket();
    if (!held) throw EngineError("Out of memory while reading the video.");
    av_packet_move_ref(held.get(), &first);
    queued_.push_back(std::move(held));
    return true;
}

bool VideoDecoder::TakeQueued(AVPacket* p) {
    if (queued_.empty()) return false;
    av_packet_move_ref(p, queued_.front().get());
    queued_.pop_front();
    return true;
}

AVFrame* VideoDecoder::Next(int32_t& frameNumber) {
    if (!started_) return nullptr;
    if (putBack_) {
        putBack_ = false;
        frameNumber = lastOutput_;
        return frame_.get();
    }
    if (threaded_) return Decode(frameNumber);
    const double before = ThreadCpuSeconds();
    const int64_t decodedBefore = picturesDecoded_;
    AVFrame* picture = Decode(frameNumber);
    const double seconds = ThreadCpuSeconds() - before;
    if (decodedBefore > openedAt_) {
        measuredSeconds_ += seconds;
        measuredPictures_ += picturesDecoded_ - decodedBefore;
    } else if (picturesDecoded_ > decodedBefore) {
        firstPictureSeconds_ = seconds;
    }
    return picture;
}

bool VideoDecoder::NewPictureSize(const AVPacket& p) {
    const AVCodecID id = codec_->codec_id;
    if (id != AV_CODEC_ID_MPEG1VIDEO && id != AV_CODEC_ID_MPEG2VIDEO) return false;
    const uint32_t size = SequenceSize(p);
    if (size == 0) return false;
    const bool changed = sequenceSize_ != 0 && size != sequenceSize_;
    sequenceSize_ = size;
    return changed;
}

AVFrame* VideoDecoder::Decode(int32_t& frameNumber) {
    av_frame_unref(frame_.get());
    for (int failures = 0;;) {
        const int received = avcodec_receive_frame(codec_.get(), frame_.get());
        if (received >= 0) {
            ++picturesDecoded_;
            lastPacket_ = frame_->pts != AV_NOPTS_VALUE ? frame_->pts : -1;
            int32_t number = index_->FrameOfPacket(lastPacket_);
            if (number == 0 && lastPacket_ >= 0 && lastPacket_ < index_->PacketCount()) {
                // A picture the index does not count (one the stream starts with, shown before
                // its first keyframe): not shown.
                av_frame_unref(frame_.get());
                continue;
            }
            if (number == 0) number = lastOutput_ + 1;
            lastOutput_ = number;
            frameNumber = number;
            return frame_.get();
        }
        if (drainingForNewSize_) {
            // A picture of the old size that cannot be decoded is passed over as any other.
            if (received == AVERROR(ENOMEM)) ff::Check(received, "The video cannot be decoded");
            if (received != AVERROR_EOF && received != AVERROR(EAGAIN) && ++failures < kFailuresInARow) continue;
            // All of the old size (or codec) is out: the decoder starts again with the waiting
            // packet, opened anew where the stream it comes from is of another codec.
            if (codecChange_) {
                codecChange_ = false;
                OpenCodec();
            } else {
                avcodec_flush_buffers(codec_.get());
            }
            drainingForNewSize_ = false;
            flushed_ = false;
            failures = 0;
            continue;
        }
        if (received == AVERROR_EOF || flushed_) {
            atEnd_ = true;
            return nullptr;
        }
        if (received != AVERROR(EAGAIN)) {
            // A picture that cannot be decoded is passed over whichever call reports it; the
            // reader fills its place. Only running out of memory ends the decoding. Pictures
            // still inside the decoder (its threads) come out first.
            if (received == AVERROR(ENOMEM)) ff::Check(received, "The video cannot be decoded");
            if (++failures < kFailuresInARow) continue;
        }
        failures = 0;
        if (!ReadPacket()) {
            avcodec_send_packet(codec_.get(), nullptr);
            flushed_ = true;
            continue;
        }
        AVPacket* p = packet_.get();
        // A programme change may carry the video on in another codec (SD in MPEG-2 followed by
        // HD in H.264): the pictures of the one are let out, then a decoder for the other opens.
        const AVStream* from = input_->streams[p->stream_index];
        if (from->codecpar->codec_id != codec_->codec_id && !unpacker_.IsOpen()) {
            decoding_ = from;
            codecChange_ = true;
            packetWaiting_ = true;
            avcodec_send_packet(codec_.get(), nullptr);
            flushed_ = true;
            drainingForNewSize_ = true;
            continue;
        }
        if (NewPictureSize(*p)) {
            // The MPEG-1/2 decoder lets go of the picture it still holds (the last of the old
            // size) when the size changes, as where two recordings were joined: it is drained
            // first, and the packet waits.
            packetWaiting_ = true;
            avcodec_send_packet(codec_.get(), nullptr);
            flushed_ = true;
            drainingForNewSize_ = true;
            continue;
        }
        const int32_t shows = index_->FrameOfPacket(p->pts);
        codec_->skip_frame = shows > 0 && shows <= skipUpTo_ ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
        // A damaged packet is skipped; the decoder conceals what it can from the next ones.
        const int sent = avcodec_send_packet(codec_.get(), p);
        if (sent == AVERROR(EAGAIN)) {
            // The decoder gives out what it holds first; the packet waits.
            packetWaiting_ = true;
            continue;
        }
        av_packet_unref(p);
        if (sent == AVERROR(ENOMEM)) throw EngineError("Out of memory while decoding the video.");
    }
}

}  // namespace trimora

#include "engine/ffmpeg/reader/AudioDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

extern "C" {
#include <libavutil/opt.h>
}

namespace trimora {

namespace {

bool SeeksByByte(const AVInputFormat* format) {
    for (const char* name : {"mpeg", "mpegts", "mpegtsraw"})
        if (std::strcmp(format->name, name) == 0) return true;
    return false;
}

AVChannelLayout UsableLayout(const AVChannelLayout& layout) {
    AVChannelLayout result{};
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_check(&layout) == 0)
        av_channel_layout_default(&result, layout.nb_channels);
    else
        av_channel_layout_copy(&result, &layout);
    return result;
}

}  // namespace

void AudioDecoder::Open(std::future<Input> input, const AVStream* stream, int64_t zeroTime, int64_t firstTime,
                        int64_t endTime, Reopen reopen, std::string name, int rate, const AVChannelLayout& layout) {
    reopen_ = std::move(reopen);
    name_ = std::move(name);
    OpenDecoder(stream);
    packet_ = ff::MakePacket();
    frame_ = ff::MakeFrame();
    if (!packet_ || !frame_) throw EngineError("Out of memory while opening the sound decoder.");

    rate_ = rate;
    channels_ = layout.nb_channels;
    if (rate_ <= 0 || channels_ <= 0) throw EngineError("The sound of this file has no usable format.");
    outLayout_ = UsableLayout(layout);
    timeBase_ = stream->time_base;
    zeroTime_ = zeroTime;
    coarseTimes_ = static_cast<int64_t>(timeBase_.num) * rate_ > timeBase_.den;
    firstSample_ = av_rescale_q(firstTime - zeroTime, timeBase_, AVRational{1, rate_});
    endSample_ = endTime == AV_NOPTS_VALUE ? -1 : av_rescale_q(endTime - zeroTime, timeBase_, AVRational{1, rate_});
    // A freshly opened demuxer stands at the start of the file.
    position_ = 0;
    queueEnd_ = 0;
    syncing_ = true;
    seekAttempt_ = kFreshAttempt;
    heardSinceSeek_ = false;
    pending_ = std::move(input);
}

void AudioDecoder::TakePending() {
    Input taken = std::exchange(pending_, {}).get();
    if (!taken.input || taken.streamIndex < 0 || taken.streamIndex >= static_cast<int>(taken.input->nb_streams))
        throw EngineError("The sound of " + name_ + " cannot be found again.");
    const AVStream* stream = taken.input->streams[taken.streamIndex];
    // The same file read again: a stream of another kind is not the sound this was opened for.
    // Its rate and channels may differ from the ones the reader gives out: a sound whose format
    // changes on the way (two recordings joined) is described by where each demuxer stopped
    // reading, and every part is converted to the reader's format anyway.
    if (av_cmp_q(stream->time_base, timeBase_) != 0 || stream->codecpar->codec_id != codec_->codec_id)
        throw EngineError("The sound of " + name_ + " cannot be found again.");
    streamIndex_ = taken.streamIndex;
    TakeInput(std::move(taken.input));
}

void AudioDecoder::TakeInput(ff::InputContextPtr input) {
    input_ = std::move(input);
    stream_ = input_->streams[streamIndex_];
    byteSeek_ = SeeksByByte(input_->iformat);
    chain_.Set(streamIndex_, followers_);
    for (unsigned i = 0; i < input_->nb_streams; ++i) {
        const bool taken = static_cast<int>(i) == streamIndex_ || chain_.Follows(*input_->streams[i], *stream_);
        input_->streams[i]->discard = taken ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
}

void AudioDecoder::OpenDecoder(const AVStream* stream) {
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!decoder) throw EngineError("There is no decoder for the sound format of this file.");
    ff::CodecContextPtr codec(avcodec_alloc_context3(decoder));
    if (!codec) throw EngineError("Out of memory while opening the sound decoder.");
    ff::Check(avcodec_parameters_to_context(codec.get(), stream->codecpar), "Cannot set up the sound decoder");
    codec->pkt_timebase = stream->time_base;
    ff::Check(avcodec_open2(codec.get(), decoder, nullptr), "Cannot open the sound decoder");
    codec_ = std::move(codec);
}

void AudioDecoder::Close() {
    av_channel_layout_uninit(&outLayout_);
    av_channel_layout_uninit(&resamplerInLayout_);
    *this = AudioDecoder();
}

void AudioDecoder::SeekTo(int64_t sample) {
    position_ = sample;
    needSeek_ = true;
    seekAttempt_ = 0;
}

void AudioDecoder::Reposition(int attempt) {
    // A new decoder rather than a flushed one: some keep state across a flush, and the sound
    // after a seek must be what reading from the same packet after opening gives.
    OpenDecoder(stream_);
    queue_.clear();
    queueRead_ = 0;
    queueEnd_ = position_;
    flushed_ = false;
    ended_ = false;
    lost_ = false;
    realigning_ = false;
    frameEnd_ = INT64_MIN;
    partEnd_ = INT64_MAX;
    syncing_ = true;
    lineShift_ = AV_NOPTS_VALUE;
    seekAttempt_ = attempt;
    heardSinceSeek_ = false;
    passBefore_ = AV_NOPTS_VALUE;
    chain_.Restart();
    needSeek_ = false;
    if (attempt >= kFreshAttempt) {
        // The demuxer was placed after the target even when sent to the start: a fresh one
        // stands at the start of the file. Its packets up to a second before the target are
        // passed over undecoded (a stamp names one place only where the clock never restarts).
        TakeFreshInput();
        if (!timeLine_.toStamp && position_ - rate_ > firstSample_)
            passBefore_ = zeroTime_ + av_rescale_q(position_ - rate_, AVRational{1, rate_}, timeBase_);
        return;
    }
    // Decoders of compressed sound need a little run-in before the target to be exact.
    const int64_t runIn = static_cast<int64_t>(rate_) * (attempt == 0 ? 1 : 4 << attempt) / 4;
    const int64_t from = position_ - runIn;
    // Where the demuxer cannot be placed before the target, the sound is decoded forward from
    // the start: slower, never lost.
    if (attempt == kRewindAttempt || from <= firstSample_ || !SeekNear(from)) {
        seekAttempt_ = kRewindAttempt;
        Rewind();
    }
}

bool AudioDecoder::SeekNear(int64_t sample) {
    AVFormatContext* in = input_.get();
    const int64_t time = zeroTime_ + av_rescale_q(sample, AVRational{1, rate_}, stream_->time_base);
    // Across a restarting clock a stamp names several places: go by byte position where the
    // container allows it.
    if (timeLine_.toStamp && byteSeek_) {
        const int64_t pos = timeLine_.positionBefore(time);
        return pos >= 0 && av_seek_frame(in, -1, pos, AVSEEK_FLAG_BYTE) >= 0;
    }
    const int64_t ts = timeLine_.toStamp ? timeLine_.toStamp(time) : time;
    if (av_seek_frame(in, stream_->index, ts, AVSEEK_FLAG_BACKWARD) >= 0) return true;
    // Some muxers mark no sound packet as a place to start (GStreamer's AVI index flags none of
    // its sound chunks), and the demuxer then refuses every seek on the sound. Any sound packet
    // is such a place, given the run-in before the target.
    return av_seek_frame(in, stream_->index, ts, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) >= 0;
}

void AudioDecoder::Rewind() {
    // Well before the first packet: demuxers then take their first one, including any packet
    // that only primes the decoder.
    AVFormatContext* in = input_.get();
    const int s = stream_->index;
    const int64_t first = zeroTime_ + av_rescale_q(firstSample_, AVRational{1, rate_}, stream_->time_base);
    const int64_t early = first - av_rescale_q(10, AVRational{1, 1}, stream_->time_base);
    if (byteSeek_ && av_seek_frame(in, -1, 0, AVSEEK_FLAG_BYTE) >= 0) return;
    for (const int flags : {AVSEEK_FLAG_BACKWARD, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY})
        for (const int64_t ts : {early, first})
            if (av_seek_frame(in, s, ts, flags) >= 0) return;
    if (avformat_seek_file(in, -1, INT64_MIN, INT64_MIN, 0, 0) >= 0) return;
    // The demuxer cannot go back at all: a fresh one stands at the start of the file.
    TakeFreshInput();
}

void AudioDecoder::TakeFreshInput() {
    ff::InputContextPtr fresh = reopen_ ? reopen_() : nullptr;
    if (!fresh) throw EngineError("The sound of " + name_ + " cannot be read from its start again.");
    TakeInput(std::move(fresh));
}

bool AudioDecoder::ReadPacket() {
    AVPacket* p = packet_.get();
    int failures = 0;
    for (;;) {
        const int result = av_read_frame(input_.get(), p);
        if (result >= 0) {
            if (chain_.Takes(input_.get(), *p) && p->size > 0) {
                const int64_t stamp = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
                if (passBefore_ == AV_NOPTS_VALUE || p->stream_index != streamIndex_ || stamp == AV_NOPTS_VALUE ||
                    stamp >= passBefore_) {
                    passBefore_ = AV_NOPTS_VALUE;
                    return true;
                }
            }
            av_packet_unref(p);
            continue;
        }
        const AVIOContext* io = input_->pb;
        if (io && io->error < 0 && io->error != AVERROR_EOF)
            throw EngineError("The sound of " + name_ + " cannot be read: " + ff::ErrorText(io->error));
        if (result == AVERROR_EOF || (io && io->eof_reached)) return false;
        // Demuxers find their way past a damaged stretch on the next call; one that does not
        // get anywhere is a failure, not the end of the sound.
        constexpr int kRetries = 100;
        if (++failures > kRetries)
            throw EngineError("The sound of " + name_ + " cannot be read: " + ff::ErrorText(result));
    }
}

void AudioDecoder::CheckComplete() const {
    // The packets seen when the file was opened go on further than what could be decoded now:
    // the file lost its end while it was read, or its sound cannot be decoded.
    if (endSample_ < 0 || endSample_ - queueEnd_ <= rate_ / 4) return;
    const auto seconds = [&](int64_t sample) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", static_cast<double>(sample) / rate_);
        return std::string(text);
    };
    throw EngineError("The sound of " + name_ + " ends after " + seconds(queueEnd_) + " s, before its end at " +
                      seconds(endSample_) + " s: the file is damaged or became shorter while it was read.");
}

bool AudioDecoder::DecodeMore() {
    if (needSeek_) Reposition(0);
    // Packets in a row the decoder may refuse before the sound counts as undecodable.
    constexpr int kUndecodableRun = 50;
    while (!ended_) {
        const int received = avcodec_receive_frame(codec_.get(), frame_.get());
        if (received >= 0) {
            undecodable_ = 0;
            Append(*frame_);
            av_frame_unref(frame_.get());
            return true;
        }
        if (received == AVERROR_EOF || flushed_) {
            // The sound ended short of where the packets seen at the opening end, or nothing
            // came at all after a seek to a place before that end. A demuxer placed by a seek
            // may read no further than its index (FFmpeg's AVI demuxer in a capture cut short,
            // whose index covers only its first part), or be placed beyond the sound by an index
            // that does not go with the packets' times: a fresh one reads on from the start.
            if (seekAttempt_ < kFreshAttempt && endSample_ >= 0 &&
                ((!heardSinceSeek_ && endSample_ > position_) || endSample_ - queueEnd_ > rate_ / 4)) {
                Reposition(kFreshAttempt);
                continue;
            }
            ended_ = true;
            CheckComplete();
            break;
        }
        if (received != AVERROR(EAGAIN)) {
            // A damaged packet is skipped (the sound goes on with the next one); its time is
            // filled with silence by Append().
            lost_ = true;
            if (++undecodable_ > kUndecodableRun) ff::Check(received, "The sound of " + name_ + " cannot be decoded");
            continue;
        }
        if (!ReadPacket()) {
            avcodec_send_packet(codec_.get(), nullptr);
            flushed_ = true;
            continue;
        }
        // The first packet of the stream that carries the sound on after a programme change
        // starts a new decoding: the last one's state does not run into it, and the stream may
        // be of another codec.
        const AVStream* from = input_->streams[packet_->stream_index];
        if (chain_.Moved(nullptr) || from->codecpar->codec_id != codec_->codec_id) OpenDecoder(from);
        const int sent = avcodec_send_packet(codec_.get(), packet_.get());
        av_packet_unref(packet_.get());
        if (sent < 0 && sent != AVERROR(EAGAIN)) {
            lost_ = true;
            if (++undecodable_ > kUndecodableRun) ff::Check(sent, "The sound of " + name_ + " cannot be decoded");
        }
    }
    return false;
}

void AudioDecoder::Append(const AVFrame& frame) {
    const int64_t stamp = frame.best_effort_timestamp;
    int64_t start = queueEnd_;
    bool clockRestarted = false;  // the first samples after the file's clock restarted
    if (stamp != AV_NOPTS_VALUE) {
        int64_t line = stamp;
        if (timeLine_.toLine) {
            // Without a byte position the stamp is taken as in the segment of the frame before.
            const int64_t expected = lineShift_ != AV_NOPTS_VALUE
                                         ? stamp + lineShift_
                                         : zeroTime_ + av_rescale_q(queueEnd_, AVRational{1, rate_}, stream_->time_base);
            const TimeLine::Placed placed = timeLine_.toLine(stamp, frame.pkt_pos, expected);
            line = placed.line;
            clockRestarted = lineShift_ != AV_NOPTS_VALUE && line - stamp != lineShift_;
            lineShift_ = line - stamp;
            partEnd_ = placed.partEnd == INT64_MAX
                           ? INT64_MAX
                           : av_rescale_q(placed.partEnd - zeroTime_, stream_->time_base, AVRational{1, rate_});
        }
        start = av_rescale_q(line - zeroTime_, stream_->time_base, AVRational{1, rate_});
    } else if (frameEnd_ != INT64_MIN) {
        // A frame without a time (of a stream that appeared after the opening, whose frames
        // the demuxer does not count on from a packet's time) follows the one before where that
        // one ends by its time, not where the sound queued so far ends.
        start = frameEnd_;
    }
    if (steadyFrameSamples_ == 0) steadyFrameSamples_ = frame.nb_samples;
    else if (steadyFrameSamples_ != frame.nb_samples) steadyFrameSamples_ = -1;
    if (syncing_ && coarseTimes_ && stamp != AV_NOPTS_VALUE) {
        // Timestamps coarser than a sample (milliseconds in ASF and Matroska) are rounded; with
        // frames of one fixed length the true place is on the grid of frames from the first.
        const AVCodecID id = stream_->codecpar->codec_id;
        const bool fixedLength = id == AV_CODEC_ID_WMAV1 || id == AV_CODEC_ID_WMAV2;
        const int grid = codec_->frame_size > 0 ? codec_->frame_size : fixedLength ? steadyFrameSamples_ : 0;
        if (grid > 0 && frame.nb_samples == grid)
            start = firstSample_ + std::llround(static_cast<double>(start - firstSample_) / grid) * grid;
    }

    const bool firstHeard = !std::exchange(heardSinceSeek_, true);
    if (syncing_ && start > queueEnd_ && seekAttempt_ < kFreshAttempt) {
        // The demuxer landed after the target: go further back, in the end from the start. Sent
        // to the start, it landed after it when this first frame lies beyond the stream's first
        // one.
        if (seekAttempt_ < kRewindAttempt) {
            Reposition(seekAttempt_ + 1);
            return;
        }
        const int64_t frameSamples = av_rescale(frame.nb_samples, rate_, frame.sample_rate);
        if (firstHeard && start > std::max<int64_t>(firstSample_, 0) + frameSamples + rate_ / 10) {
            Reposition(kFreshAttempt);
            return;
        }
    }

    // Convert.
    const bool formatChanged = frame.format != resamplerInFormat_ || frame.sample_rate != resamplerInRate_ ||
                               av_channel_layout_compare(&frame.ch_layout, &resamplerInLayout_) != 0;
    if (!resampler_ || formatChanged) {
        av_channel_layout_uninit(&resamplerInLayout_);
        av_channel_layout_copy(&resamplerInLayout_, &frame.ch_layout);
        resamplerInFormat_ = frame.format;
        resamplerInRate_ = frame.sample_rate;
        AVChannelLayout inLayout = UsableLayout(frame.ch_layout);
        SwrContext* raw = nullptr;
        const int made = swr_alloc_set_opts2(&raw, &outLayout_, AV_SAMPLE_FMT_S16, rate_, &inLayout,
                                             static_cast<AVSampleFormat>(frame.format), frame.sample_rate, 0, nullptr);
        av_channel_layout_uninit(&inLayout);
        resampler_.reset(raw);
        ff::Check(made, "Cannot convert the sound");
        ff::Check(swr_init(resampler_.get()), "Cannot convert the sound");
    }
    const int room = swr_get_out_samples(resampler_.get(), frame.nb_samples);
    if (room <= 0) return;
    std::vector<int16_t> converted(static_cast<size_t>(room) * channels_);
    uint8_t* out[1] = {reinterpret_cast<uint8_t*>(converted.data())};
    int made = swr_convert(resampler_.get(), out, room, const_cast<const uint8_t**>(frame.extended_data),
                           frame.nb_samples);
    if (made <= 0) return;
    // Sound of a part of a joined file that runs on beyond the part's last picture: the next
    // part's pictures and sound go there.
    int64_t frameEnd = start + made;
    if (partEnd_ != INT64_MAX && frameEnd > partEnd_) {
        made = static_cast<int>(std::max<int64_t>(0, partEnd_ - start));
        if (made == 0) {
            frameEnd_ = frameEnd;
            return;
        }
    }

    // Place the samples on the time line. Right after a seek (or at the start) the first samples
    // go exactly where their timestamp says: silence fills a gap, what lies before the target
    // is dropped. Later, small timestamp jitter is ignored and only jumps of more than a tenth
    // of a second are filled or cut, so the sound keeps its place beside the pictures.
    // After a packet that could not be decoded the gap is real: what follows keeps its place
    // (within the rounding of coarse timestamps). Where the file's clock restarted, the sound
    // goes where its times say until some of it lies after what is queued: sound that overlaps
    // the part before by more than a frame (a part that ends with sound beyond its last picture)
    // is dropped whole, not queued late.
    if (clockRestarted) realigning_ = true;
    int64_t allowed = syncing_ || realigning_ ? 0 : lost_ ? (coarseTimes_ ? rate_ / 500 : 0) : rate_ / 10;
    // In program and transport streams each frame's time is exact (its packet's, or counted on
    // from it) and the frames of a sound codec have one length: a gap of whole frames there is
    // sound that never arrived (a broadcast recording's reception dropouts). Filled, it keeps
    // what follows beside its pictures instead of running ahead by the frames lost. The same
    // holds within their rounding for the millisecond times of Matroska, ASF and FLV (such a
    // recording remuxed, a stream's capture); there the gap is taken as the whole frames it is.
    // PCM has no frames, and its packets' times wander by a packet (DVD's among them): it plays
    // on.
    const AVCodecID id = stream_->codecpar->codec_id;
    const bool pcm = id >= AV_CODEC_ID_FIRST_AUDIO && id < AV_CODEC_ID_ADPCM_IMA_QT;
    if (allowed > 0 && (byteSeek_ || coarseTimes_) && !pcm && steadyFrameSamples_ > 0 && start != queueEnd_) {
        const double frameLength = static_cast<double>(steadyFrameSamples_) * rate_ / frame.sample_rate;
        const double frames = static_cast<double>(std::abs(start - queueEnd_)) / frameLength;
        const double tick = coarseTimes_ ? static_cast<double>(timeBase_.num) * rate_ / timeBase_.den : 0;
        // A tick near a frame's length (an AVI counting its sound in frames) tells no gap apart.
        if (frames >= 0.5 && tick * 4 < frameLength && std::abs(frames - std::round(frames)) * frameLength <= 2 + tick) {
            allowed = 0;
            if (coarseTimes_) {
                const int64_t exact = queueEnd_ + (start > queueEnd_ ? 1 : -1) * std::llround(std::round(frames) * frameLength);
                frameEnd += exact - start;
                start = exact;
            }
        }
    }
    lost_ = false;
    frameEnd_ = frameEnd;
    int64_t skip = 0;
    // Timestamps that jump by minutes are broken, not a real gap: play on. The sound then ends
    // that much earlier than its last timestamp says.
    if (start - queueEnd_ > static_cast<int64_t>(rate_) * 60) {
        if (endSample_ >= 0) endSample_ -= start - queueEnd_;
        start = queueEnd_;
    }
    if (start > queueEnd_ + allowed) {
        queue_.insert(queue_.end(), static_cast<size_t>(start - queueEnd_) * channels_, 0);
        queueEnd_ = start;
        syncing_ = false;
    } else if (start < queueEnd_ - allowed) {
        skip = std::min<int64_t>(queueEnd_ - start, made);
    }
    if (made > skip) {
        queue_.insert(queue_.end(), converted.begin() + skip * channels_,
                      converted.begin() + static_cast<ptrdiff_t>(made) * channels_);
        queueEnd_ += made - skip;
        syncing_ = false;
        realigning_ = false;
    }
}

void AudioDecoder::Drop(int64_t sampleFrames) {
    queueRead_ += static_cast<size_t>(sampleFrames) * channels_;
    if (queueRead_ >= queue_.size() / 2 && queueRead_ > 1 << 16) {
        queue_.erase(queue_.begin(), queue_.begin() + static_cast<ptrdiff_t>(queueRead_));
        queueRead_ = 0;
    }
}

void AudioDecoder::Read(int32_t sampleFrames, AudioBlock& block) {
    block.clear();
    if (pending_.valid()) TakePending();
    if (needSeek_) Reposition(0);
    if (sampleFrames > 0) {
        while (Queued() < sampleFrames && DecodeMore()) {
        }
    } else {
        while (Queued() == 0 && DecodeMore()) {
        }
    }
    const int64_t take = sampleFrames > 0 ? std::min<int64_t>(sampleFrames, Queued()) : Queued();
    if (take <= 0) return;
    const size_t values = static_cast<size_t>(take) * channels_;
    block.resize(values * sizeof(int16_t));
    std::memcpy(block.data(), queue_.data() + queueRead_, block.size());
    Drop(take);
    position_ += take;
    if (Queued() == 0) {
        queue_.clear();
        queueRead_ = 0;
    }
}

}  // namespace trimora

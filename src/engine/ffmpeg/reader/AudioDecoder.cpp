#include "engine/ffmpeg/reader/AudioDecoder.h"

#include <algorithm>
#include <cstring>

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

void AudioDecoder::Open(ff::InputContextPtr input, int streamIndex, int64_t zeroTime, int64_t firstTime) {
    input_ = std::move(input);
    stream_ = input_->streams[streamIndex];
    byteSeek_ = SeeksByByte(input_->iformat);
    for (unsigned i = 0; i < input_->nb_streams; ++i)
        input_->streams[i]->discard = static_cast<int>(i) == streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;

    OpenDecoder();
    packet_ = ff::MakePacket();
    frame_ = ff::MakeFrame();
    if (!packet_ || !frame_) throw EngineError("Out of memory while opening the sound decoder.");

    rate_ = stream_->codecpar->sample_rate;
    channels_ = stream_->codecpar->ch_layout.nb_channels;
    if (rate_ <= 0 || channels_ <= 0) throw EngineError("The sound of this file has no usable format.");
    outLayout_ = UsableLayout(stream_->codecpar->ch_layout);
    zeroTime_ = zeroTime;
    coarseTimes_ = static_cast<int64_t>(stream_->time_base.num) * rate_ > stream_->time_base.den;
    firstSample_ = av_rescale_q(firstTime - zeroTime, stream_->time_base, AVRational{1, rate_});
    // A freshly opened demuxer stands at the start of the file.
    position_ = 0;
    queueEnd_ = 0;
    syncing_ = true;
    seekedToStart_ = true;
}

void AudioDecoder::OpenDecoder() {
    const AVCodec* decoder = avcodec_find_decoder(stream_->codecpar->codec_id);
    if (!decoder) throw EngineError("There is no decoder for the sound format of this file.");
    ff::CodecContextPtr codec(avcodec_alloc_context3(decoder));
    if (!codec) throw EngineError("Out of memory while opening the sound decoder.");
    ff::Check(avcodec_parameters_to_context(codec.get(), stream_->codecpar), "Cannot set up the sound decoder");
    codec->pkt_timebase = stream_->time_base;
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
    OpenDecoder();
    queue_.clear();
    queueRead_ = 0;
    queueEnd_ = position_;
    flushed_ = false;
    ended_ = false;
    syncing_ = true;
    lineShift_ = AV_NOPTS_VALUE;
    seekAttempt_ = attempt;
    // Decoders of compressed sound need a little run-in before the target to be exact.
    const int64_t runIn = static_cast<int64_t>(rate_) * (attempt == 0 ? 1 : 4 << attempt) / 4;
    const int64_t from = position_ - runIn;
    AVFormatContext* in = input_.get();
    seekedToStart_ = from <= firstSample_;
    int result = -1;
    if (!seekedToStart_) {
        const int64_t ts = zeroTime_ + av_rescale_q(from, AVRational{1, rate_}, stream_->time_base);
        if (timeLine_.toStamp && byteSeek_) {
            const int64_t pos = timeLine_.positionBefore(ts);
            result = pos >= 0 ? av_seek_frame(in, -1, pos, AVSEEK_FLAG_BYTE) : -1;
        } else {
            result = av_seek_frame(in, stream_->index, timeLine_.toStamp ? timeLine_.toStamp(ts) : ts,
                                   AVSEEK_FLAG_BACKWARD);
        }
        if (result < 0) seekedToStart_ = true;
    }
    if (seekedToStart_) {
        // Well before the first packet: demuxers then take their first one, including any
        // packet that only primes the decoder.
        const int64_t first = zeroTime_ + av_rescale_q(firstSample_, AVRational{1, rate_}, stream_->time_base);
        const int64_t early = first - av_rescale_q(10, AVRational{1, 1}, stream_->time_base);
        result = byteSeek_ ? av_seek_frame(in, -1, 0, AVSEEK_FLAG_BYTE) : -1;
        if (result < 0) result = av_seek_frame(in, stream_->index, early, AVSEEK_FLAG_BACKWARD);
        if (result < 0) result = av_seek_frame(in, stream_->index, first, AVSEEK_FLAG_BACKWARD);
        if (result < 0) result = avformat_seek_file(in, -1, INT64_MIN, INT64_MIN, 0, 0);
    }
    if (result < 0) ended_ = true;  // nothing more can be reached: the sound ends here
    needSeek_ = false;
}

bool AudioDecoder::DecodeMore() {
    if (needSeek_) Reposition(0);
    while (!ended_) {
        const int received = avcodec_receive_frame(codec_.get(), frame_.get());
        if (received >= 0) {
            Append(*frame_);
            av_frame_unref(frame_.get());
            return true;
        }
        if (received == AVERROR_EOF || flushed_) {
            ended_ = true;
            break;
        }
        if (received != AVERROR(EAGAIN)) ff::Check(received, "The sound cannot be decoded");
        AVPacket* p = packet_.get();
        bool got = false;
        while (av_read_frame(input_.get(), p) >= 0) {
            if (p->stream_index == stream_->index && p->size > 0) {
                got = true;
                break;
            }
            av_packet_unref(p);
        }
        if (!got) {
            avcodec_send_packet(codec_.get(), nullptr);
            flushed_ = true;
            continue;
        }
        // A damaged packet is skipped; its time is filled with silence by Append().
        avcodec_send_packet(codec_.get(), p);
        av_packet_unref(p);
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
            line = timeLine_.toLine(stamp, frame.pkt_pos, expected);
            clockRestarted = lineShift_ != AV_NOPTS_VALUE && line - stamp != lineShift_;
            lineShift_ = line - stamp;
        }
        start = av_rescale_q(line - zeroTime_, stream_->time_base, AVRational{1, rate_});
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

    if (syncing_ && start > queueEnd_ && !seekedToStart_ && seekAttempt_ < 3) {
        // The demuxer landed after the target: go further back.
        Reposition(seekAttempt_ + 1);
        return;
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
    const int made = swr_convert(resampler_.get(), out, room, const_cast<const uint8_t**>(frame.extended_data),
                                 frame.nb_samples);
    if (made <= 0) return;

    // Place the samples on the time line. Right after a seek (or at the start) the first samples
    // go exactly where their timestamp says: silence fills a gap, what lies before the target
    // is dropped. Later, small timestamp jitter is ignored and only jumps of more than a tenth
    // of a second are filled or cut, so the sound keeps its place beside the pictures.
    const int64_t allowed = syncing_ || clockRestarted ? 0 : rate_ / 10;
    int64_t skip = 0;
    // Timestamps that jump by minutes are broken, not a real gap: play on.
    if (start - queueEnd_ > static_cast<int64_t>(rate_) * 60) start = queueEnd_;
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

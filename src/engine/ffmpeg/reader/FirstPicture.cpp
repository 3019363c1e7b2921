#include "engine/ffmpeg/reader/FirstPicture.h"

#include <system_error>

#include "engine/ffmpeg/reader/VideoDecoder.h"

namespace trimora {

namespace {

// The packets taken at most. The first picture comes out of the first few; a stream that starts
// in the middle of a group, or with damage, is left to the reader's own decoder.
constexpr int64_t kMostPackets = 32;
constexpr size_t kMostQueuedBytes = 64u << 20;

}  // namespace

FirstPicture::FirstPicture(const AVStream* stream) : timeBase_(stream->time_base) {
    parameters_ = avcodec_parameters_alloc();
    if (!parameters_ || avcodec_parameters_copy(parameters_, stream->codecpar) < 0) {
        finished_ = true;  // no thread: every offer is declined, the reader decodes as before
        return;
    }
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        finished_ = true;  // no thread to be had: the reader decodes the picture after the reading
    }
}

FirstPicture::~FirstPicture() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
        ended_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    avcodec_parameters_free(&parameters_);
}

bool FirstPicture::Offer(const AVPacket& packet, int64_t decodeIndex) {
    ff::PacketPtr copy = ff::MakePacket();
    const bool copied = copy && av_packet_ref(copy.get(), &packet) >= 0;
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_ || cut_) return false;
    if (!copied) {
        finished_ = true;
        changed_.notify_all();
        return false;
    }
    queuedBytes_ += static_cast<size_t>(packet.size);
    queue_.emplace_back(std::move(copy), decodeIndex);
    // Beyond the packets taken, the decoder's picture may lack those that would come before it.
    cut_ = ++offered_ >= kMostPackets || queuedBytes_ >= kMostQueuedBytes;
    changed_.notify_all();
    return !cut_;
}

std::optional<FirstPicture::Result> FirstPicture::Take() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    return std::move(result_);
}

void FirstPicture::Run() {
    const AVCodec* decoder = avcodec_find_decoder(parameters_->codec_id);
    ff::CodecContextPtr codec(decoder ? avcodec_alloc_context3(decoder) : nullptr);
    ff::FramePtr frame = ff::MakeFrame();
    bool ready = codec && frame && avcodec_parameters_to_context(codec.get(), parameters_) >= 0;
    if (ready) {
        // As the reader's decoder starts: one thread (a single picture gains nothing from more).
        codec->pkt_timebase = timeBase_;
        codec->thread_count = 1;
        ready = avcodec_open2(codec.get(), decoder, nullptr) >= 0;
    }
    // What the picture costs, as the reader's decoder measures its own: opening it left out.
    const double start = ThreadCpuSeconds();
    for (bool draining = false; ready;) {
        ff::PacketPtr packet;
        int64_t decodeIndex = -1;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return finished_ || ended_ || cut_ || !queue_.empty(); });
            if (finished_ || (cut_ && queue_.empty())) break;
            if (!queue_.empty()) {
                packet = std::move(queue_.front().first);
                decodeIndex = queue_.front().second;
                queue_.pop_front();
                queuedBytes_ -= static_cast<size_t>(packet->size);
            }
        }
        if (packet) {
            // Each packet carries its decode index as its time: the picture names its packet.
            packet->pts = decodeIndex;
            avcodec_send_packet(codec.get(), packet.get());  // a damaged packet is passed over
        } else if (!draining) {
            draining = true;  // the reading has ended: the pictures the decoder holds back
            avcodec_send_packet(codec.get(), nullptr);
        }
        // A picture that cannot be decoded is passed over with its packet.
        if (avcodec_receive_frame(codec.get(), frame.get()) >= 0) {
            Result result;
            result.packet = frame->pts != AV_NOPTS_VALUE ? frame->pts : -1;
            result.cpuSeconds = ThreadCpuSeconds() - start;
            result.picture = std::move(frame);
            std::lock_guard<std::mutex> lock(mutex_);
            result_ = std::move(result);
            ready = false;
        }
        if (draining) ready = false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
}

}  // namespace trimora

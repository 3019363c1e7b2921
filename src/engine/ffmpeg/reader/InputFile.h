#pragma once
// The input's demuxers: a file opened through the file protocol and the list of media
// containers this program reads, and the streams found in it.
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/FfmpegUtil.h"

namespace trimora {

// The largest picture and the fastest sound taken: beyond them a header is damaged or crafted,
// and reading would take minutes or gigabytes.
constexpr int kLargestSide = 8192;
constexpr int kHighestSampleRate = 384000;
constexpr int kMostChannels = 64;

// The file's name as messages show it.
std::string Quoted(const std::string& path);
// A demuxer on the file, its streams probed; refuses what is not a media container. Where
// `giveIndex` is set, the demuxer opens without reading the container's index (it reads none in
// a file it cannot seek in), and `giveIndex` gives it one before the streams are probed; where it
// returns false, the file is opened again, the demuxer reading its own.
ff::InputContextPtr OpenInput(const std::string& path, const std::function<bool(AVFormatContext*)>& giveIndex = {});
// The video stream with the largest pictures (cover pictures aside), -1 for none.
int FindVideoStream(AVFormatContext* input);
// The sound a player plays with the video `videoIndex` (-1: none): the first sound stream marked
// as the default, else the first one, of those in the video's program where the file has
// programs; streams without a decoder or a format are passed over. -1 for none.
int FindSoundStream(AVFormatContext* input, int videoIndex);
// The stream of `type` and container id `id` (index `index` in the first demuxer) in a second
// demuxer opened on the same file, -1 when it is missing.
int MatchingStream(const AVFormatContext* input, AVMediaType type, int id, int index);
// The packets of the transport stream's stream `id` (of `type`) from byte `from` on that a
// demuxer reading the file up to byte `to` gives, `to` taken as the end of the file: a stream's
// last packets come out only at the end, and in a file whose programme changes they are those
// of the old programme that lie before the new one's first. Throws EngineError where the file
// cannot be read.
std::vector<ff::PacketPtr> TransportPacketsBefore(const std::string& url, int64_t from, int64_t to, AVMediaType type,
                                                  int id);

// A chosen stream and the streams that carry it on after programme changes (of its kind, by
// container id, in order), as a demuxer gives their packets. Once a packet of a later one has
// come, what comes late of an earlier one is passed over: a transport stream's demuxer gives a
// stream's last packets only when the file ends.
class StreamChain {
public:
    void Set(int index, std::vector<int> followerIds) {
        index_ = index;
        followers_ = std::move(followerIds);
        Restart();
    }
    // After a seek: the next packet may be of any of them.
    void Restart() {
        stage_ = 0;
        moved_ = false;
        seen_ = false;
    }
    // Whether `stream` is one of the followers.
    bool Follows(const AVStream& stream, const AVStream& chosen) const;
    // Whether packet `p` is taken. A packet of another stream makes the demuxer pass over that
    // stream from then on.
    bool Takes(AVFormatContext* input, const AVPacket& p);
    // The packet taken last is the first of a later stream than the one before it; `id`: the
    // container id of that earlier stream.
    bool Moved(int* id) const {
        if (moved_ && id) *id = movedFrom_;
        return moved_;
    }

private:
    int index_ = -1;
    std::vector<int> followers_;
    size_t stage_ = 0;  // 0: the chosen stream, k: the k-th follower
    bool moved_ = false;
    int movedFrom_ = -1;
    bool seen_ = false;  // a packet was taken since the last restart
};

// The codec's long name as the information boxes show it.
std::string CodecName(AVCodecID id);

}  // namespace trimora

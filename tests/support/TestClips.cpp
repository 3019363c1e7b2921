#include "TestClips.h"

#include <unistd.h>
#include <sys/wait.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "engine/FrameBuffer.h"

namespace fs = std::filesystem;

namespace trimora::test {
namespace {

// Bumped whenever the generated pictures or sound change, so cached clips are made again.
constexpr int kGeneratorVersion = 4;
constexpr int kStampColumns = 8;
constexpr int kStampRows = 2;
constexpr uint8_t kDark = 16;
constexpr uint8_t kBright = 235;

struct FormatDefaults {
    const char* extension;
    const char* muxer;
    const char* videoCodec;
    const char* audioCodec;
};

const FormatDefaults& DefaultsFor(const std::string& format) {
    static const std::map<std::string, FormatDefaults> table = {
        {"avi", {".avi", "avi", "mpeg4", "pcm_s16le"}},
        {"avi-h264", {".avi", "avi", "libx264", "pcm_s16le"}},
        {"mpeg1", {".mpg", "mpeg", "mpeg1video", "mp2"}},
        {"mpeg2", {".mpeg", "vob", "mpeg2video", "mp2"}},
        {"ts", {".ts", "mpegts", "mpeg2video", "mp2"}},
        {"asf", {".wmv", "asf", "wmv2", "wmav2"}},
        {"mov", {".mov", "mov", "libx264", "aac"}},
        {"mp4", {".mp4", "mp4", "libx264", "aac"}},
        {"mkv", {".mkv", "matroska", "libx264", "libvorbis"}},
        {"h264", {".h264", "h264", "libx264", ""}},
        {"hevc", {".hevc", "hevc", "libx265", ""}},
    };
    auto it = table.find(format);
    if (it == table.end()) throw std::invalid_argument("unknown clip format " + format);
    return it->second;
}

std::string CacheDir() {
    const char* env = std::getenv("TRIMORA_CLIP_CACHE");
    fs::path dir = env ? fs::path(env) : fs::temp_directory_path() / ("trimora-clip-cache-" + std::to_string(getuid()));
    fs::create_directories(dir);
    return dir.string();
}

std::string SpecKey(const ClipSpec& s) {
    std::ostringstream key;
    key << kGeneratorVersion << '|' << s.format << '|' << s.videoCodec << '|' << s.audioCodec << '|' << s.width
        << 'x' << s.height << '|' << s.frameRate << '|' << s.frames << '|' << s.gop << '|' << s.bFrames << '|'
        << s.audio << '|' << s.sampleRate << '|' << s.channels << '|' << s.extraArgs << '|' << s.firstStamp;
    return key.str();
}

// The picture below the stamp: smooth moving shapes, so codecs have real work to do.
void DrawPicture(uint8_t* y, int ly, uint8_t* u, int lu, uint8_t* v, int lv, int width, int height, int number) {
    const int stampHeight = height / 4;
    for (int row = 0; row < height; ++row) {
        uint8_t* line = y + static_cast<ptrdiff_t>(row) * ly;
        if (row < stampHeight) continue;
        for (int col = 0; col < width; ++col) {
            const double value = 128 + 60 * std::sin((col + 3.0 * number) / 11.0) * std::cos((row - number) / 13.0);
            line[col] = static_cast<uint8_t>(value);
        }
    }
    for (int row = 0; row < height / 2; ++row)
        for (int col = 0; col < width / 2; ++col) {
            u[static_cast<ptrdiff_t>(row) * lu + col] = static_cast<uint8_t>(128 + (col * 40) / (width / 2) - 20);
            v[static_cast<ptrdiff_t>(row) * lv + col] = static_cast<uint8_t>(128 + (row * 40) / (height / 2) - 20);
        }
}

struct Picture {
    std::vector<uint8_t> y, u, v;
    int width, height;
    Picture(int w, int h)
        : y(static_cast<size_t>(w) * h), u(static_cast<size_t>((w + 1) / 2) * ((h + 1) / 2)),
          v(u.size()), width(w), height(h) {}
    void Draw(int number) {
        DrawPicture(y.data(), width, u.data(), (width + 1) / 2, v.data(), (width + 1) / 2, width, height, number);
        DrawStamp(y.data(), width, width, height, number);
    }
};

void WriteAll(FILE* out, const void* data, size_t size) {
    if (std::fwrite(data, 1, size, out) != size) throw std::runtime_error("writing to the ffmpeg command failed");
}

void GenerateClip(const ClipSpec& spec, const std::string& path) {
    const FormatDefaults& d = DefaultsFor(spec.format);
    const std::string vcodec = spec.videoCodec.empty() ? d.videoCodec : spec.videoCodec;
    const std::string acodec = spec.audioCodec.empty() ? d.audioCodec : spec.audioCodec;

    // Frame rate as a fraction, to size the sound exactly.
    int rateNum = 25, rateDen = 1;
    if (auto slash = spec.frameRate.find('/'); slash != std::string::npos) {
        rateNum = std::stoi(spec.frameRate.substr(0, slash));
        rateDen = std::stoi(spec.frameRate.substr(slash + 1));
    } else {
        rateNum = std::stoi(spec.frameRate);
    }

    std::string audioPath;
    if (spec.audio) {
        audioPath = path + ".pcm";
        const int64_t sampleFrames = static_cast<int64_t>(spec.frames) * spec.sampleRate * rateDen / rateNum;
        const int64_t patternStart = static_cast<int64_t>(spec.firstStamp - 1) * spec.sampleRate * rateDen / rateNum;
        std::ofstream audioFile(audioPath, std::ios::binary);
        constexpr int64_t kChunk = 48000;
        for (int64_t first = 0; first < sampleFrames; first += kChunk) {
            const int count = static_cast<int>(std::min(kChunk, sampleFrames - first));
            const AudioBlock block = MakePatternBlock(patternStart + first, count, spec.sampleRate, spec.channels);
            audioFile.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
        }
    }

    std::ostringstream cmd;
    cmd << "ffmpeg -v error -y -f rawvideo -pix_fmt yuv420p -s " << spec.width << 'x' << spec.height << " -r "
        << spec.frameRate << " -i pipe:0 ";
    if (spec.audio)
        cmd << "-f s16le -ar " << spec.sampleRate << " -ac " << spec.channels << " -i " << ShellQuote(audioPath) << ' ';
    cmd << "-map 0:v ";
    if (spec.audio) cmd << "-map 1:a ";
    cmd << "-c:v " << vcodec << " -g " << spec.gop << ' ';
    if (vcodec == "libx264")
        cmd << "-pix_fmt yuv420p -preset ultrafast -crf 18 -sc_threshold 0 -keyint_min " << spec.gop << ' ';
    else if (vcodec == "libx265")
        cmd << "-pix_fmt yuv420p -preset ultrafast -crf 18 -x265-params log-level=error:scenecut=0 ";
    else if (vcodec == "mpeg1video" || vcodec == "mpeg2video")
        // A fixed quantiser with B-frames leaves broken macroblocks in this MPEG encoder; a
        // generous bit rate does not.
        cmd << "-b:v 3000k ";
    else if (vcodec != "rawvideo" && vcodec != "mjpeg" && vcodec != "huffyuv" && vcodec != "ffv1")
        cmd << "-q:v 2 ";
    if (vcodec == "libx264" || vcodec == "libx265" || vcodec == "mpeg4" || vcodec == "mpeg1video" ||
        vcodec == "mpeg2video")
        cmd << "-bf " << (spec.bFrames ? 2 : 0) << ' ';
    if (spec.audio) {
        cmd << "-c:a " << acodec << ' ';
        if (acodec == "mp2" || acodec == "aac" || acodec == "wmav2" || acodec == "libmp3lame") cmd << "-b:a 192k ";
    }
    cmd << spec.extraArgs << " -f " << d.muxer << ' ' << ShellQuote(path);

    FILE* pipe = popen(cmd.str().c_str(), "w");
    if (!pipe) throw std::runtime_error("cannot start ffmpeg");
    Picture picture(spec.width, spec.height);
    try {
        for (int n = 1; n <= spec.frames; ++n) {
            picture.Draw(n + spec.firstStamp - 1);
            WriteAll(pipe, picture.y.data(), picture.y.size());
            WriteAll(pipe, picture.u.data(), picture.u.size());
            WriteAll(pipe, picture.v.data(), picture.v.size());
        }
    } catch (...) {
        pclose(pipe);
        throw;
    }
    const int status = pclose(pipe);
    if (!audioPath.empty()) fs::remove(audioPath);
    if (status != 0) throw std::runtime_error("ffmpeg failed to make a clip: " + cmd.str());
}

}  // namespace

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

int RunCommand(const std::string& command, std::string* output) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    std::array<char, 65536> buffer;
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        if (output) output->append(buffer.data(), n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string TempDir() {
    static std::string dir = [] {
        std::string pattern = (fs::temp_directory_path() / "trimora-test-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
        static std::string removeAtExit;
        removeAtExit = pattern;
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(removeAtExit, ignored);
        });
        return pattern;
    }();
    return dir;
}

std::string TempPath(const std::string& suffix) {
    static std::mutex mutex;
    static int counter = 0;
    std::lock_guard lock(mutex);
    return (fs::path(TempDir()) / ("file" + std::to_string(++counter) + suffix)).string();
}

std::string CachedMedia(const std::string& key, const std::string& extension,
                        const std::function<void(const std::string& path)>& make) {
    const std::string name = std::to_string(std::hash<std::string>{}(key)) + extension;
    const fs::path path = fs::path(CacheDir()) / name;
    if (fs::exists(path)) return path.string();
    // Made under a temporary name and renamed, so test processes running side by side never
    // see a half-written file.
    const fs::path partial = fs::path(CacheDir()) / ("partial-" + std::to_string(getpid()) + "-" + name);
    make(partial.string());
    fs::rename(partial, path);
    return path.string();
}

std::string MakeClip(const ClipSpec& spec) {
    return CachedMedia(SpecKey(spec), DefaultsFor(spec.format).extension,
                       [&](const std::string& path) { GenerateClip(spec, path); });
}

void WriteStampedY4m(const std::string& path, int width, int height, int frameRate, int frames) {
    std::ofstream out(path, std::ios::binary);
    out << "YUV4MPEG2 W" << width << " H" << height << " F" << frameRate << ":1 Ip A1:1 C420jpeg\n";
    Picture picture(width, height);
    for (int n = 1; n <= frames; ++n) {
        picture.Draw(n);
        out << "FRAME\n";
        for (const auto* plane : {&picture.y, &picture.u, &picture.v})
            out.write(reinterpret_cast<const char*>(plane->data()), static_cast<std::streamsize>(plane->size()));
    }
    if (!out) throw std::runtime_error("cannot write " + path);
}

void WritePatternWav(const std::string& path, int sampleRate, int channels, int64_t sampleFrames) {
    std::ofstream out(path, std::ios::binary);
    const auto put = [&](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) out.put(static_cast<char>((value >> (8 * i)) & 0xff));
    };
    const auto dataBytes = static_cast<uint32_t>(sampleFrames * channels * 2);
    out << "RIFF";
    put(36 + dataBytes, 4);
    out << "WAVEfmt ";
    put(16, 4);
    put(1, 2);  // integer PCM
    put(static_cast<uint32_t>(channels), 2);
    put(static_cast<uint32_t>(sampleRate), 4);
    put(static_cast<uint32_t>(sampleRate * channels * 2), 4);
    put(static_cast<uint32_t>(channels * 2), 2);
    put(16, 2);
    out << "data";
    put(dataBytes, 4);
    constexpr int64_t kChunk = 48000;
    for (int64_t first = 0; first < sampleFrames; first += kChunk) {
        const AudioBlock block =
            MakePatternBlock(first, static_cast<int>(std::min(kChunk, sampleFrames - first)), sampleRate, channels);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
    }
    if (!out) throw std::runtime_error("cannot write " + path);
}

namespace {

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

struct PacketPlace {
    int64_t pos = -1;
    int64_t size = 0;
    bool key = false;
};

// The video packets of a file in file order, as ffprobe finds them.
std::vector<PacketPlace> VideoPackets(const std::string& path) {
    std::string out;
    RunCommand("ffprobe -v error -select_streams v:0 -show_entries packet=pos,size,flags -of csv=p=0 " +
                   ShellQuote(path),
               &out);
    std::vector<PacketPlace> packets;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        PacketPlace p;
        char flags[16] = {};
        long long pos = -1, size = 0;
        if (std::sscanf(line.c_str(), "%lld,%lld,%15s", &size, &pos, flags) < 2) continue;
        p.pos = pos;
        p.size = size;
        p.key = flags[0] == 'K';
        packets.push_back(p);
    }
    return packets;
}

// `ts` without the transport packets of the sound's packets (PES) numbered in `lost` (from 0):
// what a broadcast recording with reception dropouts holds.
std::string DropSoundPackets(const std::string& ts, const std::set<int>& lost) {
    std::string kept;
    std::map<int, int> counts;  // PES started so far on each sound PID
    bool dropping = false;
    int soundPid = -1;
    for (size_t at = 0; at + 188 <= ts.size(); at += 188) {
        const auto* p = reinterpret_cast<const uint8_t*>(ts.data() + at);
        const int pid = (p[1] & 0x1F) << 8 | p[2];
        const bool unitStart = p[1] & 0x40;
        size_t payload = 4;
        if (p[3] & 0x20) payload += 1 + p[4];
        if (unitStart && payload + 4 <= 188 && p[payload] == 0 && p[payload + 1] == 0 && p[payload + 2] == 1 &&
            (p[payload + 3] & 0xE0) == 0xC0) {
            soundPid = pid;
            dropping = lost.count(counts[pid]++) > 0;
        } else if (unitStart && pid == soundPid) {
            dropping = false;
        }
        if (!(dropping && pid == soundPid)) kept.append(ts, at, 188);
    }
    return kept;
}

std::string MakeRecordingFile(const std::string& kind, const std::string& path) {
    ClipSpec spec;
    spec.frames = 100;
    if (kind == "joined-ts" || kind == "joined-mpg" || kind == "joined-formats-ts") {
        spec.format = kind == "joined-mpg" ? "mpeg1" : "ts";
        spec.frames = 80;
        ClipSpec second = spec;
        second.firstStamp = 81;
        if (kind == "joined-formats-ts") {
            second.width = 352;
            second.height = 288;
            second.sampleRate = 44100;
            second.channels = 1;
        }
        WriteBytes(path, ReadBytes(MakeClip(spec)) + ReadBytes(MakeClip(second)));
    } else if (kind == "ts-cut-start" || kind == "ts-cut-start-high-rate") {
        spec.format = "ts";
        if (kind == "ts-cut-start-high-rate") {
            // A camera's bit rate spent on picture noise (the stamps are read through it), in
            // groups of 6 s: the first picture that tells the pictures' size comes 8 MB after the
            // cut, beyond the 5 MB FFmpeg's own probe reads.
            spec.width = 640;
            spec.height = 360;
            spec.frames = 200;
            spec.gop = 150;
            spec.extraArgs = "-vf noise=alls=30:allf=t -b:v 12M -maxrate 12M -bufsize 6M";
        }
        const std::string clip = MakeClip(spec);
        // Cut where a picture in the middle of the second group starts (a transport packet's start).
        const std::vector<PacketPlace> packets = VideoPackets(clip);
        if (packets.size() < 20 || packets[17].key) throw std::runtime_error("unexpected groups in " + clip);
        WriteBytes(path, ReadBytes(clip).substr(static_cast<size_t>(packets[17].pos)));
    } else if (kind == "programme-change-ts") {
        // Three recordings joined whose programmes differ in their packet identifiers (as from
        // other sources, or a broadcaster that moved the programme): the demuxer finds each
        // one's streams only when it reaches them. H.264 with B-frames and AAC, as broadcast,
        // with MPEG-2 and MP2 in the middle.
        spec.format = "ts";
        spec.frames = 60;
        std::string joined;
        for (int part = 0; part < 3; ++part) {
            ClipSpec p = spec;
            p.firstStamp = 1 + 60 * part;
            if (part != 1) {
                p.videoCodec = "libx264";
                p.audioCodec = "aac";
            }
            if (part == 2) p.frames = 40;
            // The middle one ends with a keyframe, which its stream's demuxer gives out only at
            // the end of the file.
            if (part == 1) p.gop = 59;
            // The second keeps the programme's number and table (its streams change in place, and
            // the demuxer's probe finds them at once); the third is a programme of its own.
            if (part > 0) p.extraArgs = "-mpegts_start_pid " + std::to_string(0x100 * (part + 2));
            if (part == 2) p.extraArgs += " -mpegts_pmt_start_pid 0x1200 -mpegts_service_id 3";
            joined += ReadBytes(MakeClip(p));
        }
        WriteBytes(path, joined);
    } else if (kind == "lossy-ts") {
        // Reception dropouts: two of the sound's frames (one to a packet), between the clicks,
        // never reached the recording.
        spec.format = "ts";
        spec.extraArgs = "-pes_payload_size 0";
        WriteBytes(path, DropSoundPackets(ReadBytes(MakeClip(spec)), {62, 104}));
    } else if (kind == "lossy-mkv") {
        // The same recording remuxed into Matroska as it is: its times kept, to the millisecond.
        const std::string recording = MakeRecordingFile("lossy-ts", path + ".ts");
        const int status = RunCommand("ffmpeg -v error -nostdin -y -i " + ShellQuote(recording) +
                                      " -map 0 -c copy -f matroska " + ShellQuote(path));
        fs::remove(recording);
        if (status != 0) throw std::runtime_error("ffmpeg could not remux " + recording);
    } else if (kind == "remuxed-mpg") {
        // The elementary streams of a clip with B-pictures, put together again as the ffmpeg
        // command does it: the muxer gets no presentation time for any reference picture. The
        // demuxer starts the pictures' decode times at 0, so the first picture is shown a frame
        // (1920 samples) later. The sound is moved to run with the pictures as in the clip: by
        // that frame, less the 481 samples MP2 sound starts before its time, which the clip's
        // times allowed for and a bare MP2 file cannot.
        spec.format = "mpeg2";
        const std::string clip = MakeClip(spec);
        const std::string video = path + ".m2v", sound = path + ".mp2";
        RunCommand("ffmpeg -v error -nostdin -y -i " + ShellQuote(clip) + " -map 0:v -c copy -f mpeg2video " +
                   ShellQuote(video) + " -map 0:a -c copy -f mp2 " + ShellQuote(sound));
        RunCommand("ffmpeg -v error -nostdin -y -f mpegvideo -i " + ShellQuote(video) + " -itsoffset 0.029979167 -i " +
                   ShellQuote(sound) + " -c copy -f vob " + ShellQuote(path));
    } else if (kind == "untimed-mpg") {
        // A clip's MPEG-2 pictures put into a program stream by GStreamer straight from the
        // elementary stream: no packet carries a time.
        spec.format = "mpeg2";
        spec.audio = false;
        const std::string video = path + ".m2v";
        RunCommand("ffmpeg -v error -nostdin -y -i " + ShellQuote(MakeClip(spec)) + " -c copy -f mpeg2video " +
                   ShellQuote(video));
        RunCommand("gst-launch-1.0 -q filesrc location=" + ShellQuote(video) +
                   " ! mpegvideoparse ! mpegpsmux ! filesink location=" + ShellQuote(path));
    } else if (kind == "avi-cut-end") {
        // Cut at 60 %, in the middle of the picture stored there (a recorder stops mid-write).
        const std::string clip = MakeClip(spec);
        const std::string bytes = ReadBytes(clip);
        const int64_t at = static_cast<int64_t>(bytes.size()) * 6 / 10;
        int64_t cut = at;
        for (const PacketPlace& p : VideoPackets(clip))
            if (p.pos >= 0 && p.pos + p.size >= at) {
                cut = p.pos + p.size / 2;
                break;
            }
        WriteBytes(path, bytes.substr(0, static_cast<size_t>(cut)));
    } else if (kind == "avi-index-cut-short") {
        // The index lists the first half of the chunks only (a recorder stopped while writing it).
        std::string bytes = ReadBytes(MakeClip(spec));
        const size_t at = bytes.rfind("idx1");
        if (at == std::string::npos) throw std::runtime_error("no index in the clip for " + kind);
        const auto le32 = [&bytes](size_t pos) {
            uint32_t value = 0;
            for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[pos + static_cast<size_t>(i)]);
            return value;
        };
        const auto putLe32 = [&bytes](size_t pos, size_t value) {
            for (size_t i = 0; i < 4; ++i) bytes[pos + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
        };
        const size_t listed = le32(at + 4) / 32 * 16;
        bytes.resize(at + 8 + listed);
        putLe32(at + 4, listed);
        putLe32(4, bytes.size() - 8);
        WriteBytes(path, bytes);
    } else if (kind == "damaged") {
        // Pictures large enough for the decoder's frame threads, which report damage when a
        // picture is received rather than when its packet is sent.
        spec.format = "mp4";
        spec.width = 2048;
        spec.height = 1152;
        spec.frames = 40;
        const std::string clip = MakeClip(spec);
        std::string bytes = ReadBytes(clip);
        const std::vector<PacketPlace> packets = VideoPackets(clip);
        if (packets.size() < 30 || packets[16].pos < 0) throw std::runtime_error("unexpected packets in " + clip);
        // Garbage over one whole picture's data: the decoder cannot make anything of it.
        uint32_t noise = 12345;
        const PacketPlace& p = packets[16];
        for (int64_t i = p.pos; i < p.pos + p.size; ++i) {
            noise = noise * 1103515245u + 12345u;
            bytes[static_cast<size_t>(i)] = static_cast<char>(noise >> 24);
        }
        WriteBytes(path, bytes);
    } else if (kind == "damaged-b-avi") {
        // H.264 with B-frames in AVI, the chunk of the picture stamped 42 (a B-picture) zeroed as a
        // bad sector leaves it: no picture can be read from it.
        spec.format = "avi-h264";
        const std::string clip = MakeClip(spec);
        std::string frames;
        RunCommand("ffprobe -v error -select_streams v:0 -show_entries frame=pkt_pos,pkt_size,pict_type -of csv=p=0 " +
                       ShellQuote(clip),
                   &frames);
        std::istringstream lines(frames);
        std::string line;
        for (int shown = 0; shown < 42 && std::getline(lines, line);) shown += line.empty() ? 0 : 1;
        char type[8] = {};
        long long pos = -1, size = 0;
        std::string bytes = ReadBytes(clip);
        if (std::sscanf(line.c_str(), "%lld,%lld,%7s", &pos, &size, type) != 3 || std::string(type) != "B" ||
            pos < 8 || bytes.compare(static_cast<size_t>(pos) - 8, 4, "00dc") != 0)
            throw std::runtime_error("unexpected picture 42 in " + clip + ": " + line);
        bytes.replace(static_cast<size_t>(pos), static_cast<size_t>(size), static_cast<size_t>(size), '\0');
        WriteBytes(path, bytes);
    } else {
        throw std::invalid_argument("unknown recording " + kind);
    }
    return path;
}

}  // namespace

std::string MakeRecording(const std::string& kind) {
    static std::mutex mutex;
    static std::map<std::string, std::string> made;
    std::lock_guard lock(mutex);
    if (auto it = made.find(kind); it != made.end()) return it->second;
    const std::string extension = kind == "joined-ts" || kind == "joined-formats-ts" || kind == "lossy-ts" || kind == "programme-change-ts" ||
                                              kind.rfind("ts-cut-start", 0) == 0
                                      ? ".ts"
                                  : kind == "joined-mpg" || kind == "remuxed-mpg" || kind == "untimed-mpg" ? ".mpg"
                                  : kind == "damaged"                           ? ".mp4"
                                  : kind == "lossy-mkv"                         ? ".mkv"
                                                                                : ".avi";
    const std::string path = (fs::path(TempDir()) / ("recording-" + kind + extension)).string();
    return made[kind] = MakeRecordingFile(kind, path);
}

void DrawStamp(uint8_t* luma, int linesize, int width, int height, int number) {
    const int blockWidth = width / kStampColumns;
    const int blockHeight = height / 4 / kStampRows;
    for (int r = 0; r < kStampRows; ++r)
        for (int c = 0; c < kStampColumns; ++c) {
            const int bit = r * kStampColumns + c;
            const uint8_t value = ((number >> bit) & 1) ? kBright : kDark;
            for (int y = r * blockHeight; y < (r + 1) * blockHeight; ++y)
                std::memset(luma + static_cast<ptrdiff_t>(y) * linesize + c * blockWidth, value, blockWidth);
        }
}

int ReadStamp(const uint8_t* luma, int linesize, int width, int height) {
    const int blockWidth = width / kStampColumns;
    const int blockHeight = height / 4 / kStampRows;
    if (blockWidth < 4 || blockHeight < 4) return -1;
    int number = 0;
    for (int r = 0; r < kStampRows; ++r)
        for (int c = 0; c < kStampColumns; ++c) {
            // Average the middle half of the block: edges smear under lossy codecs and scaling.
            long sum = 0;
            int count = 0;
            for (int y = r * blockHeight + blockHeight / 4; y < r * blockHeight + blockHeight * 3 / 4; ++y)
                for (int x = c * blockWidth + blockWidth / 4; x < c * blockWidth + blockWidth * 3 / 4; ++x) {
                    sum += luma[static_cast<ptrdiff_t>(y) * linesize + x];
                    ++count;
                }
            const int mean = static_cast<int>(sum / count);
            if (mean > 170) number |= 1 << (r * kStampColumns + c);
            else if (mean > 80) return -1;  // neither dark nor bright: not a stamp
        }
    return number;
}

int ReadStamp(const FrameData& frame) {
    const auto view = ViewFrame(frame);
    if (!view) return -1;
    const FrameHeader& h = view->header;
    const auto format = static_cast<AVPixelFormat>(h.pixelFormat);
    std::vector<uint8_t> gray(static_cast<size_t>(h.width) * h.height);
    SwsContext* sws = sws_getContext(h.width, h.height, format, h.width, h.height, AV_PIX_FMT_GRAY8, SWS_POINT,
                                     nullptr, nullptr, nullptr);
    if (!sws) return -1;
    uint8_t* dst[4] = {gray.data(), nullptr, nullptr, nullptr};
    int dstLines[4] = {h.width, 0, 0, 0};
    sws_scale(sws, view->planes, view->linesizes, 0, h.height, dst, dstLines);
    sws_freeContext(sws);
    return ReadStamp(gray.data(), h.width, h.width, h.height);
}

FrameData MakeStampedFrame(int width, int height, int number, int timeMs, int pixelFormat) {
    Picture picture(width, height);
    picture.Draw(number);
    FrameHeader header;
    header.width = width;
    header.height = height;
    header.colorRange = 1;  // limited, as the generated values are
    header.timeMs = timeMs;
    header.frameNumber = number;
    const int chromaLine = (width + 1) / 2;
    const uint8_t* planes[4] = {picture.y.data(), picture.u.data(), picture.v.data(), nullptr};
    int lines[4] = {width, chromaLine, chromaLine, 0};
    const auto target = pixelFormat < 0 ? AV_PIX_FMT_YUV420P : static_cast<AVPixelFormat>(pixelFormat);
    if (target == AV_PIX_FMT_YUV420P) {
        header.pixelFormat = AV_PIX_FMT_YUV420P;
        return FrameFromPlanes(header, planes, lines);
    }
    uint8_t* converted[4] = {};
    int convertedLines[4] = {};
    if (av_image_alloc(converted, convertedLines, width, height, target, 32) < 0) return {};
    SwsContext* sws = sws_getContext(width, height, AV_PIX_FMT_YUV420P, width, height, target, SWS_BICUBIC, nullptr,
                                     nullptr, nullptr);
    sws_scale(sws, planes, lines, 0, height, converted, convertedLines);
    sws_freeContext(sws);
    header.pixelFormat = target;
    const uint8_t* constPlanes[4] = {converted[0], converted[1], converted[2], converted[3]};
    FrameData data = FrameFromPlanes(header, constPlanes, convertedLines);
    av_freep(&converted[0]);
    return data;
}

FrameData WithHeader(const FrameData& frame, const std::function<void(FrameHeader&)>& change) {
    const auto view = ViewFrame(frame);
    if (!view) return {};
    FrameHeader header = view->header;
    change(header);
    return FrameFromPlanes(header, view->planes, view->linesizes);
}

FrameData UnreadableFrame() {
    ff::FramePtr picture = ff::MakeFrame();
    picture->format = AV_PIX_FMT_GRAY8;
    picture->width = 64;
    picture->height = 48;
    if (av_frame_get_buffer(picture.get(), 0) < 0) return {};
    picture->format = AV_PIX_FMT_NB + 100;
    return WrapPicture(std::move(picture), 0, 1, 0);
}

int16_t PatternSample(int64_t index, int channel, int sampleRate) {
    const int64_t inSecond = index % sampleRate;
    const int64_t clickLength = sampleRate * 4 / 1000;  // 4 ms: one cycle of a 250 Hz square
    if (inSecond < clickLength) return inSecond < clickLength / 2 ? 20000 : -20000;
    const double t = static_cast<double>(index) / sampleRate;
    const double phase = 2 * M_PI * ((300.0 + 60.0 * channel) * t + 15.0 * t * t);
    return static_cast<int16_t>(std::lround(3000 * std::sin(phase)));
}

AudioBlock MakePatternBlock(int64_t first, int sampleFrames, int sampleRate, int channels) {
    AudioBlock block(static_cast<size_t>(sampleFrames) * channels * 2);
    auto* samples = reinterpret_cast<int16_t*>(block.data());
    for (int i = 0; i < sampleFrames; ++i)
        for (int c = 0; c < channels; ++c)
            samples[static_cast<size_t>(i) * channels + c] = PatternSample(first + i, c, sampleRate);
    return block;
}

ProbeInfo Probe(const std::string& path) {
    ProbeInfo info;
    std::string json;
    // Probed as far as a recording that starts in the middle of a long or costly group needs.
    RunCommand("ffprobe -v error -probesize 256M -analyzeduration 60M -print_format json -show_format -show_streams " +
                   ShellQuote(path) + " 2>/dev/null",
               &json);
    const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
    info.formatName = root["format"].toObject()["format_name"].toString().toStdString();
    const double formatDuration = root["format"].toObject()["duration"].toString().toDouble();
    for (const auto& value : root["streams"].toArray()) {
        const QJsonObject stream = value.toObject();
        const QString type = stream["codec_type"].toString();
        const double duration =
            stream.contains("duration") ? stream["duration"].toString().toDouble() : formatDuration;
        if (type == "video" && info.videoCodec.empty()) {
            info.videoCodec = stream["codec_name"].toString().toStdString();
            info.width = stream["width"].toInt();
            info.height = stream["height"].toInt();
            info.videoDuration = duration;
            const QStringList rate = stream["r_frame_rate"].toString().split('/');
            if (rate.size() == 2 && rate[1].toDouble() > 0) info.frameRate = rate[0].toDouble() / rate[1].toDouble();
        } else if (type == "audio" && info.audioCodec.empty()) {
            info.audioCodec = stream["codec_name"].toString().toStdString();
            info.sampleRate = stream["sample_rate"].toString().toInt();
            info.channels = stream["channels"].toInt();
            info.audioDuration = duration;
        }
    }
    std::string errors;
    RunCommand("ffmpeg -v error -nostdin -i " + ShellQuote(path) + " -f null - 2>&1", &errors);
    std::istringstream lines(errors);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) ++info.decodeErrors;
    return info;
}

std::vector<int> DecodeStamps(const std::string& path, bool constantRate) {
    const ProbeInfo info = Probe(path);
    std::vector<int> stamps;
    if (info.width <= 0 || info.height <= 0) return stamps;
    std::string raw;
    RunCommand("ffmpeg -v error -nostdin -i " + ShellQuote(path) +
                   " -map 0:v:0 -fps_mode " + (constantRate ? "cfr" : "passthrough") +
                   " -f rawvideo -pix_fmt gray - 2>/dev/null",
               &raw);
    const size_t frameSize = static_cast<size_t>(info.width) * info.height;
    for (size_t offset = 0; offset + frameSize <= raw.size(); offset += frameSize)
        stamps.push_back(ReadStamp(reinterpret_cast<const uint8_t*>(raw.data() + offset), info.width, info.width,
                                   info.height));
    return stamps;
}

std::vector<int16_t> DecodeAudio(const std::string& path, int* sampleRate, int* channels) {
    const ProbeInfo info = Probe(path);
    if (sampleRate) *sampleRate = info.sampleRate;
    if (channels) *channels = info.channels;
    std::vector<int16_t> samples;
    if (info.audioCodec.empty()) return samples;
    std::string raw;
    RunCommand("ffmpeg -v error -nostdin -i " + ShellQuote(path) + " -map 0:a:0 -f s16le -acodec pcm_s16le - 2>/dev/null",
               &raw);
    samples.resize(raw.size() / 2);
    std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    return samples;
}

namespace {
// Display times and durations of a stream's decoded frames, as ffprobe reports them.
std::vector<std::pair<double, double>> FrameTimes(const std::string& path, const char* stream) {
    std::string json;
    RunCommand(std::string("ffprobe -v error -of json -select_streams ") + stream +
                   " -show_entries frame=best_effort_timestamp_time,pkt_duration_time -show_frames " +
                   ShellQuote(path) + " 2>/dev/null",
               &json);
    std::vector<std::pair<double, double>> times;
    for (const auto& value : QJsonDocument::fromJson(QByteArray::fromStdString(json)).object()["frames"].toArray()) {
        const QJsonObject frame = value.toObject();
        if (!frame.contains("best_effort_timestamp_time")) continue;  // a frame the player cannot place
        times.emplace_back(frame["best_effort_timestamp_time"].toString().toDouble(),
                           frame["pkt_duration_time"].toString().toDouble());
    }
    return times;
}
}  // namespace

SoundPlacement PlaceSound(const std::string& path) {
    SoundPlacement placement;
    const auto pictures = FrameTimes(path, "v:0");
    const auto sound = FrameTimes(path, "a:0");
    if (pictures.empty() || sound.empty()) return placement;
    const double zero = pictures.front().first;
    placement.pictureEnd = pictures.back().first + pictures.back().second - zero;
    placement.start = sound.front().first - zero;
    const std::vector<int16_t> decoded = DecodeAudio(path, &placement.sampleRate, &placement.channels);
    if (placement.channels <= 0) return placement;
    placement.samples = static_cast<int64_t>(decoded.size()) / placement.channels;
    for (const double click : FindClicks(decoded, placement.channels, placement.sampleRate))
        placement.clicks.push_back(placement.start + click);
    return placement;
}

std::vector<double> FindClicks(const std::vector<int16_t>& interleaved, int channels, int sampleRate) {
    std::vector<double> clicks;
    if (channels <= 0 || sampleRate <= 0) return clicks;
    const size_t frames = interleaved.size() / channels;
    double last = -1e9;
    for (size_t i = 0; i < frames; ++i) {
        if (std::abs(interleaved[i * channels]) < 10000) continue;
        const double t = static_cast<double>(i) / sampleRate;
        if (t - last > 0.5) clicks.push_back(t);
        last = t;
    }
    return clicks;
}

}  // namespace trimora::test

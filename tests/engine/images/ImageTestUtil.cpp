#include "ImageTestUtil.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "engine/FrameBuffer.h"
#include "support/TestClips.h"

namespace trimora::test {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string MakeScratchFolder() {
    const std::string folder = TempPath("-pictures");
    fs::create_directories(folder);
    return folder;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

ImageProbe ProbeImage(const std::string& path) {
    std::string text;
    std::string command = "ffprobe -v error -show_entries format=format_name:stream=codec_name,width,height "
                          "-of default=noprint_wrappers=1 ";
    RunCommand(command + ShellQuote(path) + " 2>/dev/null", &text);
    ImageProbe probe;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
        if (key == "format_name") probe.formatName = value;
        else if (key == "codec_name" && probe.codecName.empty()) probe.codecName = value;
        else if (key == "width" && probe.width == 0) probe.width = std::atoi(value.c_str());
        else if (key == "height" && probe.height == 0) probe.height = std::atoi(value.c_str());
    }
    return probe;
}

DecodedImage DecodeImage(const std::string& path, const std::string& pixelFormat) {
    DecodedImage image;
    const ImageProbe probe = ProbeImage(path);
    if (probe.width <= 0 || probe.height <= 0) return image;
    std::string raw;
    const int status = RunCommand("ffmpeg -v error -nostdin -i " + ShellQuote(path) +
                                      " -frames:v 1 -f rawvideo -pix_fmt " + pixelFormat + " - 2>/dev/null",
                                  &raw);
    const size_t perPixel = pixelFormat == "gray" ? 1 : 3;
    if (status != 0 || raw.size() != static_cast<size_t>(probe.width) * probe.height * perPixel) return image;
    image.width = probe.width;
    image.height = probe.height;
    image.pixels.assign(raw.begin(), raw.end());
    return image;
}

int ReadStampFromGray(const DecodedImage& gray) {
    if (gray.width <= 0) return -1;
    return ReadStamp(gray.pixels.data(), gray.width, gray.width, gray.height);
}

int ReadStampFromRgb(const RgbImage& image) {
    std::vector<uint8_t> luma(static_cast<size_t>(image.width) * image.height);
    for (size_t i = 0; i < luma.size(); ++i) {
        const uint8_t* p = &image.pixels[i * 3];
        luma[i] = static_cast<uint8_t>(std::lround(0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]));
    }
    return ReadStamp(luma.data(), image.width, image.width, image.height);
}

PixelDifference Compare(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    PixelDifference difference;
    if (a.size() != b.size() || a.empty()) {
        difference.meanAbsolute = 255;
        difference.maxAbsolute = 255;
        return difference;
    }
    double total = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const int d = std::abs(int{a[i]} - int{b[i]});
        total += d;
        difference.maxAbsolute = std::max(difference.maxAbsolute, d);
    }
    difference.meanAbsolute = total / static_cast<double>(a.size());
    return difference;
}

FrameData WithColourTags(FrameData frame, int colorSpace, int colorRange) {
    return WithHeader(frame, [&](FrameHeader& header) {
        header.colorSpace = colorSpace;
        header.colorRange = colorRange;
    });
}

}  // namespace trimora::test

#include "engine/ffmpeg/writer/WindowsMediaProfiles.h"

#include <algorithm>
#include <cmath>

namespace trimora {

const std::vector<WindowsMediaProfile>& WindowsMediaProfiles() {
    // Windows Media Audio 2 needs at least 24 kbit/s; below 48 kbit/s it sounds better at
    // 22.05 kHz than squeezed at 44.1 kHz.
    static const std::vector<WindowsMediaProfile> profiles = {
        {"Up to 160x120, 100 kbit/s video, 24 kbit/s mono sound", 160, 120, 100, 24, 22050, 1},
        {"Up to 320x240, 300 kbit/s video, 32 kbit/s sound", 320, 240, 300, 32, 22050, 2},
        {"Up to 320x240, 500 kbit/s video, 64 kbit/s sound", 320, 240, 500, 64, 44100, 2},
        {"Up to 640x480, 1000 kbit/s video, 96 kbit/s sound", 640, 480, 1000, 96, 44100, 2},
        {"Original size, 1000 kbit/s video, 128 kbit/s sound", 0, 0, 1000, 128, 0, 0},
        {"Original size, 2000 kbit/s video, 128 kbit/s sound", 0, 0, 2000, 128, 0, 0},
    };
    return profiles;
}

void ProfilePictureSize(const WindowsMediaProfile& profile, int inputWidth, int inputHeight, int& width,
                        int& height) {
    inputWidth = std::max(inputWidth, 2);
    inputHeight = std::max(inputHeight, 2);
    double scale = 1.0;
    if (profile.maxWidth > 0 && profile.maxHeight > 0)
        scale = std::min({1.0, static_cast<double>(profile.maxWidth) / inputWidth,
                          static_cast<double>(profile.maxHeight) / inputHeight});
    auto even = [](double value) { return std::max(2, static_cast<int>(std::lround(value / 2.0)) * 2); };
    width = even(inputWidth * scale);
    height = even(inputHeight * scale);
}

}  // namespace trimora

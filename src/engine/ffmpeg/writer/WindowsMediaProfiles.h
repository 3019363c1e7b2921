#pragma once
// Our Windows Media presets: ASF files with Windows Media Video 8 and Windows Media Audio 2,
// numbered from 1 (lowest bandwidth) to the highest quality, which the window shows first.
#include <string>
#include <vector>

namespace trimora {

struct WindowsMediaProfile {
    std::string name;
    int maxWidth = 0;        // 0: the input's size
    int maxHeight = 0;       // the picture is fitted inside maxWidth x maxHeight, never enlarged
    int videoKbps = 0;
    int audioKbps = 0;
    int sampleRate = 0;      // 0: the input's rate (at most 48000)
    int channels = 0;        // 0: the input's channels (at most 2)
};

const std::vector<WindowsMediaProfile>& WindowsMediaProfiles();

// The picture size a profile gives for an input of width x height: fitted inside the
// profile's box keeping the shape, never enlarged, even in both directions.
void ProfilePictureSize(const WindowsMediaProfile& profile, int inputWidth, int inputHeight, int& width,
                        int& height);

}  // namespace trimora

#pragma once
// What the codec settings dialog lets the user choose for the selected AVI video codec. The
// writer keeps one of these until another codec is selected and applies it at each create.
#include <map>
#include <string>

namespace trimora {

struct CodecSettings {
    enum class RateControl { EncoderDefault, BitRate, Quality };
    RateControl rateControl = RateControl::EncoderDefault;
    int bitRateKbps = 0;         // with RateControl::BitRate
    int quality = 0;             // with RateControl::Quality, on the codec's own scale
    int keyframeInterval = 0;    // frames between keyframes; 0 keeps the encoder's default
    // The encoder's own options that differ from their defaults, as option name → value text
    // in the form av_opt_set understands.
    std::map<std::string, std::string> privateOptions;

    bool operator==(const CodecSettings&) const = default;
};

}  // namespace trimora

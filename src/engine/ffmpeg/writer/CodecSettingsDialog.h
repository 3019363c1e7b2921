#pragma once
// The settings dialog of an AVI video codec: how the bit rate is chosen (the encoder's default,
// an average bit rate or a constant quality), the keyframe interval, and every option the
// encoder itself offers, listed as FFmpeg describes them (name, help text and an editor that
// fits the option's type). Only options changed from their defaults end up in the settings.
// The dialog can be built and filled without being shown.
#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "engine/ffmpeg/writer/CodecCatalog.h"
#include "engine/ffmpeg/writer/CodecSettings.h"

class QComboBox;
class QSpinBox;
class QWidget;

namespace trimora {

class CodecSettingsDialog : public QDialog {
    Q_OBJECT
public:
    CodecSettingsDialog(const AviCodecEntry& entry, const CodecSettings& current, QWidget* parent = nullptr);

    // What the controls hold now.
    CodecSettings Settings() const;

    // The editor of one of the encoder's own options (object name "option:<name>"), or null.
    QWidget* OptionEditor(const std::string& name) const;
    // The options listed, in FFmpeg's order.
    std::vector<std::string> OptionNames() const;

private:
    struct OptionRow {
        std::string name;
        QWidget* editor = nullptr;
        std::function<std::string()> read;                // the editor's value as option text
        std::function<void(const std::string&)> write;    // shows a value given as option text
        std::string encoderDefault;                       // the default as FFmpeg prints it
        std::string defaultText;                          // what read() gives for that default
    };
    void BuildRateControls(const AviCodecEntry& entry, const CodecSettings& current);
    void BuildOptionRows(const AviCodecEntry& entry, const CodecSettings& current, QWidget* container);
    void UpdateRateControls();

    QComboBox* rateControl_ = nullptr;
    QSpinBox* bitRate_ = nullptr;
    QSpinBox* quality_ = nullptr;
    QSpinBox* keyframeInterval_ = nullptr;
    std::vector<OptionRow> options_;
};

}  // namespace trimora

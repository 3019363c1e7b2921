#include "engine/ffmpeg/writer/CodecSettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <set>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
}

#include "engine/FfmpegUtil.h"

namespace trimora {
namespace {

struct AvStringDeleter {
    void operator()(uint8_t* text) const { av_free(text); }
};

std::string DefaultText(void* object, const char* name) {
    uint8_t* raw = nullptr;
    if (av_opt_get(object, name, 0, &raw) < 0 || !raw) return {};
    const std::unique_ptr<uint8_t, AvStringDeleter> text(raw);
    return reinterpret_cast<const char*>(raw);
}

std::vector<const AVOption*> ConstantsOf(const AVClass* const* cls, const char* unit) {
    std::vector<const AVOption*> constants;
    if (!unit) return constants;
    const AVOption* option = nullptr;
    while ((option = av_opt_next(cls, option)))
        if (option->type == AV_OPT_TYPE_CONST && option->unit && std::string(option->unit) == unit)
            constants.push_back(option);
    return constants;
}

bool ParseInteger(const std::string& text, long long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 0);
    return end && *end == '\0';
}

QString HelpOf(const AVOption* option) { return option->help ? QString::fromUtf8(option->help) : QString(); }

}  // namespace

CodecSettingsDialog::CodecSettingsDialog(const AviCodecEntry& entry, const CodecSettings& current, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(tr("Settings of %1").arg(QString::fromStdString(entry.displayName)));
    setObjectName("CodecSettingsDialog");
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(QStringLiteral("<b>%1</b> &nbsp;(FFmpeg encoder \"%2\")")
                                 .arg(QString::fromStdString(entry.displayName).toHtmlEscaped(),
                                      QString::fromStdString(entry.encoderName)),
                             this);
    layout->addWidget(title);

    auto* rateBox = new QGroupBox(tr("Bit rate and keyframes"), this);
    auto* rateForm = new QFormLayout(rateBox);
    rateControl_ = new QComboBox(rateBox);
    rateControl_->setObjectName("rateControl");
    bitRate_ = new QSpinBox(rateBox);
    bitRate_->setObjectName("bitRate");
    quality_ = new QSpinBox(rateBox);
    quality_->setObjectName("quality");
    keyframeInterval_ = new QSpinBox(rateBox);
    keyframeInterval_->setObjectName("keyframeInterval");
    rateForm->addRow(tr("Rate control:"), rateControl_);
    rateForm->addRow(tr("Average bit rate:"), bitRate_);
    rateForm->addRow(tr("Quality:"), quality_);
    rateForm->addRow(tr("Keyframe every:"), keyframeInterval_);
    layout->addWidget(rateBox);
    BuildRateControls(entry, current);

    auto* optionsBox = new QGroupBox(tr("Options of the encoder"), this);
    auto* optionsLayout = new QVBoxLayout(optionsBox);
    auto* scroll = new QScrollArea(optionsBox);
    scroll->setWidgetResizable(true);
    auto* container = new QWidget(scroll);
    BuildOptionRows(entry, current, container);
    scroll->setWidget(container);
    optionsLayout->addWidget(scroll);
    layout->addWidget(optionsBox, 1);

    auto* buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::RestoreDefaults, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons->button(QDialogButtonBox::RestoreDefaults), &QPushButton::clicked, this, [this] {
        rateControl_->setCurrentIndex(0);
        keyframeInterval_->setValue(0);
        for (const OptionRow& row : options_) row.write(row.encoderDefault);
    });
    layout->addWidget(buttons);
    resize(560, 600);
}

void CodecSettingsDialog::BuildRateControls(const AviCodecEntry& entry, const CodecSettings& current) {
    using Mode = CodecSettings::RateControl;
    rateControl_->addItem(tr("Chosen by the encoder"), static_cast<int>(Mode::EncoderDefault));
    if (!entry.lossless) rateControl_->addItem(tr("Average bit rate"), static_cast<int>(Mode::BitRate));
    if (entry.quality != QualityScale::None)
        rateControl_->addItem(tr("Constant quality"), static_cast<int>(Mode::Quality));
    if (entry.lossless) rateControl_->setToolTip(tr("Lossless: the picture is kept exactly, there is no bit rate to choose."));

    bitRate_->setRange(16, 200000);
    bitRate_->setSuffix(tr(" kbit/s"));
    bitRate_->setValue(current.bitRateKbps > 0 ? current.bitRateKbps : 1500);

    if (entry.quality == QualityScale::Crf) {
        quality_->setRange(0, 51);
        quality_->setToolTip(tr("Constant rate factor: 0 is lossless, 18 looks like the original, 51 is the worst"));
        quality_->setValue(current.rateControl == Mode::Quality ? current.quality : 23);
    } else {
        quality_->setRange(1, 31);
        quality_->setToolTip(tr("Quantiser: 1 is the best picture and the largest file, 31 the worst"));
        quality_->setValue(current.rateControl == Mode::Quality ? current.quality : 3);
    }

    keyframeInterval_->setRange(0, 1000);
    keyframeInterval_->setSpecialValueText(tr("as the encoder chooses"));
    keyframeInterval_->setSuffix(tr(" frames"));
    keyframeInterval_->setValue(current.keyframeInterval);

    const int index = rateControl_->findData(static_cast<int>(current.rateControl));
    rateControl_->setCurrentIndex(index >= 0 ? index : 0);
    connect(rateControl_, &QComboBox::currentIndexChanged, this, [this] { UpdateRateControls(); });
    UpdateRateControls();
}

void CodecSettingsDialog::UpdateRateControls() {
    const auto mode = static_cast<CodecSettings::RateControl>(rateControl_->currentData().toInt());
    bitRate_->setEnabled(mode == CodecSettings::RateControl::BitRate);
    quality_->setEnabled(mode == CodecSettings::RateControl::Quality);
}

void CodecSettingsDialog::BuildOptionRows(const AviCodecEntry& entry, const CodecSettings& current,
                                          QWidget* container) {
    auto* form = new QFormLayout(container);
    const AVCodec* codec = avcodec_find_encoder_by_name(entry.encoderName.c_str());
    ff::CodecContextPtr context(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!codec || !codec->priv_class || !context || !context->priv_data) {
        form->addRow(new QLabel(tr("This encoder has no options of its own."), container));
        return;
    }
    const AVClass* const* cls = &codec->priv_class;
    std::set<std::string> seen;
    const AVOption* option = nullptr;
    while ((option = av_opt_next(cls, option))) {
        if (option->type == AV_OPT_TYPE_CONST || option->type == AV_OPT_TYPE_BINARY) continue;
        if (!(option->flags & AV_OPT_FLAG_ENCODING_PARAM)) continue;
        if (option->flags & (AV_OPT_FLAG_DEPRECATED | AV_OPT_FLAG_READONLY)) continue;
        if (!seen.insert(option->name).second) continue;

        OptionRow row;
        row.name = option->name;
        row.encoderDefault = DefaultText(context->priv_data, option->name);
        const std::vector<const AVOption*> constants = ConstantsOf(cls, option->unit);
        const bool integer = option->type == AV_OPT_TYPE_INT || option->type == AV_OPT_TYPE_INT64 ||
                             option->type == AV_OPT_TYPE_UINT64;

        if (option->type == AV_OPT_TYPE_FLAGS && !constants.empty()) {
            auto* box = new QWidget(container);
            auto* boxLayout = new QHBoxLayout(box);
            boxLayout->setContentsMargins(0, 0, 0, 0);
            std::vector<std::pair<const AVOption*, QCheckBox*>> checks;
            for (const AVOption* constant : constants) {
                auto* check = new QCheckBox(QString::fromUtf8(constant->name), box);
                check->setObjectName(QString::fromUtf8(constant->name));
                check->setToolTip(HelpOf(constant));
                boxLayout->addWidget(check);
                checks.emplace_back(constant, check);
            }
            boxLayout->addStretch();
            row.editor = box;
            row.read = [checks] {
                std::string text;
                for (const auto& [constant, check] : checks)
                    if (check->isChecked()) text += (text.empty() ? "" : "+") + std::string(constant->name);
                return text.empty() ? std::string("0") : text;
            };
            row.write = [checks](const std::string& text) {
                long long bits = 0;
                const bool numeric = ParseInteger(text, bits);
                std::set<std::string> names;
                if (!numeric) {
                    size_t start = 0;
                    while (start <= text.size()) {
                        const size_t end = text.find('+', start);
                        names.insert(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
                        if (end == std::string::npos) break;
                        start = end + 1;
                    }
                }
                for (const auto& [constant, check] : checks) {
                    const long long flag = constant->default_val.i64;
                    check->setChecked(numeric ? flag != 0 && (bits & flag) == flag : names.count(constant->name) > 0);
                }
            };
        } else if (integer && !constants.empty()) {
            auto* combo = new QComboBox(container);
            for (const AVOption* constant : constants) {
                combo->addItem(QString::fromUtf8(constant->name), QString::fromUtf8(constant->name));
                combo->setItemData(combo->count() - 1, HelpOf(constant), Qt::ToolTipRole);
            }
            row.editor = combo;
            row.read = [combo] { return combo->currentData().toString().toStdString(); };
            row.write = [combo, constants](const std::string& text) {
                int index = combo->findData(QString::fromStdString(text));
                long long number = 0;
                if (index < 0 && ParseInteger(text, number)) {
                    for (const AVOption* constant : constants)
                        if (constant->default_val.i64 == number) {
                            index = combo->findData(QString::fromUtf8(constant->name));
                            break;
                        }
                }
                if (index < 0) {
                    combo->addItem(QString::fromStdString(text), QString::fromStdString(text));
                    index = combo->count() - 1;
                }
                combo->setCurrentIndex(index);
            };
        } else if (option->type == AV_OPT_TYPE_BOOL) {
            auto* combo = new QComboBox(container);
            if (option->min < 0) combo->addItem(tr("automatic"), QStringLiteral("auto"));
            combo->addItem(tr("no"), QStringLiteral("false"));
            combo->addItem(tr("yes"), QStringLiteral("true"));
            row.editor = combo;
            row.read = [combo] { return combo->currentData().toString().toStdString(); };
            row.write = [combo](const std::string& text) {
                const int index = combo->findData(QString::fromStdString(text));
                if (index >= 0) combo->setCurrentIndex(index);
            };
        } else if (integer && option->min >= INT_MIN && option->max <= INT_MAX) {
            auto* spin = new QSpinBox(container);
            spin->setRange(static_cast<int>(option->min), static_cast<int>(option->max));
            row.editor = spin;
            row.read = [spin] { return std::to_string(spin->value()); };
            row.write = [spin](const std::string& text) {
                long long number = 0;
                if (ParseInteger(text, number)) spin->setValue(static_cast<int>(number));
            };
        } else if (option->type == AV_OPT_TYPE_DOUBLE || option->type == AV_OPT_TYPE_FLOAT) {
            auto* spin = new QDoubleSpinBox(container);
            spin->setDecimals(4);
            spin->setRange(std::max(option->min, -1e9), std::min(option->max, 1e9));
            row.editor = spin;
            row.read = [spin] { return QString::number(spin->value(), 'g', 10).toStdString(); };
            row.write = [spin](const std::string& text) {
                char* end = nullptr;
                const double value = std::strtod(text.c_str(), &end);
                if (end != text.c_str()) spin->setValue(value);
            };
        } else {
            auto* edit = new QLineEdit(container);
            row.editor = edit;
            row.read = [edit] { return edit->text().toStdString(); };
            row.write = [edit](const std::string& text) { edit->setText(QString::fromStdString(text)); };
        }

        row.editor->setObjectName(QStringLiteral("option:%1").arg(QString::fromUtf8(option->name)));
        row.editor->setToolTip(HelpOf(option));
        row.write(row.encoderDefault);
        row.defaultText = row.read();
        if (const auto chosen = current.privateOptions.find(row.name); chosen != current.privateOptions.end())
            row.write(chosen->second);

        auto* cell = new QWidget(container);
        auto* cellLayout = new QVBoxLayout(cell);
        cellLayout->setContentsMargins(0, 0, 0, 4);
        cellLayout->addWidget(row.editor);
        if (option->help) {
            auto* help = new QLabel(HelpOf(option), cell);
            help->setWordWrap(true);
            help->setStyleSheet(QStringLiteral("color: palette(mid); font-size: small;"));
            cellLayout->addWidget(help);
        }
        form->addRow(QString::fromUtf8(option->name) + ':', cell);
        options_.push_back(std::move(row));
    }
    if (options_.empty()) form->addRow(new QLabel(tr("This encoder has no options of its own."), container));
}

CodecSettings CodecSettingsDialog::Settings() const {
    CodecSettings settings;
    settings.rateControl = static_cast<CodecSettings::RateControl>(rateControl_->currentData().toInt());
    // Only the number that the chosen rate control uses is kept.
    if (settings.rateControl == CodecSettings::RateControl::BitRate) settings.bitRateKbps = bitRate_->value();
    if (settings.rateControl == CodecSettings::RateControl::Quality) settings.quality = quality_->value();
    settings.keyframeInterval = keyframeInterval_->value();
    for (const OptionRow& row : options_) {
        const std::string value = row.read();
        if (value != row.defaultText) settings.privateOptions[row.name] = value;
    }
    return settings;
}

QWidget* CodecSettingsDialog::OptionEditor(const std::string& name) const {
    for (const OptionRow& row : options_)
        if (row.name == name) return row.editor;
    return nullptr;
}

std::vector<std::string> CodecSettingsDialog::OptionNames() const {
    std::vector<std::string> names;
    for (const OptionRow& row : options_) names.push_back(row.name);
    return names;
}

}  // namespace trimora

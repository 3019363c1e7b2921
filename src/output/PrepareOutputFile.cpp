// Turning the output choices into writer settings and creating the output file, just before a
// job writes its first frame.
#include "output/PrepareOutputFile.h"

#include "app/Arithmetic.h"
#include "app/frmMain.h"

namespace trimora {

double NumberFromListText(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto isDigit = [&](qsizetype at) { return at < n && text[at] >= '0' && text[at] <= '9'; };
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    const qsizetype start = i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    qsizetype digits = 0;
    for (; isDigit(i); ++i) ++digits;
    if (i < n && text[i] == '.')
        for (++i; isDigit(i); ++i) ++digits;
    if (digits == 0) return 0;
    qsizetype end = i;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        qsizetype e = i + 1;
        if (e < n && (text[e] == '+' || text[e] == '-')) ++e;
        if (isDigit(e)) {
            while (isDigit(e)) ++e;
            end = e;
        }
    }
    // QString::toDouble reads the C locale's form, whatever the user's settings.
    bool ok = false;
    const double value = text.mid(start, end - start).toDouble(&ok);
    return ok ? value : 0;
}

namespace {

int32_t ChannelsFrom(const QComboBox* list) { return CheckedAdd<int32_t>(list->currentIndex(), 1); }

int32_t BitRateFrom(const QComboBox* list) { return RoundToInt32(NumberFromListText(list->currentText())); }

// The settings of the chosen container; false when there is nothing to create.
bool ApplyContainerSettings(frmMain& w, const std::string& path) {
    MediaFile& in = *w.VideoFileIn1;
    MediaFile& out = *w.VideoFileOut;
    switch (w.CurOutFormat) {
        case 0: {
            const int32_t channels = ChannelsFrom(w.cmbCnannelsAVI);
            if (w.optPCM->isChecked()) {
                out.SetPcmAudio(in.SampleRate(), channels, 16);
            } else if (w.optALAW->isChecked()) {
                out.SetAlawAudio(in.SampleRate(), channels);
            } else if (w.optULAW->isChecked()) {
                out.SetMulawAudio(in.SampleRate(), channels);
            } else if (w.optMP3->isChecked()) {
                out.SetMp3Audio(128, in.SampleRate(), channels);
            } else if (w.optGSM->isChecked()) {
                out.SetGsmAudio(in.SampleRate());
            } else if (w.optADPCM->isChecked()) {
                out.SetAdpcmAudio(in.SampleRate(), channels);
            }
            const int32_t width = in.Width();
            const int32_t height = in.Height();
            out.SetAviVideoParameters(width, height, NumberFromListText(w.cmbFramerateAVI->currentText()));
            out.CreateOutputFile(path, kContainerAvi);
            return true;
        }
        case 1: {
            int32_t version = 0;
            if (w.rbMPEG1->isChecked())
                version = 1;
            else if (w.rbMPEG2->isChecked())
                version = 2;
            else
                return false;
            const int32_t videoBitRate = BitRateFrom(w.cmbVideoBitrateMPEG);
            const int32_t width = in.Width();
            const int32_t height = in.Height();
            const double frameRate = NumberFromListText(w.cmbFramerateMPEG->currentText());
            out.SetMpegVideoParameters(version, videoBitRate, width, height, frameRate);
            const int32_t channels = ChannelsFrom(w.cmbCnannelsMPEG);
            const int32_t audioBitRate = BitRateFrom(w.cmbAudioBitrateMPEG);
            out.SetMpegAudioParameters(audioBitRate, in.SampleRate(), channels);
            out.CreateOutputFile(path, kContainerMpeg);
            return true;
        }
        case 2: {
            // The profile list runs from the writer's last profile down to its first.
            const auto profile =
                NarrowChecked<int16_t>(w.cmbWMVCodecs->count() - static_cast<int64_t>(w.cmbWMVCodecs->currentIndex()));
            out.SelectWmvProfile(profile);
            out.CreateOutputFile(path, kContainerWindowsMedia);
            return true;
        }
        default:
            return false;
    }
}

}  // namespace

OutputPreparation PrepareOutput(frmMain& w, const QString& fileName) {
    OutputPreparation result;
    try {
        MediaFile& in = *w.VideoFileIn1;
        MediaFile& out = *w.VideoFileOut;
        if (in.HasVideo()) {
            const int32_t width = in.Width();
            const int32_t height = in.Height();
            out.CopyVideoFormat(width, height, in.FrameRate());
        }
        if (in.HasAudio()) {
            const int32_t sampleRate = in.SampleRate();
            out.CopyAudioFormat(sampleRate, in.Channels());
        }
        out.SetHasVideo(in.HasVideo());
        out.SetHasAudio(in.HasAudio());
        result.created = ApplyContainerSettings(w, fileName.toStdString());
    } catch (const std::exception& error) {
        result.error = QString::fromUtf8(error.what());
        w.ShowMessage(result.error);
    }
    return result;
}

void frmMain::PrepareOutputFile(const QString& FileName) { PrepareOutput(*this, FileName); }

}  // namespace trimora

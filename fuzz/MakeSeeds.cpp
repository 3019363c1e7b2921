// Writes the fuzz targets' seed corpus into the folder given:
//   reader/    one tiny clip per container the test clip generator makes (and one without sound),
//              and the inputs of earlier findings
//   ini/       the shipped language files, one of them as UTF-16 and one as Windows-1252
//   registry/  registry files written by the store's own writer
// Usage: fuzz_make_seeds OUTPUT_FOLDER LANGUAGE_FOLDER
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include "TestClips.h"
#include "settings/RegistryStore.h"

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

void MakeReaderSeeds(const fs::path& folder) {
    for (const char* format : {"avi", "mpeg1", "mpeg2", "ts", "asf", "mov", "mp4", "mkv"}) {
        trimora::test::ClipSpec spec;
        spec.format = format;
        spec.width = 64;
        spec.height = 48;
        spec.frames = 8;
        spec.gop = 4;
        // Every sound encoder takes 48 kHz; PCM in AVI is kept small at 8 kHz.
        spec.sampleRate = spec.format == "avi" ? 8000 : 48000;
        spec.channels = 1;
        const fs::path clip = trimora::test::MakeClip(spec);
        fs::copy_file(clip, folder / (std::string(format) + clip.extension().string()),
                      fs::copy_options::overwrite_existing);
    }
    trimora::test::ClipSpec silent;
    silent.width = 64;
    silent.height = 48;
    silent.frames = 6;
    silent.gop = 3;
    silent.audio = false;
    fs::copy_file(trimora::test::MakeClip(silent), folder / "avi-video-only.avi", fs::copy_options::overwrite_existing);

    // Inputs of earlier findings (see README.md), so that every run replays them.
    trimora::test::ClipSpec colour;
    colour.format = "mpeg2";
    colour.width = 64;
    colour.height = 48;
    colour.frames = 6;
    colour.audio = false;
    colour.extraArgs = "-bsf:v mpeg2_metadata=matrix_coefficients=128";
    fs::copy_file(trimora::test::MakeClip(colour), folder / "finding-unknown-colour-matrix.mpeg",
                  fs::copy_options::overwrite_existing);
}

void MakeIniSeeds(const fs::path& folder, const fs::path& languages) {
    for (const auto& entry : fs::directory_iterator(languages))
        if (entry.path().extension() == ".ini")
            fs::copy_file(entry.path(), folder / entry.path().filename(), fs::copy_options::overwrite_existing);
    // The same captions as UTF-16 with a byte-order mark, and as Windows-1252 without one.
    std::string utf16 = "\xFF\xFE";
    for (const char c : std::string("[frmMain]\r\n0=Trimora\r\n1='quoted'\r\n; comment=no\r\n[Other]\r\n0=x\r\n"))
        utf16 += std::string{c, '\0'};
    utf16 += std::string("2=\xAC\x20\x3D\xD8\x00\xDE", 8);  // a euro sign and a surrogate pair
    Write(folder / "utf16.ini", utf16);
    Write(folder / "cp1252.ini", "[frmMain]\n 0 = Caf\xE9 \x80 \n[frmMain]\n1=later\n");
}

void MakeRegistrySeeds(const fs::path& folder) {
    trimora::RegistryHive hive;
    hive.SetValue("Software\\Trimora", "Language", std::string("English\0", 8));
    hive.SetValue("Software\\Trimora", "", std::string("default\0", 8));
    hive.SetValue("Software\\Trimora\\Paths", "Last \"input\"", std::string("C:\\video\\a.avi\0", 15));
    hive.SetValue("Software\\Odd%Name\x01", "raw", std::string("\x01\x7F\0bytes", 9));
    hive.CreateKey("Software\\Empty");
    Write(folder / "store.reg", hive.Serialize());
    Write(folder / "damaged.reg",
          "[Software\\Trimora]\n\"Language\"=\"Fran\xC3\xA7" "ais\"\n\"bad\"=\"unterminated\n"
          "[Software\\\\Doubled]\n\"k\"=raw:\"\\x00\\x41\"\n[%4]\n@=\"root\"\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER LANGUAGE_FOLDER\n", argv[0]);
        return 2;
    }
    try {
        const fs::path out(argv[1]);
        for (const char* part : {"reader", "ini", "registry"}) fs::create_directories(out / part);
        MakeReaderSeeds(out / "reader");
        MakeIniSeeds(out / "ini", argv[2]);
        MakeRegistrySeeds(out / "registry");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}

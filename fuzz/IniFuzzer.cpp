// Fuzzes the language-file reader: the input's bytes are a language file. Its text is decoded
// and looked up by the section and key names it holds itself, and by names it lacks.
// Rules: decoded text and every lookup's result are valid UTF-8; a result holds at most
// kProfileTextMaxCharacters characters; a name the file lacks gives the default.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "i18n/IniReader.h"

namespace {

using trimora::fuzz::Broken;

constexpr size_t kNamesTried = 4;

size_t Characters(const std::string& text) {
    size_t count = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++count;
    return count;
}

void CheckResult(const std::string& result, const std::string& section, const std::string& key) {
    if (!trimora::IsValidUtf8(result)) Broken("lookup [" + section + "] " + key + " gave text that is not UTF-8");
    if (Characters(result) > trimora::kProfileTextMaxCharacters)
        Broken("lookup [" + section + "] " + key + " gave " + std::to_string(Characters(result)) + " characters");
}

// The first few section names and key names written in the text, roughly as the reader sees
// them (it is the reader's own matching that is under test, so these only need to be close).
void CollectNames(const std::string& text, std::vector<std::string>& sections, std::vector<std::string>& keys) {
    size_t start = 0;
    while (start < text.size() && (sections.size() < kNamesTried || keys.size() < kNamesTried)) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.front() == '[') {
            const size_t close = line.rfind(']');
            if (close != std::string::npos && sections.size() < kNamesTried)
                sections.push_back(line.substr(1, close - 1));
        } else if (const size_t equals = line.find('='); equals != std::string::npos && keys.size() < kNamesTried) {
            keys.push_back(line.substr(0, equals));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = trimora::DecodeProfileText(bytes);
    if (!trimora::IsValidUtf8(text)) Broken("decoded text is not UTF-8");

    trimora::fuzz::WriteScratch(bytes);
    const std::string& path = trimora::fuzz::ScratchFile();
    std::vector<std::string> sections, keys;
    CollectNames(text, sections, keys);
    sections.push_back("frmMain");
    keys.push_back("0");
    for (const std::string& section : sections)
        for (const std::string& key : keys) CheckResult(trimora::ReadProfileString(section, key, "Default", path), section, key);

    // A name the text does not hold gives the default, without its trailing blanks.
    const std::string missing = "\x01\x02\x03";
    if (text.find(missing) == std::string::npos) {
        if (trimora::ReadProfileString(sections.front(), missing, "Default  ", path) != "Default")
            Broken("a key the file lacks did not give the default");
        if (trimora::ReadProfileString(missing, keys.front(), "Default", path) != "Default")
            Broken("a section the file lacks did not give the default");
    }
    return 0;
}

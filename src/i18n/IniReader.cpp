#include "i18n/IniReader.h"

#include <QString>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <system_error>
#include <filesystem>

namespace trimora {

namespace {

// Windows-1252 differs from Latin-1 in 0x80-0x9F. The five codes it leaves unassigned map to the
// C1 controls of the same number, as the Windows conversion does.
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

void AppendUtf8(std::string& out, char32_t code) {
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::string FromCp1252(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (unsigned char c : bytes) {
        if (c < 0x80)
            out += static_cast<char>(c);
        else if (c < 0xA0)
            AppendUtf8(out, kCp1252High[c - 0x80]);
        else
            AppendUtf8(out, c);
    }
    return out;
}

std::string FromUtf16(std::string_view bytes, bool bigEndian) {
    std::string out;
    auto unit = [&](std::size_t i) -> char16_t {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        return static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
    };
    const std::size_t count = bytes.size() / 2;
    for (std::size_t i = 0; i < count; ++i) {
        const char16_t first = unit(2 * i);
        if (first >= 0xD800 && first <= 0xDBFF && i + 1 < count) {
            const char16_t second = unit(2 * (i + 1));
            if (second >= 0xDC00 && second <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((char32_t(first) - 0xD800) << 10) + (second - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, first);  // a lone surrogate becomes U+FFFD
    }
    return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() == b.size() && a == b) return true;
    return QString::fromUtf8(a.data(), static_cast<qsizetype>(a.size()))
               .compare(QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size())),
                        Qt::CaseInsensitive) == 0;
}

std::string StripQuotes(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

std::string DefaultResult(const std::string& defaultText) {
    std::string_view text = defaultText;
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return CutToCharacters(std::string(text), kProfileTextMaxCharacters);
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    std::error_code error;
    if (path.empty() || !std::filesystem::is_regular_file(path, error)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) return false;
    bytes = content.str();
    return true;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length;
        char32_t code;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
        if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) || code > 0x10FFFF ||
            (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

std::string CutToCharacters(const std::string& text, std::size_t maxCharacters) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // inside a character
        if (characters == maxCharacters) return text.substr(0, i);
        ++characters;
    }
    return text;
}

std::string DecodeProfileText(std::string_view bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE)
        return FromUtf16(bytes.substr(2), false);
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
        static_cast<unsigned char>(bytes[1]) == 0xFF)
        return FromUtf16(bytes.substr(2), true);
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    if (IsValidUtf8(bytes)) return std::string(bytes);
    return FromCp1252(bytes);
}

// Corners, decided the way the platform reader behaves:
// - Lines before the first section header belong to no section and are never found.
// - A line whose first non-blank character is ";" is a comment, even when it holds "=".
//   A ";" later in a line is part of the value.
// - A line without "=" holds no value; looking up its text as a key gives the default.
// - A section header runs from "[" to the last "]" on the line; the name between them is taken
//   without surrounding blanks, and text after the "]" is ignored. A "[" line with no "]" does
//   not open a section: it stays an ordinary line of the section it stands in (a key named
//   "[..." if it holds "=").
// - When several sections share a name, only the first is searched; a key that appears only in
//   a later one gives the default.
std::string ReadProfileString(const std::string& section, const std::string& key,
                              const std::string& defaultText, const std::string& path) {
    std::string bytes;
    if (key.empty() || !ReadWholeFile(path, bytes)) return DefaultResult(defaultText);
    const std::string text = DecodeProfileText(bytes);

    bool inWantedSection = false;
    std::size_t start = 0;
    while (start < text.size()) {
        // A line ends with CR LF, LF or CR alone.
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + start, end - start);
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        line = TrimBlanks(line);
        if (line.empty()) continue;

        if (line.front() == '[') {
            const std::size_t close = line.rfind(']');
            if (close != std::string_view::npos) {
                if (inWantedSection) break;  // the first section of that name ended
                inWantedSection = SameName(TrimBlanks(line.substr(1, close - 1)), section);
                continue;
            }
        }
        if (!inWantedSection || line.front() == ';') continue;

        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view name = TrimBlanks(line.substr(0, equals));
        if (name.empty() || !SameName(name, key)) continue;
        return CutToCharacters(StripQuotes(TrimBlanks(line.substr(equals + 1))),
                               kProfileTextMaxCharacters);
    }
    return DefaultResult(defaultText);
}

}  // namespace trimora

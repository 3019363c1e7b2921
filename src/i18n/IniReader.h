#pragma once
// Reading the language files: initialization files of "[section]" lines and "key=value" lines,
// read the way the Windows private-profile reader reads them into a 255-character buffer.
#include <cstddef>
#include <string>
#include <string_view>

namespace trimora {

// The longest text a lookup gives: the buffer's 255 characters less the terminating zero.
inline constexpr std::size_t kProfileTextMaxCharacters = 254;

// The value of `key` in `section` of the file at `path`, as UTF-8 text.
// - A line ends with CR LF, LF or a CR alone.
// - Section and key names match without regard to letter case; blanks (spaces, tabs) around
//   names and values are dropped; the value is everything after the first "=".
// - A value enclosed in a matching pair of single or double quotes loses them.
// - The first section of that name is the one searched, and the first matching key in it wins.
// - At most kProfileTextMaxCharacters characters are returned; a longer text is cut between
//   characters, never inside a UTF-8 sequence.
// - A missing file, section or key gives defaultText (without trailing blanks and cut to the
//   same length, as the platform reader does); an empty value gives an empty text.
std::string ReadProfileString(const std::string& section, const std::string& key,
                              const std::string& defaultText, const std::string& path);

// A file's bytes as UTF-8 text: UTF-8 with or without a byte-order mark stays as it is, UTF-16
// with a byte-order mark is converted, and anything that is not valid UTF-8 is taken as
// Windows-1252 (the code page Western European Windows systems write such files in).
std::string DecodeProfileText(std::string_view bytes);

bool IsValidUtf8(std::string_view text);

// The first `maxCharacters` characters of UTF-8 text.
std::string CutToCharacters(const std::string& text, std::size_t maxCharacters);

}  // namespace trimora

#include "i18n/LanguageFiles.h"

#include <QString>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace trimora {

namespace {

QString ToQString(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool HasIniExtension(const std::string& name) {
    return name.size() > 4 && ToQString(name.substr(name.size() - 4)).compare(".ini", Qt::CaseInsensitive) == 0;
}

}  // namespace

std::vector<std::string> ListLanguageFiles(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    if (error) return names;
    for (const std::filesystem::directory_iterator end; it != end; it.increment(error)) {
        if (error) break;
        const std::string name = it->path().filename().string();
        std::error_code typeError;
        if (name.front() == '.' || !HasIniExtension(name) || !it->is_regular_file(typeError)) continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const int order = ToQString(a).compare(ToQString(b), Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a < b;
    });
    return names;
}

}  // namespace trimora

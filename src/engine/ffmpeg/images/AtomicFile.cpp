#include "engine/ffmpeg/images/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "engine/EngineError.h"

namespace trimora {

namespace {

namespace fs = std::filesystem;

std::string SystemText(int error) { return std::strerror(error); }

[[noreturn]] void Fail(const std::string& path, const std::string& reason) {
    throw EngineError("The picture could not be saved to \"" + path + "\": " + reason + ".");
}

// Closes and removes the temporary file unless it was handed over to the target.
class TemporaryFile {
public:
    TemporaryFile(int descriptor, std::string path) : descriptor_(descriptor), path_(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (descriptor_ >= 0) ::close(descriptor_);
        if (!kept_) ::unlink(path_.c_str());
    }
    int descriptor() const { return descriptor_; }
    const std::string& path() const { return path_; }
    // Closes the file, reporting the error a delayed write may only report now.
    int Close() {
        const int result = ::close(descriptor_);
        descriptor_ = -1;
        return result;
    }
    void Keep() { kept_ = true; }

private:
    int descriptor_;
    std::string path_;
    bool kept_ = false;
};

}  // namespace

void WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes) {
    if (path.empty()) throw EngineError("The picture could not be saved: no file name was given.");
    if (path.find('\0') != std::string::npos) Fail(path, "the name holds a character the system does not accept");

    // Replacing a link writes to the file it points at, and keeps the link.
    fs::path target(path);
    std::error_code ignored;
    if (fs::is_symlink(fs::symlink_status(target, ignored))) {
        const fs::path resolved = fs::weakly_canonical(target, ignored);
        if (!ignored) target = resolved;
    }
    if (fs::is_directory(target, ignored)) Fail(path, "a folder of that name exists");
    fs::path folder = target.parent_path();
    if (folder.empty()) folder = ".";

    // The temporary name does not grow with the target's name, so a name the system refuses
    // fails at the rename, after nothing but the temporary file was written. Created with 0666
    // like any new file, so the user's umask applies.
    int descriptor = -1;
    std::string temporaryPath;
    std::random_device random;
    for (int attempt = 0; attempt < 100 && descriptor < 0; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, ".trimora-picture-%08x", static_cast<unsigned>(random()));
        temporaryPath = (folder / name).string();
        descriptor = ::open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor < 0 && errno != EEXIST) break;
    }
    if (descriptor < 0) Fail(path, SystemText(errno));
    TemporaryFile temporary(descriptor, temporaryPath);

    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t result = ::write(temporary.descriptor(), bytes.data() + written, bytes.size() - written);
        if (result < 0) {
            if (errno == EINTR) continue;
            Fail(path, SystemText(errno));
        }
        written += static_cast<size_t>(result);
    }

    // A replaced picture keeps the permissions the file had.
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0 && ::fchmod(temporary.descriptor(), existing.st_mode & 07777) != 0)
        Fail(path, SystemText(errno));
    if (::fsync(temporary.descriptor()) != 0) Fail(path, SystemText(errno));
    if (temporary.Close() != 0) Fail(path, SystemText(errno));
    if (::rename(temporary.path().c_str(), target.c_str()) != 0) Fail(path, SystemText(errno));
    temporary.Keep();
}

}  // namespace trimora

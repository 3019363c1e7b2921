#include "engine/ffmpeg/writer/StagedOutputFile.h"

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

// Makes what has been written to `path` durable; returns 0 or the error number.
int SyncToDisk(const std::string& path, int flags) {
    const int descriptor = ::open(path.c_str(), flags | O_CLOEXEC);
    if (descriptor < 0) return errno;
    const int result = ::fsync(descriptor) == 0 || errno == EINVAL ? 0 : errno;
    ::close(descriptor);
    return result;
}

}  // namespace

StagedOutputFile::StagedOutputFile(const std::string& path) : path_(path) {
    if (path.empty()) throw EngineError("No name was given for the output file");
    auto fail = [&](const std::string& reason) {
        throw EngineError("Cannot create the output file \"" + path + "\": " + reason);
    };
    if (path.find('\0') != std::string::npos) fail("the name holds a character the system does not accept");

    std::error_code error;
    fs::path target = fs::absolute(fs::path(path), error);
    if (error) fail(error.message());
    // Replacing a link writes the file it points at and keeps the link.
    if (fs::is_symlink(fs::symlink_status(target, error))) {
        const fs::path resolved = fs::weakly_canonical(target, error);
        if (!error) target = resolved;
    }
    const fs::file_status status = fs::status(target, error);
    if (fs::is_directory(status)) fail("a folder of that name exists");
    target_ = target.string();
    // A device or a pipe is written as it is: it cannot be replaced, and what is written to it
    // cannot be taken back.
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        temporary_ = target_;
        done_ = true;
        return;
    }

    // The temporary name does not grow with the target's, so a long name that the system
    // accepts cannot fail here. Created like any new file (0666 and the user's umask).
    std::random_device random;
    int descriptor = -1;
    for (int attempt = 0; attempt < 100 && descriptor < 0; ++attempt) {
        char name[40];
        std::snprintf(name, sizeof name, ".trimora-output-%08x.part", static_cast<unsigned>(random()));
        temporary_ = (target.parent_path() / name).string();
        descriptor = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor < 0 && errno != EEXIST) break;
    }
    if (descriptor < 0) {
        done_ = true;
        fail(SystemText(errno));
    }
    // A replaced file keeps the permissions it had.
    struct stat existing {};
    if (::stat(target_.c_str(), &existing) == 0) (void)::fchmod(descriptor, existing.st_mode & 07777);
    ::close(descriptor);
}

StagedOutputFile::~StagedOutputFile() { Discard(); }

void StagedOutputFile::Keep() {
    if (done_) return;
    done_ = true;
    int error = SyncToDisk(temporary_, O_RDONLY);
    if (error == 0 && ::rename(temporary_.c_str(), target_.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temporary_.c_str());
        throw EngineError("Cannot save the output file \"" + path_ + "\": " + SystemText(error));
    }
    // The new name itself is on disk once the folder is.
    SyncToDisk(fs::path(target_).parent_path().string(), O_RDONLY | O_DIRECTORY);
}

void StagedOutputFile::Discard() {
    if (done_) return;
    done_ = true;
    ::unlink(temporary_.c_str());
}

}  // namespace trimora

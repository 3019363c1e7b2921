#include "engine/FfmpegUtil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace trimora::ff {

namespace {

struct FileReader {
    int fd = -1;
};

int ReadFile(void* opaque, uint8_t* buffer, int size) {
    const int fd = static_cast<FileReader*>(opaque)->fd;
    for (;;) {
        const ssize_t n = read(fd, buffer, static_cast<size_t>(size));
        if (n > 0) return static_cast<int>(n);
        if (n == 0) return AVERROR_EOF;
        if (errno != EINTR) return AVERROR(errno);
    }
}

int64_t SeekFile(void* opaque, int64_t offset, int whence) {
    const int fd = static_cast<FileReader*>(opaque)->fd;
    if (whence & AVSEEK_SIZE) {
        struct stat status {};
        return fstat(fd, &status) == 0 ? static_cast<int64_t>(status.st_size) : AVERROR(errno);
    }
    const off_t at = lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : static_cast<int64_t>(at);
}

}  // namespace

void InputContextDeleter::operator()(AVFormatContext* c) const {
    AVIOContext* own = c && (c->flags & AVFMT_FLAG_CUSTOM_IO) ? c->pb : nullptr;
    avformat_close_input(&c);
    CloseFileReader(own);
}

AVIOContext* OpenFileReader(const std::string& path, int bufferSize) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    auto* file = new FileReader{fd};
    auto* buffer = static_cast<unsigned char*>(av_malloc(static_cast<size_t>(bufferSize)));
    AVIOContext* reader = buffer ? avio_alloc_context(buffer, bufferSize, 0, file, ReadFile, nullptr, SeekFile) : nullptr;
    if (!reader) {
        av_free(buffer);
        close(fd);
        delete file;
        errno = ENOMEM;
    }
    return reader;
}

void CloseFileReader(AVIOContext* reader) {
    if (!reader) return;
    auto* file = static_cast<FileReader*>(reader->opaque);
    close(file->fd);
    delete file;
    av_freep(&reader->buffer);  // FFmpeg may have put a buffer of its own in place of the first
    avio_context_free(&reader);
}

std::string ErrorText(int errorCode) {
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(errorCode, buffer, sizeof buffer) < 0) return "error " + std::to_string(errorCode);
    return buffer;
}

int Check(int code, const std::string& what) {
    if (code < 0) throw EngineError(what + ": " + ErrorText(code));
    return code;
}

}  // namespace trimora::ff

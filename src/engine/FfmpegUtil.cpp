#include "engine/FfmpegUtil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace trimora::ff {

namespace {

struct FileReader {
    int fd = -1;
    int64_t end = -1;  // the reading ends here as at the end of the file (-1: at its end)
};

int ReadFile(void* opaque, uint8_t* buffer, int size) {
    const auto* file = static_cast<FileReader*>(opaque);
    const int fd = file->fd;
    if (file->end >= 0) {
        const off_t at = lseek(fd, 0, SEEK_CUR);
        if (at < 0) return AVERROR(errno);
        if (at >= file->end) return AVERROR_EOF;
        size = static_cast<int>(std::min<int64_t>(size, file->end - at));
    }
    for (;;) {
        const ssize_t n = read(fd, buffer, static_cast<size_t>(size));
        if (n > 0) return static_cast<int>(n);
        if (n == 0) return AVERROR_EOF;
        if (errno != EINTR) return AVERROR(errno);
    }
}

int64_t SeekFile(void* opaque, int64_t offset, int whence) {
    const auto* file = static_cast<FileReader*>(opaque);
    const int fd = file->fd;
    if (whence & AVSEEK_SIZE) {
        if (file->end >= 0) return file->end;
        struct stat status {};
        return fstat(fd, &status) == 0 ? static_cast<int64_t>(status.st_size) : AVERROR(errno);
    }
    const off_t at = lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : static_cast<int64_t>(at);
}

struct FileWriter {
    int fd = -1;
    int64_t position = 0;   // where the next write goes
    int64_t sentUpTo = 0;   // bytes before this are on their way to the disk
    bool sendOn = true;     // the file takes being sent on (a pipe or a device may not)
};

// What is written beyond the last range sent to the disk before the next range is sent.
constexpr int64_t kSendEvery = int64_t{8} << 20;

// FFmpeg 5 declares the written bytes as not const.
int WriteFile(void* opaque, uint8_t* buffer, int size) {
    auto* file = static_cast<FileWriter*>(opaque);
    for (int done = 0; done < size;) {
        const ssize_t n = write(file->fd, buffer + done, static_cast<size_t>(size - done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return AVERROR(errno);
        if (n == 0) return AVERROR(EIO);
        done += static_cast<int>(n);
        file->position += n;
    }
    if (file->sendOn && file->position - file->sentUpTo >= kSendEvery) {
        // Starts the writing of the range to the disk and goes on: no waiting for it here.
        if (file->position > file->sentUpTo &&
            sync_file_range(file->fd, file->sentUpTo, file->position - file->sentUpTo, SYNC_FILE_RANGE_WRITE) != 0)
            file->sendOn = false;
        file->sentUpTo = file->position;
    }
    return size;
}

int64_t SeekWrittenFile(void* opaque, int64_t offset, int whence) {
    auto* file = static_cast<FileWriter*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat status {};
        return fstat(file->fd, &status) == 0 ? static_cast<int64_t>(status.st_size) : AVERROR(errno);
    }
    const off_t at = lseek(file->fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    if (at < 0) return AVERROR(errno);
    file->position = at;
    // Going back (a header filled in at the end) is not new ground to send on.
    if (file->position < file->sentUpTo) file->sentUpTo = file->position;
    return static_cast<int64_t>(at);
}

// An I/O context with a buffer of `bufferSize` bytes on the open file `file` (FileReader or
// FileWriter); nullptr with errno set, and the file closed, where memory runs out.
template <typename File>
AVIOContext* WrapFile(File* file, int bufferSize, int writable, int (*read)(void*, uint8_t*, int),
                      int (*write)(void*, uint8_t*, int), int64_t (*seek)(void*, int64_t, int)) {
    auto* buffer = static_cast<unsigned char*>(av_malloc(static_cast<size_t>(bufferSize)));
    AVIOContext* context = buffer ? avio_alloc_context(buffer, bufferSize, writable, file, read, write, seek) : nullptr;
    if (!context) {
        av_free(buffer);
        close(file->fd);
        delete file;
        errno = ENOMEM;
    }
    return context;
}

}  // namespace

void OutputContextDeleter::operator()(AVFormatContext* c) const {
    if (c && c->pb && !(c->oformat->flags & AVFMT_NOFILE)) {
        if (c->flags & AVFMT_FLAG_CUSTOM_IO)
            CloseFileWriter(&c->pb);
        else
            avio_closep(&c->pb);
    }
    avformat_free_context(c);
}

void InputContextDeleter::operator()(AVFormatContext* c) const {
    AVIOContext* own = c && (c->flags & AVFMT_FLAG_CUSTOM_IO) ? c->pb : nullptr;
    avformat_close_input(&c);
    CloseFileReader(own);
}

AVIOContext* OpenFileReader(const std::string& path, int bufferSize, int64_t end) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    return WrapFile(new FileReader{fd, end}, bufferSize, 0, ReadFile, nullptr, SeekFile);
}

void CloseFileReader(AVIOContext* reader) {
    if (!reader) return;
    auto* file = static_cast<FileReader*>(reader->opaque);
    close(file->fd);
    delete file;
    av_freep(&reader->buffer);  // FFmpeg may have put a buffer of its own in place of the first
    avio_context_free(&reader);
}

AVIOContext* OpenFileWriter(const std::string& path, int bufferSize) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    auto* file = new FileWriter{fd};
    struct stat status {};
    const bool known = fstat(fd, &status) == 0;
    file->sendOn = known && S_ISREG(status.st_mode);
    AVIOContext* writer = WrapFile(file, bufferSize, 1, nullptr, WriteFile, SeekWrittenFile);
    // A pipe cannot be gone back in: the muxer then writes the file as a stream, with nothing
    // left to fill in at its end.
    if (writer && known && (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode))) writer->seekable = 0;
    return writer;
}

int CloseFileWriter(AVIOContext** writer) {
    if (!writer || !*writer) return 0;
    AVIOContext* w = *writer;
    avio_flush(w);
    int result = w->error;
    auto* file = static_cast<FileWriter*>(w->opaque);
    if (close(file->fd) != 0 && result >= 0) result = AVERROR(errno);
    delete file;
    av_freep(&w->buffer);
    avio_context_free(writer);
    return result < 0 ? result : 0;
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

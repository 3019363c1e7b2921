#pragma once
// The file an output is written to: a fresh temporary file in the target's folder, which takes
// the target's name only when the writer keeps it. Until then a file of that name stays as it
// was, and an output that is not kept leaves nothing behind. (A device such as /dev/null is
// written directly.)
#include <string>

namespace trimora {

class StagedOutputFile {
public:
    // `path` is a plain path (a relative one is taken from the current folder; nothing in it is
    // read as a protocol). Creates the empty temporary file; throws EngineError when the folder
    // cannot take it.
    explicit StagedOutputFile(const std::string& path);
    // Removes the temporary file unless it was kept.
    ~StagedOutputFile();
    StagedOutputFile(const StagedOutputFile&) = delete;
    StagedOutputFile& operator=(const StagedOutputFile&) = delete;

    // Where the output is written while it is being made.
    const std::string& TemporaryPath() const { return temporary_; }

    // Puts the finished file on disk and gives it the target's name, replacing a file of that
    // name. On failure (a folder that vanished, a name the system refuses) the temporary file is
    // removed and EngineError is thrown.
    void Keep();
    // Removes the temporary file; the target is not touched.
    void Discard();

private:
    std::string path_;       // as the user named it, for messages
    std::string target_;     // the absolute path that receives the file (a link's target)
    std::string temporary_;
    bool done_ = false;
};

}  // namespace trimora

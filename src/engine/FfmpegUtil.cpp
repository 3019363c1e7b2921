#include "engine/FfmpegUtil.h"

namespace trimora::ff {

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

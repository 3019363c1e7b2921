#pragma once
#include <stdexcept>
#include <string>

namespace trimora {

// Every engine operation reports failure by throwing this; what() is the text shown to the user.
class EngineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An open stopped by its caller (through the progress callback) before it finished.
class OpenCancelled : public EngineError {
public:
    OpenCancelled() : EngineError("The file was not opened: the open was cancelled.") {}
};

}  // namespace trimora

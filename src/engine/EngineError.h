#pragma once
#include <stdexcept>
#include <string>

namespace trimora {

// Every engine operation reports failure by throwing this; what() is the text shown to the user.
class EngineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace trimora

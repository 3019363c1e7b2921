#pragma once
// Sets an environment variable while the object lives, then puts back what was there. SDL reads
// its driver choice when its audio starts, which the player does on first use and undoes when
// destroyed, so a player (or a window) made inside the scope uses the driver named here.
#include <cstdlib>
#include <optional>
#include <string>

namespace trimora::test {

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) previous_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (previous_) setenv(name_.c_str(), previous_->c_str(), 1);
        else unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

}  // namespace trimora::test

// Stops every process of the test's PostgreSQL server with SIGSTOP (the
// commands come from scripts/with-postgres) and always lets it go on again,
// also when a check fails. Without the commands nothing is frozen.
#pragma once

#include <cstdlib>
#include <string>

namespace varnel::testing {

class FrozenServer {
public:
    FrozenServer() {
        const char* freeze = std::getenv("VARNEL_TEST_POSTGRES_FREEZE");
        const char* thaw = std::getenv("VARNEL_TEST_POSTGRES_THAW");
        if (freeze && thaw) {
            thaw_ = thaw;
            frozen_ = std::system(freeze) == 0;
        }
    }
    ~FrozenServer() { Thaw(); }
    FrozenServer(const FrozenServer&) = delete;
    FrozenServer& operator=(const FrozenServer&) = delete;
    bool frozen() const { return frozen_; }
    void Thaw() {
        if (frozen_) (void)std::system(thaw_.c_str());
        frozen_ = false;
    }

private:
    std::string thaw_;
    bool frozen_ = false;
};

}  // namespace varnel::testing

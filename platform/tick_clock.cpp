#include "tick_clock.h"

#include <chrono>

namespace {
class CSystemTickClock : public ITickClock {
public:
    uint32_t GetTickCount() override {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
        return static_cast<uint32_t>(ms.count());
    }
};
}  // namespace

ITickClock& SystemTickClock() {
    static CSystemTickClock clock;
    return clock;
}

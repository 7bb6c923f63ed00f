// Millisecond tick count as a wrapping 32-bit value. The player times its pauses with
// differences of two readings, so wrapping every 49.7 days is harmless.
#pragma once

#include <cstdint>

class ITickClock {
public:
    virtual ~ITickClock() = default;
    virtual uint32_t GetTickCount() = 0;
};

// The monotonic system clock.
ITickClock& SystemTickClock();

// A clock that only moves when told to; for tests.
class CFakeTickClock : public ITickClock {
public:
    explicit CFakeTickClock(uint32_t start = 1000) : m_now(start) {}
    uint32_t GetTickCount() override { return m_now; }
    void Advance(uint32_t ms) { m_now += ms; }
    void Set(uint32_t ms) { m_now = ms; }

private:
    uint32_t m_now;
};

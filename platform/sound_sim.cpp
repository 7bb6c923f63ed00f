#include "sound_sim.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <sys/stat.h>

namespace {

std::string FileNameOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Looks a path up in a table keyed by full paths and by bare file names; a full path
// beats a file name.
template <typename Map>
auto FindFor(const Map& map, const std::string& path) {
    auto it = map.find(path);
    if (it == map.end() && path.find('/') != std::string::npos)
        it = map.find(FileNameOf(path));
    return it;
}

}  // namespace

struct CSimSoundOutput::State {
    explicit State(ITickClock& c, uint32_t len) : clock(c), defaultLength(len) {}

    ITickClock& clock;
    mutable std::mutex lock;
    uint32_t defaultLength;
    std::map<std::string, uint32_t> lengths;
    std::set<std::string> failOpen;
    std::set<std::string> failPlay;
    bool hasOutput = true;
    std::vector<SimSoundEvent> events;
    int openCount = 0;

    void Record(const char* op, const std::string& path, uint32_t position) {
        events.push_back(SimSoundEvent{op, path, position});
    }
};

namespace {

class CSimSoundDevice : public ISoundDevice {
public:
    CSimSoundDevice(std::shared_ptr<CSimSoundOutput::State> state, std::string path, uint32_t length,
                    bool refusePlay)
        : m_state(std::move(state)), m_path(std::move(path)), m_length(length), m_refusePlay(refusePlay) {}

    ~CSimSoundDevice() override {
        std::lock_guard<std::mutex> lock(m_state->lock);
        m_state->Record("close", m_path, PositionLocked());
        --m_state->openCount;
    }

    bool Play() override {
        std::lock_guard<std::mutex> lock(m_state->lock);
        m_state->Record("play", m_path, PositionLocked());
        if (m_refusePlay)
            return false;
        m_base = PositionLocked();
        m_started = m_state->clock.GetTickCount();
        m_playing = true;
        return true;
    }

    void Stop() override {
        std::lock_guard<std::mutex> lock(m_state->lock);
        m_base = PositionLocked();
        m_playing = false;
        m_state->Record("stop", m_path, m_base);
    }

    void SeekToStart() override {
        std::lock_guard<std::mutex> lock(m_state->lock);
        m_state->Record("seek", m_path, PositionLocked());
        m_base = 0;
        m_started = m_state->clock.GetTickCount();
    }

    uint32_t PositionMs() override {
        std::lock_guard<std::mutex> lock(m_state->lock);
        return PositionLocked();
    }

    uint32_t LengthMs() override { return m_length; }

private:
    uint32_t PositionLocked() const {
        if (!m_playing)
            return m_base;
        // Unsigned difference: correct across the 32-bit wrap of the tick count.
        uint64_t pos = uint64_t{m_base} + (m_state->clock.GetTickCount() - m_started);
        return static_cast<uint32_t>(std::min<uint64_t>(pos, m_length));
    }

    std::shared_ptr<CSimSoundOutput::State> m_state;
    std::string m_path;
    uint32_t m_length;
    bool m_refusePlay;
    bool m_playing = false;
    uint32_t m_base = 0;     // position when playback last started or stopped
    uint32_t m_started = 0;  // tick count when playback last started
};

}  // namespace

CSimSoundOutput::CSimSoundOutput(ITickClock& clock, uint32_t defaultLengthMs)
    : m_state(std::make_shared<State>(clock, defaultLengthMs)) {}

CSimSoundOutput::~CSimSoundOutput() = default;

std::unique_ptr<ISoundDevice> CSimSoundOutput::Open(const std::string& path) {
    struct stat st {};
    bool exists = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);

    std::lock_guard<std::mutex> lock(m_state->lock);
    if (!exists || !m_state->hasOutput || FindFor(m_state->failOpen, path) != m_state->failOpen.end()) {
        m_state->Record("fail", path, 0);
        return nullptr;
    }
    auto len = FindFor(m_state->lengths, path);
    uint32_t length = len != m_state->lengths.end() ? len->second : m_state->defaultLength;
    bool refusePlay = FindFor(m_state->failPlay, path) != m_state->failPlay.end();
    m_state->Record("open", path, 0);
    ++m_state->openCount;
    return std::make_unique<CSimSoundDevice>(m_state, path, length, refusePlay);
}

bool CSimSoundOutput::HasOutput() {
    std::lock_guard<std::mutex> lock(m_state->lock);
    return m_state->hasOutput;
}

void CSimSoundOutput::SetHasOutput(bool available) {
    std::lock_guard<std::mutex> lock(m_state->lock);
    m_state->hasOutput = available;
}

void CSimSoundOutput::SetLength(const std::string& pathOrFileName, uint32_t ms) {
    std::lock_guard<std::mutex> lock(m_state->lock);
    m_state->lengths[pathOrFileName] = ms;
}

void CSimSoundOutput::SetDefaultLength(uint32_t ms) {
    std::lock_guard<std::mutex> lock(m_state->lock);
    m_state->defaultLength = ms;
}

void CSimSoundOutput::FailOpen(const std::string& pathOrFileName) {
    std::lock_guard<std::mutex> lock(m_state->lock);
    m_state->failOpen.insert(pathOrFileName);
}

void CSimSoundOutput::FailPlay(const std::string& pathOrFileName) {
    std::lock_guard<std::mutex> lock(m_state->lock);
    m_state->failPlay.insert(pathOrFileName);
}

std::vector<SimSoundEvent> CSimSoundOutput::Events() const {
    std::lock_guard<std::mutex> lock(m_state->lock);
    return m_state->events;
}

std::vector<std::string> CSimSoundOutput::Log() const {
    std::lock_guard<std::mutex> lock(m_state->lock);
    std::vector<std::string> lines;
    lines.reserve(m_state->events.size());
    for (const auto& e : m_state->events)
        lines.push_back(e.op + " " + FileNameOf(e.path));
    return lines;
}

void CSimSoundOutput::ClearLog() {
    std::lock_guard<std::mutex> lock(m_state->lock);
    m_state->events.clear();
}

int CSimSoundOutput::OpenCount() const {
    std::lock_guard<std::mutex> lock(m_state->lock);
    return m_state->openCount;
}

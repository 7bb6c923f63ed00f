#include "mci_player.h"

#include <atomic>

namespace {

// Device ids are handed out process-wide, one per opened sound, never -1 or 0.
int32_t NextDeviceId() {
    static std::atomic<int32_t> next{1};
    int32_t id = next.fetch_add(1);
    if (id <= 0) {
        next.store(2);
        id = 1;
    }
    return id;
}

}  // namespace

CKtMCIPlayer::CKtMCIPlayer(ISoundOutput* output)
    : m_nDeviceID(-1), m_dwLength(0), m_bPlaying(0), m_output(output ? output : &DefaultSoundOutput()) {}

CKtMCIPlayer::~CKtMCIPlayer() { Close(); }

BOOL CKtMCIPlayer::Open(const std::string& path) {
    Close();
    std::unique_ptr<ISoundDevice> device = m_output->Open(path);
    if (!device)
        return 0;
    m_device = std::move(device);
    m_nDeviceID = NextDeviceId();
    m_dwLength = m_device->LengthMs();
    return 1;
}

BOOL CKtMCIPlayer::OpenLater(const std::string& path) {
    Close();
    m_pendingPath = path;
    m_nDeviceID = NextDeviceId();
    m_dwLength = 0;
    return 1;
}

bool CKtMCIPlayer::OpenNow() {
    if (m_pendingPath.empty())
        return true;
    const std::string path = std::move(m_pendingPath);
    m_pendingPath.clear();
    std::unique_ptr<ISoundDevice> device = m_output->Open(path);
    if (!device) {
        m_nDeviceID = -1;
        return false;
    }
    m_device = std::move(device);
    m_dwLength = m_device->LengthMs();
    return true;
}

DWORD CKtMCIPlayer::Close() {
    m_pendingPath.clear();
    if (m_nDeviceID == -1)
        return 0;
    Stop();
    m_device.reset();
    m_nDeviceID = -1;
    m_bPlaying = 0;
    return 0;
}

BOOL CKtMCIPlayer::Play(DWORD flags) {
    if (m_nDeviceID == -1 || !OpenNow())
        return 0;
    Stop();
    // A refused play is not examined: the flag is set all the same, and the dialog sees
    // a sound that never reaches its end until the learner stops it.
    m_device->Play();
    m_bPlaying = 1;
    return 1;
}

BOOL CKtMCIPlayer::Stop() {
    if (m_bPlaying) {
        if (m_device)
            m_device->Stop();
        m_bPlaying = 0;
    }
    return 1;
}

BOOL CKtMCIPlayer::SeekToStart() {
    if (m_nDeviceID == -1)
        return 0;
    if (m_device)  // one not opened yet stands at its start
        m_device->SeekToStart();
    return 1;
}

DWORD CKtMCIPlayer::GetPosition() {
    if (m_nDeviceID == -1 || !m_device)
        return 0;
    return m_device->PositionMs();
}

// The page sound player: one sound file open at a time, played asynchronously from its
// current position, with position and length in milliseconds. The dialog finds the end of
// a sound by polling the position against m_dwLength; no notification is sent.
#pragma once

#include "sound_output.h"
#include "wintypes.h"

#include <memory>
#include <string>

class CKtMCIPlayer {
public:
    // output: where sounds are opened; null means DefaultSoundOutput().
    explicit CKtMCIPlayer(ISoundOutput* output = nullptr);
    virtual ~CKtMCIPlayer();
    CKtMCIPlayer(const CKtMCIPlayer&) = delete;
    CKtMCIPlayer& operator=(const CKtMCIPlayer&) = delete;

    // Closes any open sound, then opens path and reads its length. 1 opened, 0 failed
    // (the player is then closed, whatever it held before).
    BOOL Open(const std::string& path);
    // Takes the path as the open sound but decodes it only when it is first played
    // (or OpenNow is called), so a page can show before its sound is read. Always 1;
    // m_dwLength stays 0 until then.
    BOOL OpenLater(const std::string& path);
    // Opens the sound taken by OpenLater. False, with the player closed, when it does
    // not open; true when it opens or nothing waits.
    bool OpenNow();
    bool IsOpenPending() const { return !m_pendingPath.empty(); }
    // Stops and closes the sound. 0 (success) also when nothing was open.
    DWORD Close();
    // Plays from the current position and returns at once; 0 when no sound is open
    // (also when one taken by OpenLater does not open now).
    // Only flags 0 (to the end, from where the sound stands) is used by this system.
    BOOL Play(DWORD flags);
    // Stops if playing; the position is kept. Always 1.
    BOOL Stop();
    // Rewinds to the start; 0 when no sound is open.
    BOOL SeekToStart();
    // Position in milliseconds; 0 when no sound is open. Equals m_dwLength once the
    // sound has run to its end.
    DWORD GetPosition();

    int32_t m_nDeviceID;  // id of the open sound; -1 when none
    DWORD m_dwLength;     // length of the open sound in ms, read when it was opened
    BOOL m_bPlaying;      // 1 from Play until Stop or Close; a natural end leaves it set

private:
    ISoundOutput* m_output;
    std::unique_ptr<ISoundDevice> m_device;
    std::string m_pendingPath;  // taken by OpenLater, not opened yet
};

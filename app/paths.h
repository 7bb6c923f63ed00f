// Folder and file helpers shared by start-up and the main dialog. Paths are byte
// strings (CP949 file names stay as they are), joined with "/", folders without a
// trailing "/".
#pragma once

#include <string>

#include "wintypes.h"

// The folder that holds the Temp folder, the Downloads folder and the recording
// ("the data folder"): the executable's folder when it is the user's own and
// writable (not under /usr) and holds no Temp, Downloads or Outbox folder that the
// player did not make (a copy dropped among the user's files must not take theirs), else the
// per-user data folder ($XDG_DATA_HOME/Dazuzor/Vorur_Ozudiz2, created 0700 on
// demand). VORUR_DATA_DIR, when set, names it outright. Decided on the first call and
// kept for the process. False, with an empty folder, when no folder can be found.
bool GetModuleFolder(std::string& folder);
// Whether a copy of the player in folder keeps its files there, as above.
bool IsPortableFolder(const std::string& folder);

// The folder of the running executable, where the codec library is looked up.
bool GetExecutableFolder(std::string& folder);

// Forgets the folder decided by GetModuleFolder; for tests.
void ResetModuleFolderForTesting();

// True when the path names an existing file or folder.
bool FileExists(const std::string& path);

// Creates every missing folder along the path; true when no creation failed. The
// folders it creates get mode (before the umask).
bool CreateDirectories(const std::string& path, unsigned mode = 0777);

// The file inside each folder the player makes for itself (Temp, Downloads): a folder
// of the same name without it is someone else's.
constexpr const char kOwnFolderMark[] = ".vorur-ozudiz";

// "<module folder>/Temp", created (0700) and marked on every call (the result is not
// looked at).
std::string GetTempFolder();

// Deletes every file directly inside the folder, except the player's mark;
// subfolders stay untouched.
void ClearFolderFiles(const std::string& folder);

// A folder for this run's download, "<module folder>/Downloads/run-XXXXXX" (0700):
// nothing else ever lies at the package's path, not even the source of a file:// URL,
// so nothing has to be deleted to make room. The run folders that earlier runs left
// (a run that was killed) are emptied and removed first. False when none can be made.
bool MakeDownloadFolder(std::string& folder);
// Removes a folder made by MakeDownloadFolder with whatever the run left in it.
void RemoveDownloadFolder(const std::string& folder);

// The name with the letters a-z in upper case; CP949 double-byte characters stay as
// they are (their second byte may look like a letter).
std::string FoldNameCase(const std::string& name);
// Equal but for the case of the letters A-Z, as FoldNameCase sees it.
bool EqualsIgnoringCase(const std::string& a, const std::string& b);

// The path of name inside folder, letter case aside: the exact name when something of
// that name exists; else the entry whose name equals it ignoring the case of the
// letters A-Z (CP949 double-byte characters compare exactly), the first of them in
// byte order when several do; else the exact path, which names nothing.
std::string FindFileIgnoringCase(const std::string& folder, const std::string& name);

// Joins a folder and a name with one "/".
std::string JoinPath(const std::string& folder, const std::string& name);

// The "SpeakerRec" setting. value becomes 1 first; true and the stored value when it
// could be read.
bool ReadSpeakerRecSetting(DWORD& value);

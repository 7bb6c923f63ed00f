// Folder and file helpers shared by start-up and the main dialog. Paths are byte
// strings (CP949 file names stay as they are), joined with "/", folders without a
// trailing "/".
#pragma once

#include <string>

#include "wintypes.h"

// The folder that holds the Temp folder, the downloaded package and the recording:
// the executable's folder when it is the user's own and writable (not under /usr),
// else the per-user data
// folder ($XDG_DATA_HOME/Dazuzor/Vorur_Ozudiz2, created on demand). VORUR_DATA_DIR,
// when set, names it outright. Decided on the first call and kept for the process.
// False, with an empty folder, when no folder can be found.
bool GetModuleFolder(std::string& folder);

// The folder of the running executable, where the codec library is looked up.
bool GetExecutableFolder(std::string& folder);

// Forgets the folder decided by GetModuleFolder; for tests.
void ResetModuleFolderForTesting();

// True when the path names an existing file or folder.
bool FileExists(const std::string& path);

// Creates every missing folder along the path; true when no creation failed.
bool CreateDirectories(const std::string& path);

// "<module folder>/Temp", created on every call (the result of the creation is not
// looked at).
std::string GetTempFolder();

// Deletes every file directly inside the folder; subfolders stay untouched.
void ClearFolderFiles(const std::string& folder);

// Joins a folder and a name with one "/".
std::string JoinPath(const std::string& folder, const std::string& name);

// The "SpeakerRec" setting. value becomes 1 first; true and the stored value when it
// could be read.
bool ReadSpeakerRecSetting(DWORD& value);

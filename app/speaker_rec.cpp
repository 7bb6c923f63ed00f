#include "paths.h"
#include "settings.h"

bool ReadSpeakerRecSetting(DWORD& value) {
    value = 1;
    DWORD stored = 0;
    if (!ReadSettingDword("SpeakerRec", stored))
        return false;
    value = stored;
    return true;
}

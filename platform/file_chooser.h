// The file-open chooser of the player (Ctrl+O). Tests substitute a scripted one.
#pragma once

#include <string>

class IFileChooser {
public:
    virtual ~IFileChooser() = default;
    // filter is "Label (*.ext)". Returns true and the chosen existing path when the
    // user confirmed a file.
    virtual bool ChooseOpenFile(const std::string& filter, std::string& path) = 0;
};

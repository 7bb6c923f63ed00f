#include "launch_args.h"

#include "paths.h"

std::string LocalFileName(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        if (c == '%')
            out += "%25";
        else if (c == '/')
            out += "%2F";
        else
            out += c;
    }
    return out;
}

LaunchArgsCheck ParseLaunchArgs(const std::vector<std::string>& args, const std::string& moduleFolder,
                                LaunchArgs& out) {
    if (args.size() != 7)
        return LaunchArgsCheck::WrongCount;

    out.url = args[0];
    out.id = args[1];
    out.classId = args[2];
    out.uploadTag1 = args[3];
    out.uploadTag2 = args[4];
    out.uploadTag3 = args[5];
    out.times = args[6];
    out.practiceMode = EqualsIgnoringCase(out.times, "PRACTICE") ? 1 : 0;

    // "/" and "." never occur as the second byte of a CP949 character, so a byte
    // search is safe here.
    size_t slash = out.url.rfind('/');
    if (slash == std::string::npos)
        return LaunchArgsCheck::NoSlash;
    std::string packageName = out.url.substr(slash + 1);
    // "." and ".." would name a folder, not a package file.
    if (packageName.find('.') == std::string::npos || packageName == "." || packageName == "..")
        return LaunchArgsCheck::BadPackageName;

    out.packageName = packageName;
    out.uploadFileName = out.uploadTag1 + "_" + out.uploadTag2 + "_" + out.uploadTag3 + "_SP_" + out.id + ".mp3";
    out.recordingPath = JoinPath(moduleFolder, LocalFileName(out.uploadFileName));
    return LaunchArgsCheck::Accepted;
}

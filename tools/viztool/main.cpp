// viztool: lesson packages for the people who author and check them.
//
//   viztool pack MANIFEST.json OUT.viz
//   viztool dump FILE
//   viztool extract PACKAGE FOLDER
//   viztool check PACKAGE
//
// Exit status: 0 done, 1 the input does not load or has problems, 2 wrong usage.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include <QCoreApplication>

#include "cfg_file.h"
#include "codepage.h"
#include "diagnostics.h"
#include "manifest.h"
#include "media_check.h"
#include "paths.h"
#include "unzipper.h"

namespace {

const char kConfigName[] = "config.cfg";

const char kUsage[] =
    "usage: viztool COMMAND ARGUMENTS\n"
    "\n"
    "Lesson packages (.viz) for authors.\n"
    "\n"
    "commands:\n"
    "  pack MANIFEST.json OUT.viz   build a package from a lesson manifest\n"
    "  dump FILE                    print the lesson of a package or of a config.cfg as JSON\n"
    "  extract PACKAGE FOLDER       extract a package as the player does\n"
    "  check PACKAGE                list pages whose picture or sound is missing or does not decode\n"
    "\n"
    "'viztool COMMAND --help' describes a command.\n";

const char kPackHelp[] =
    "usage: viztool pack MANIFEST.json OUT.viz\n"
    "\n"
    "Builds a lesson package from a manifest: one JSON object\n"
    "  {\"textBesidePicture\": 0,\n"
    "   \"pages\": [{\"soundFile\": \"01.mp3\", \"pictureFile\": \"01.jpg\",\n"
    "              \"questionText\": \"\", \"answerText\": \"\",\n"
    "              \"waitSeconds\": 3, \"fontSize\": 20}, null, ...]}\n"
    "textBesidePicture 0 draws the texts over the picture, 1 beside it. null is an\n"
    "empty page slot. Texts are UTF-8 and must fit the lessons' code page (CP949);\n"
    "questionText and answerText may be left out. Sound and picture files are plain\n"
    "file names in the manifest's folder; each is packed once, after config.cfg.\n"
    "OUT.viz is replaced only when the whole package was written.\n";

const char kDumpHelp[] =
    "usage: viztool dump FILE\n"
    "\n"
    "Prints the lesson of FILE, a package or a bare config.cfg, as JSON on standard\n"
    "output, in the manifest form that 'viztool pack' reads (texts converted from\n"
    "CP949 to UTF-8, null for an empty page slot). Exit status 1, with one line on\n"
    "standard error, when the file does not load.\n";

const char kExtractHelp[] =
    "usage: viztool extract PACKAGE FOLDER\n"
    "\n"
    "Extracts every file of PACKAGE into FOLDER exactly as the player does: without\n"
    "the archive's folders (folder entries make nothing), replacing files of the\n"
    "same name, refusing names that would lead outside FOLDER, damaged data and\n"
    "entries larger than 2 GiB. When it fails, the files it wrote are deleted again.\n";

const char kCheckHelp[] =
    "usage: viztool check PACKAGE\n"
    "\n"
    "Extracts PACKAGE into a temporary folder as the player does, loads its\n"
    "config.cfg and lists every page (counted from 1) whose picture or sound is not\n"
    "named, is missing from the package or does not decode, and every empty page\n"
    "slot. Names are looked up as the player does: when the exact name is missing,\n"
    "one that differs only in letter case serves. Exit status 0 when there is\n"
    "nothing to report, 1 otherwise.\n";

// Messages are one line: control bytes from names would break that.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    }
    return text;
}

int Fail(const std::string& command, const std::string& text) {
    std::fprintf(stderr, "viztool %s: %s\n", command.c_str(), OneLine(text).c_str());
    return 1;
}

int Usage(const char* help) {
    std::fputs(help, stderr);
    return 2;
}

bool WantsHelp(const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h")
            return true;
    }
    return false;
}

std::string Shown(const std::string& cp949) {
    std::string utf8;
    Cp949ToUtf8(cp949, utf8);
    return "\"" + utf8 + "\"";
}

bool LooksLikeZip(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char magic[2] = {};
    return in.read(magic, 2) && magic[0] == 'P' && magic[1] == 'K';
}

std::string BaseName(const std::string& name) {
    size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

// The lesson inside a package: its config.cfg as the player would find it after a
// flat extraction. That is the file named exactly config.cfg when there is one, else
// the first in byte order of the names that differ from it only in letter case; of
// several entries of that name, the last one wins.
bool LoadFromPackage(const std::string& path, CCfgFile& cfg, std::string& why) {
    CUnzipper unz;
    if (!unz.OpenArchive(path.c_str())) {
        why = unz.GetError();
        return false;
    }
    // Walks the entries; each (file) entry's base name goes to visit, which returns
    // whether to take that entry's data.
    std::string config;
    auto walk = [&](const std::function<bool(const std::string&)>& visit) {
        if (!unz.FirstEntry()) {
            why = "the package holds no entries";
            return false;
        }
        do {
            ZipEntryInfo info;
            if (!unz.ReadEntryInfo(info)) {
                why = unz.GetError();
                return false;
            }
            if (info.isFolder || !visit(BaseName(info.name)))
                continue;
            if (!unz.ExtractEntryToMemory(config)) {
                why = unz.GetError();
                return false;
            }
        } while (unz.NextEntry());
        if (!unz.AtEndOfList()) {
            why = unz.GetError();
            return false;
        }
        return true;
    };
    std::string chosen;
    if (!walk([&](const std::string& base) {
            if (EqualsIgnoringCase(base, kConfigName) && chosen != kConfigName &&
                (chosen.empty() || base == kConfigName || base < chosen))
                chosen = base;
            return false;
        }))
        return false;
    if (chosen.empty()) {
        why = "the package holds no config.cfg";
        return false;
    }
    // The player reads no larger config.cfg; the limit also keeps it from filling memory.
    unz.SetLimits(CCfgFile::kMaxFileBytes, CUnzipper::kDefaultArchiveLimit);
    if (!walk([&](const std::string& base) { return base == chosen; }))
        return false;
    if (!cfg.LoadFromBytes(config.data(), config.size())) {
        why = std::string("config.cfg: ") + DescribeArchiveFault(cfg.GetLastFault());
        return false;
    }
    return true;
}

int Pack(const std::vector<std::string>& args) {
    if (WantsHelp(args)) {
        std::fputs(kPackHelp, stdout);
        return 0;
    }
    if (args.size() != 2)
        return Usage(kPackHelp);
    std::string error;
    if (!PackManifest(args[0], args[1], &error))
        return Fail("pack", error);
    return 0;
}

int Dump(const std::vector<std::string>& args) {
    if (WantsHelp(args)) {
        std::fputs(kDumpHelp, stdout);
        return 0;
    }
    if (args.size() != 1)
        return Usage(kDumpHelp);
    const std::string& path = args[0];
    CCfgFile cfg;
    if (LooksLikeZip(path)) {
        std::string why;
        if (!LoadFromPackage(path, cfg, why))
            return Fail("dump", path + ": " + why);
    } else if (!cfg.Load(path)) {
        if (cfg.GetLastFault() == ArchiveFault::FileError)
            return Fail("dump", path + ": " + (FileExists(path) ? "cannot be read" : "no such file"));
        return Fail("dump", path + ": not a lesson configuration: " + DescribeArchiveFault(cfg.GetLastFault()));
    }
    // Written as it is made: a lesson of millions of pages is never held twice.
    WriteLessonJson(
        cfg, [](const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); },
        [](const std::string& w) { std::fprintf(stderr, "viztool dump: warning: %s\n", OneLine(w).c_str()); });
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

int Extract(const std::vector<std::string>& args) {
    if (WantsHelp(args)) {
        std::fputs(kExtractHelp, stdout);
        return 0;
    }
    if (args.size() != 2)
        return Usage(kExtractHelp);
    std::string error;
    if (!ExtractPackage(args[0], args[1], &error))
        return Fail("extract", args[0] + ": " + error);
    return 0;
}

class ScratchFolder {
public:
    ScratchFolder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/viztool-XXXXXX";
        if (mkdtemp(pattern.data()))
            m_path = pattern;
    }
    ~ScratchFolder() {
        if (!m_path.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(m_path, ec);
        }
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

int Check(const std::vector<std::string>& args) {
    if (WantsHelp(args)) {
        std::fputs(kCheckHelp, stdout);
        return 0;
    }
    if (args.size() != 1)
        return Usage(kCheckHelp);
    const std::string& package = args[0];
    ScratchFolder scratch;
    if (scratch.path().empty())
        return Fail("check", "cannot create a temporary folder");
    std::string error;
    if (!ExtractPackage(package, scratch.path(), &error))
        return Fail("check", package + ": " + error);
    CCfgFile cfg;
    if (!cfg.Load(FindFileIgnoringCase(scratch.path(), kConfigName))) {
        if (cfg.GetLastFault() == ArchiveFault::FileError)
            return Fail("check", package + ": the package holds no config.cfg");
        return Fail("check", package + ": config.cfg: " + DescribeArchiveFault(cfg.GetLastFault()));
    }
    std::string why;
    if (!InitMediaCheck(&why))
        return Fail("check", "the sound decoders cannot be set up: " + why);

    // The package's files, listed once: a lesson of a million pages must not make a
    // million folder scans or decodes. As the player finds them: the exact name, else
    // the first in byte order of those equal to it ignoring letter case.
    std::map<std::string, std::string> byFoldedName;
    if (DIR* folder = opendir(scratch.path().c_str())) {
        while (struct dirent* entry = readdir(folder)) {
            std::string name = entry->d_name;
            std::string& first = byFoldedName[FoldNameCase(name)];
            if (first.empty() || name < first)
                first = name;
        }
        closedir(folder);
    }
    auto find = [&](const std::string& name) -> std::string {
        struct stat st;
        if (lstat(JoinPath(scratch.path(), name).c_str(), &st) == 0)
            return name;
        auto it = byFoldedName.find(FoldNameCase(name));
        return it == byFoldedName.end() ? std::string() : it->second;
    };
    // "picture/01.jpg" -> why it does not decode as one ("" when it does).
    std::map<std::string, std::string> verdicts;

    // Each problem is printed as it is found, never gathered.
    long problems = 0;
    auto report = [&problems](const std::string& text) {
        std::printf("%s\n", OneLine(text).c_str());
        ++problems;
    };
    if (cfg.GetPackCount() == 0)
        report("the lesson has no pages");
    for (int i = 0; i < cfg.GetPackCount(); ++i) {
        std::string page = "page " + std::to_string(i + 1) + ": ";
        const CCfgPack* pack = cfg.GetPack(i);
        if (!pack) {
            report(page + "empty slot, the player cannot show it");
            continue;
        }
        struct Item {
            const char* kind;
            const std::string* name;
            bool (*decodes)(const std::string&, std::string*);
        } items[] = {{"picture", &pack->pictureFile, &PictureDecodes}, {"sound", &pack->soundFile, &SoundDecodes}};
        for (const Item& item : items) {
            if (item.name->empty()) {
                report(page + "no " + item.kind + " named");
                continue;
            }
            std::string file = item.name->find('/') == std::string::npos ? find(*item.name) : std::string();
            std::string path = JoinPath(scratch.path(), file);
            struct stat st;
            if (file.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
                report(page + item.kind + " " + Shown(*item.name) + " is missing from the package");
                continue;
            }
            std::string key = std::string(item.kind) + "/" + file;
            auto known = verdicts.find(key);
            if (known == verdicts.end()) {
                std::string reason;
                if (!item.decodes(path, &reason) && reason.empty())
                    reason = "unknown reason";
                known = verdicts.emplace(key, reason).first;
            }
            if (!known->second.empty())
                report(page + item.kind + " " + Shown(*item.name) + " does not decode: " + known->second);
        }
    }
    ShutdownMediaCheck();

    if (problems == 0)
        std::printf("%d pages, every picture and sound present and decodable\n", cfg.GetPackCount());
    std::fflush(stdout);
    return problems == 0 ? 0 : 1;
}

}  // namespace

static int Run(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return Usage(kUsage);
    std::string command = args[0];
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "pack")
        return Pack(args);
    if (command == "dump")
        return Dump(args);
    if (command == "extract")
        return Extract(args);
    if (command == "check") {
        // Picture decoding looks up Qt's image format plugins.
        QCoreApplication app(argc, argv);
        return Check(args);
    }
    std::fprintf(stderr, "viztool: unknown command \"%s\"\n", OneLine(command).c_str());
    return Usage(kUsage);
}

int main(int argc, char** argv) {
    OpenClosedStandardFiles();
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("viztool: out of memory\n", stderr);
        return 1;
    }
}

// Fuzz target: extraction of an archive held in memory.
//
// Beyond not crashing: whatever the archive holds, nothing appears beside the two
// destination folders and no link is ever created; flat extraction makes no folder;
// an extraction that fails leaves no file behind.
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "unzipper.h"

namespace {

struct Sandbox {
    std::string root, top, flat, keep;
    Sandbox() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz-unzip-XXXXXX";
        if (!mkdtemp(pattern.data()))
            abort();
        root = pattern;
        top = root + "/top";
        flat = top + "/flat";
        keep = top + "/keep";
    }
    // A test run leaves nothing in the temporary folder.
    ~Sandbox() {
        Clear();
        rmdir(root.c_str());
    }
    bool Allowed(const std::string& path) const {
        if (path == root || path == top)
            return true;
        for (const std::string* dir : {&flat, &keep}) {
            if (path == *dir || path.rfind(*dir + "/", 0) == 0)
                return true;
        }
        return false;
    }
    void Verify() const;
    void Clear() const;
};

const Sandbox* g_box = nullptr;
int g_files = 0;
int g_folders = 0;

int Inspect(const char* path, const struct stat* st, int type, struct FTW*) {
    if (type == FTW_SL || type == FTW_SLN || S_ISLNK(st->st_mode) || !g_box->Allowed(path))
        abort();
    return 0;
}

int Count(const char*, const struct stat* st, int, struct FTW* ftw) {
    if (ftw->level > 0)
        ++(S_ISDIR(st->st_mode) ? g_folders : g_files);
    return 0;
}

// Files and folders below folder.
void Census(const std::string& folder, int& files, int& folders) {
    g_files = g_folders = 0;
    nftw(folder.c_str(), Count, 16, FTW_PHYS);
    files = g_files;
    folders = g_folders;
}

int Remove(const char* path, const struct stat*, int, struct FTW*) {
    remove(path);
    return 0;
}

void Sandbox::Verify() const {
    g_box = this;
    nftw(root.c_str(), Inspect, 16, FTW_PHYS);
}

void Sandbox::Clear() const { nftw(top.c_str(), Remove, 16, FTW_DEPTH | FTW_PHYS); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Sandbox box;
    box.Clear();

    CUnzipper unz;
    if (!unz.OpenArchiveFromMemory(data, size))
        return 0;
    // Small limits keep each run quick; the checks are the same at any size.
    unz.SetLimits(1 << 20, 4 << 20);
    int count = unz.CountEntries();
    int walked = 0;
    for (bool more = unz.FirstEntry(); more && walked < 64; more = unz.NextEntry(), ++walked) {
        ZipEntryInfo info;
        if (unz.ReadEntryInfo(info) && !info.isFolder) {
            std::string bytes;
            if (unz.ExtractEntryToMemory(bytes) && bytes.size() > info.uncompressedSize)
                abort();
        }
    }
    if (walked > count && count > 0)
        abort();
    int files, folders;
    bool flatOk = unz.ExtractAll(box.flat.c_str(), true);
    Census(box.flat, files, folders);
    if (folders != 0 || (!flatOk && files != 0))
        abort();
    CUnzipper again;
    if (again.OpenArchiveFromMemory(data, size)) {
        again.SetLimits(1 << 20, 4 << 20);
        bool keptOk = again.ExtractAll(box.keep.c_str(), false);
        Census(box.keep, files, folders);
        if (!keptOk && files != 0)
            abort();
    }
    box.Verify();
    return 0;
}

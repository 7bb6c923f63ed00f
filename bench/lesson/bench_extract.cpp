// Extraction of a 50 MB package of 200 pictures and sounds: ExtractPackage against
// Info-ZIP's "unzip -o -j" of the same file, in the same run, alternating, median of
// several rounds. Two packages: one as our packer writes it (pictures and sounds
// stored) and one with every entry deflated, as general zip tools write it.
//
//   bench_lesson_extract [rounds]     (default 7)
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <minizip/zip.h>
#include <zlib.h>

#include "cfg_file.h"
#include "package_writer.h"
#include "unzipper.h"

extern char** environ;

namespace {

constexpr int kPages = 100;          // a picture and a sound each: 200 files
constexpr size_t kFileSize = 250000;  // 200 x 250 kB = 50 MB

// Pictures and sounds are mostly entropy-coded already: random bytes, with a few
// low-entropy stretches (headers, silence) that deflate can still shrink.
std::string MediaBytes(std::mt19937& rng, size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>(rng());
    for (size_t at = 0; at + 4096 < size; at += 65536)
        std::fill(s.begin() + static_cast<long>(at), s.begin() + static_cast<long>(at + 4096), '\0');
    return s;
}

bool DeflatedCopy(const std::string& from, const std::string& to) {
    CUnzipper in(from.c_str());
    zipFile out = zipOpen64(to.c_str(), APPEND_STATUS_CREATE);
    if (!out)
        return false;
    bool ok = true;
    for (bool more = in.FirstEntry(); ok && more; more = in.NextEntry()) {
        ZipEntryInfo info;
        std::string bytes;
        ok = in.ReadEntryInfo(info) && in.ExtractEntryToMemory(bytes);
        zip_fileinfo zi = {};
        zi.dosDate = info.dosDateTime;
        ok = ok && zipOpenNewFileInZip64(out, info.name.c_str(), &zi, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                         6, 0) == ZIP_OK;
        ok = ok && zipWriteInFileInZip(out, bytes.data(), static_cast<unsigned>(bytes.size())) == ZIP_OK;
        ok = ok && zipCloseFileInZip(out) == ZIP_OK;
    }
    return zipClose(out, nullptr) == ZIP_OK && ok;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double TimeOurs(const std::string& package, const std::string& dest) {
    auto start = std::chrono::steady_clock::now();
    if (!ExtractPackage(package, dest)) {
        std::fprintf(stderr, "ExtractPackage failed\n");
        std::exit(1);
    }
    return Seconds(start);
}

double TimeUnzip(const std::string& package, const std::string& dest) {
    std::vector<std::string> args = {"unzip", "-o", "-j", "-qq", package, "-d", dest};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    auto start = std::chrono::steady_clock::now();
    pid_t pid;
    if (posix_spawnp(&pid, "unzip", nullptr, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot run unzip\n");
        std::exit(1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    double t = Seconds(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "unzip failed\n");
        std::exit(1);
    }
    return t;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void Compare(const char* label, const std::string& package, const std::string& work, int rounds) {
    namespace fs = std::filesystem;
    std::vector<double> ours, theirs;
    for (int r = 0; r < rounds + 1; ++r) {
        std::string a = work + "/ours", b = work + "/unzip";
        fs::remove_all(a);
        fs::remove_all(b);
        fs::create_directories(b);
        sync();
        double tOurs, tTheirs;
        // Alternate who goes first, so neither always meets a warmer cache.
        if (r % 2 == 0) {
            tOurs = TimeOurs(package, a);
            tTheirs = TimeUnzip(package, b);
        } else {
            tTheirs = TimeUnzip(package, b);
            tOurs = TimeOurs(package, a);
        }
        if (r == 0)
            continue;  // warm-up round
        ours.push_back(tOurs);
        theirs.push_back(tTheirs);
    }
    double mo = Median(ours), mt = Median(theirs);
    std::printf("%-10s ExtractPackage %7.1f ms   unzip -o -j %7.1f ms   ratio %.2f (target <= 1.10)\n", label,
                mo * 1000, mt * 1000, mo / mt);
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    namespace fs = std::filesystem;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/bench-extract-XXXXXX";
    if (!mkdtemp(pattern.data()))
        return 1;
    std::string work = pattern;

    std::mt19937 rng(12345);
    CCfgFile cfg;
    cfg.packs.RemoveAll();
    std::vector<PackageFile> files;
    for (int i = 0; i < kPages; ++i) {
        char stem[16];
        std::snprintf(stem, sizeof(stem), "%03d", i + 1);
        auto* pack = new CCfgPack;
        pack->pictureFile = std::string(stem) + ".jpg";
        pack->soundFile = std::string(stem) + ".mp3";
        pack->waitSeconds = 3;
        pack->fontSize = 20;
        cfg.packs.Add(pack);
        files.push_back(PackageFile::FromBytes(pack->pictureFile, MediaBytes(rng, kFileSize)));
        files.push_back(PackageFile::FromBytes(pack->soundFile, MediaBytes(rng, kFileSize)));
    }
    std::string stored = work + "/stored.viz", deflated = work + "/deflated.viz";
    std::string error;
    if (!WritePackage(stored, cfg, files, &error) || !DeflatedCopy(stored, deflated)) {
        std::fprintf(stderr, "cannot build the packages: %s\n", error.c_str());
        return 1;
    }
    std::printf("packages: %d files, %.1f MB stored, %.1f MB deflated; median of %d rounds\n",
                static_cast<int>(files.size()) + 1, fs::file_size(stored) / 1e6, fs::file_size(deflated) / 1e6,
                rounds);
    Compare("stored", stored, work, rounds);
    Compare("deflated", deflated, work, rounds);
    fs::remove_all(work);
    return 0;
}

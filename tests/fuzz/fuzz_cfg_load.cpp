// Fuzz target: config.cfg loading from bytes and from a file.
//
// Beyond not crashing: bytes and file must give the same verdict and lesson, a
// lesson that loaded must save and load again to the same bytes, and no count makes
// more slots than the bytes could hold.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cfg_file.h"

namespace {

// One file for every run, gone when the process ends.
struct ScratchFile {
    std::string path;
    ScratchFile() {
        const char* tmp = std::getenv("TMPDIR");
        path = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz-cfg-XXXXXX";
        int fd = mkstemp(path.data());
        if (fd < 0)
            abort();
        close(fd);
    }
    ~ScratchFile() { unlink(path.c_str()); }
};

void Check(bool condition) {
    if (!condition)
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const ScratchFile scratchFile;
    const std::string& scratch = scratchFile.path;

    CCfgFile fromBytes;
    bool okBytes = fromBytes.LoadFromBytes(data, size);
    Check(static_cast<size_t>(fromBytes.GetPackCount()) <= size / 2);
    for (int i = -1; i <= fromBytes.GetPackCount(); ++i) {
        if (const CCfgPack* p = fromBytes.GetPack(i))
            Check(p->soundFile.size() + p->answerText.size() <= 2 * size);
    }

    FILE* f = fopen(scratch.c_str(), "wb");
    Check(f && fwrite(data, 1, size, f) == size);
    fclose(f);
    CCfgFile fromFile;
    bool okFile = fromFile.Load(scratch);
    Check(okBytes == okFile);
    Check(fromBytes.GetPackCount() == fromFile.GetPackCount());
    Check(fromBytes.textBesidePicture == fromFile.textBesidePicture);

    if (okBytes) {
        std::string saved, savedFile;
        Check(fromBytes.SaveToBytes(saved));
        Check(fromFile.SaveToBytes(savedFile));
        Check(saved == savedFile);
        CCfgFile again;
        Check(again.LoadFromBytes(saved.data(), saved.size()));
        std::string resaved;
        Check(again.SaveToBytes(resaved));
        Check(resaved == saved);
    }
    return 0;
}

#include "package_writer.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

#include <minizip/zip.h>

#include "codepage.h"

namespace {

constexpr size_t kCopyBuffer = 64 * 1024;
constexpr char kConfigName[] = "config.cfg";

bool Fail(std::string* error, const std::string& text) {
    if (error)
        *error = text;
    return false;
}

std::string Shown(const std::string& cp949) {
    std::string utf8;
    Cp949ToUtf8(cp949, utf8);
    return "\"" + utf8 + "\"";
}

// Pictures and compressed sounds gain nothing from deflate; storing them keeps
// packing and extraction fast.
bool AlreadyCompressed(const std::string& name) {
    static const char* const kExtensions[] = {"jpg", "jpeg", "png", "gif", "mp3", "ogg", "oga", "zip", "viz"};
    size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return false;
    for (const char* ext : kExtensions) {
        if (strcasecmp(name.c_str() + dot + 1, ext) == 0)
            return true;
    }
    return false;
}

zip_fileinfo InfoFor(time_t when) {
    zip_fileinfo zi = {};
    struct tm tm = {};
    localtime_r(&when, &tm);
    // MS-DOS dates start in 1980.
    if (tm.tm_year < 80) {
        tm = {};
        tm.tm_year = 80;
        tm.tm_mday = 1;
    }
    zi.tmz_date.tm_sec = static_cast<uInt>(tm.tm_sec);
    zi.tmz_date.tm_min = static_cast<uInt>(tm.tm_min);
    zi.tmz_date.tm_hour = static_cast<uInt>(tm.tm_hour);
    zi.tmz_date.tm_mday = static_cast<uInt>(tm.tm_mday);
    zi.tmz_date.tm_mon = static_cast<uInt>(tm.tm_mon);
    zi.tmz_date.tm_year = static_cast<uInt>(tm.tm_year + 1900);
    return zi;
}

class ZipWriter {
public:
    explicit ZipWriter(const std::string& path) : m_zip(zipOpen64(path.c_str(), APPEND_STATUS_CREATE)) {}
    ~ZipWriter() {
        if (m_zip)
            zipClose(m_zip, nullptr);
    }
    bool Ok() const { return m_zip != nullptr; }

    bool Begin(const std::string& name, time_t when, bool store) {
        zip_fileinfo zi = InfoFor(when);
        return zipOpenNewFileInZip3_64(m_zip, name.c_str(), &zi, nullptr, 0, nullptr, 0, nullptr,
                                       store ? 0 : Z_DEFLATED, store ? 0 : Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS,
                                       DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, 0) == ZIP_OK;
    }
    bool Write(const char* data, size_t n) {
        while (n > 0) {
            unsigned chunk = n > (1u << 30) ? (1u << 30) : static_cast<unsigned>(n);
            if (zipWriteInFileInZip(m_zip, data, chunk) != ZIP_OK)
                return false;
            data += chunk;
            n -= chunk;
        }
        return true;
    }
    bool End() { return zipCloseFileInZip(m_zip) == ZIP_OK; }
    bool Close() {
        int r = zipClose(m_zip, nullptr);
        m_zip = nullptr;
        return r == ZIP_OK;
    }

private:
    zipFile m_zip;
};

bool AddFile(ZipWriter& zip, const PackageFile& file, std::string* error) {
    std::string shown = Shown(file.name);
    if (file.sourcePath.empty()) {
        time_t when = file.modified ? file.modified : time(nullptr);
        if (!zip.Begin(file.name, when, AlreadyCompressed(file.name)) ||
            !zip.Write(file.bytes.data(), file.bytes.size()) || !zip.End())
            return Fail(error, shown + ": cannot be written to the package");
        return true;
    }
    FILE* in = fopen(file.sourcePath.c_str(), "rb");
    if (!in)
        return Fail(error, file.sourcePath + ": " + std::strerror(errno));
    struct stat st;
    if (fstat(fileno(in), &st) != 0 || !S_ISREG(st.st_mode)) {
        fclose(in);
        return Fail(error, file.sourcePath + ": not a file");
    }
    time_t when = file.modified ? file.modified : st.st_mtime;
    bool ok = zip.Begin(file.name, when, AlreadyCompressed(file.name));
    std::vector<char> buf(kCopyBuffer);
    while (ok) {
        size_t n = fread(buf.data(), 1, buf.size(), in);
        if (n > 0)
            ok = zip.Write(buf.data(), n);
        if (n < buf.size()) {
            if (ferror(in))
                ok = Fail(error, file.sourcePath + ": read error");
            break;
        }
    }
    fclose(in);
    ok = zip.End() && ok;
    if (!ok && error && error->empty())
        *error = shown + ": cannot be written to the package";
    return ok;
}

}  // namespace

bool WritePackage(const std::string& outPath, const CCfgFile& cfg, const std::vector<PackageFile>& files,
                  std::string* error) {
    if (error)
        error->clear();
    std::set<std::string> names;
    names.insert(kConfigName);
    for (const PackageFile& file : files) {
        if (file.name.empty())
            return Fail(error, "a package file has no name");
        if (!names.insert(file.name).second)
            return Fail(error, Shown(file.name) + ": named twice in the package");
    }
    std::string config;
    if (!cfg.SaveToBytes(config))
        return Fail(error, "the lesson cannot be serialised");

    std::string tempPath = outPath + ".partXXXXXX";
    int fd = mkstemp(tempPath.data());
    if (fd < 0)
        return Fail(error, outPath + ": " + std::strerror(errno));
    close(fd);

    bool ok;
    {
        ZipWriter zip(tempPath);
        ok = zip.Ok();
        if (!ok)
            Fail(error, tempPath + ": cannot be created");
        if (ok) {
            ok = AddFile(zip, PackageFile::FromBytes(kConfigName, config), error);
        }
        for (size_t i = 0; ok && i < files.size(); ++i)
            ok = AddFile(zip, files[i], error);
        if (ok && !zip.Close())
            ok = Fail(error, tempPath + ": write error");
    }
    if (ok) {
        // mkstemp creates the file for its owner only; a package is meant to be shared.
        chmod(tempPath.c_str(), 0644);
        if (rename(tempPath.c_str(), outPath.c_str()) != 0)
            ok = Fail(error, outPath + ": " + std::strerror(errno));
    }
    if (!ok)
        unlink(tempPath.c_str());
    return ok;
}

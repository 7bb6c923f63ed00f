#include "main_dlg_fixture.h"

#include <QBuffer>
#include <QImage>

#include "package_writer.h"
#include "zip.h"

namespace {

std::string PngBytes(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

}  // namespace

bool WriteZip(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries) {
    zipFile zip = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
    if (!zip)
        return false;
    bool ok = true;
    for (const auto& [name, bytes] : entries) {
        zip_fileinfo info{};
        ok = ok && zipOpenNewFileInZip(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 6) == ZIP_OK;
        ok = ok && zipWriteInFileInZip(zip, bytes.data(), static_cast<unsigned>(bytes.size())) == ZIP_OK;
        ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
    }
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

void MainDlgTest::SetUp() {
    m_dataDir = std::make_unique<testsupport::ScopedEnv>("VORUR_DATA_DIR", m_tmp.file("data"));
    ResetModuleFolderForTesting();
    CreateDirectories(m_tmp.file("config/Dazuzor"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(m_tmp.file("config")));
}

void MainDlgTest::TearDown() {
    m_dlg.reset();
    ResetModuleFolderForTesting();
}

void MainDlgTest::WriteSetting(const std::string& line) {
    std::string path = m_tmp.file("config/Dazuzor/Vorur_Ozudiz2.conf");
    std::string text = testsupport::ReadFile(path);
    if (text.empty())
        text = "[General]\n";
    testsupport::WriteFile(path, text + line + "\n");
}

std::string MainDlgTest::MakePackage(const std::string& name, const std::vector<PageSpec>& pages, bool beside) {
    CCfgFile cfg;
    cfg.packs.RemoveAll();
    cfg.textBesidePicture = beside ? 1 : 0;
    std::vector<PackageFile> files;
    for (size_t i = 0; i < pages.size(); ++i) {
        const PageSpec& spec = pages[i];
        if (spec.emptySlot) {
            cfg.packs.Add(nullptr);
            continue;
        }
        auto* pack = new CCfgPack;
        pack->soundFile = spec.sound;
        pack->pictureFile = spec.picture;
        pack->questionText = spec.question;
        pack->answerText = spec.answer;
        pack->waitSeconds = spec.wait;
        pack->fontSize = spec.fontSize;
        cfg.packs.Add(pack);
        bool present = false;
        for (const PackageFile& f : files)
            present = present || f.name == spec.picture;
        if (!spec.omitPicture && !present)
            files.push_back(PackageFile::FromBytes(spec.picture, spec.pictureIsBroken ? "not a picture" : PngBytes(40, 30)));
        present = false;
        for (const PackageFile& f : files)
            present = present || f.name == spec.sound;
        if (!spec.omitSound && !present)
            files.push_back(PackageFile::FromBytes(spec.sound, "RIFF sound"));
    }
    std::string path = m_tmp.file(name);
    std::string error;
    EXPECT_TRUE(WritePackage(path, cfg, files, &error)) << error;
    return path;
}

void MainDlgTest::Start(const std::string& packagePath, bool practiceOnly) {
    LaunchArgs args;
    args.packagePath = packagePath;
    args.uploadFileName = "A01_L03_D5_SP_kim7.mp3";
    args.recordingPath = RecordingPath();
    args.practiceMode = practiceOnly ? 1 : 0;
    MainDlgServices services;
    services.clock = &m_clock;
    services.messageBox = &m_box;
    services.reviewBox = m_realReviewBox ? nullptr : &m_box;
    services.fileChooser = &m_chooser;
    services.soundOutput = &m_sound;
    services.upload = [this](const std::string& url, const std::string& name, const std::string& path,
                             std::string& reply, const std::atomic<bool>& stop) {
        m_uploads.push_back({url, name, path, testsupport::ReadFile(path)});
        if (m_uploadWait && !m_uploadWait(stop))
            return 0;
        if (m_uploadResult)
            reply = m_uploadReply;
        return m_uploadResult;
    };
    m_dlg = std::make_unique<CMainDlg>(args, services);
    ASSERT_TRUE(m_dlg->OnInitDialog());
}

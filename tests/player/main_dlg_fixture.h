// A real main dialog, offscreen, with a fake clock, simulated page sounds, scripted
// message boxes and file chooser, and a recorded upload.
#pragma once

#include <gtest/gtest.h>

#include <QSettings>
#include <atomic>
#include <functional>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "cfg_file.h"
#include "file_chooser.h"
#include "image_btn.h"
#include "main_dlg.h"
#include "message_box.h"
#include "review_box.h"
#include "paths.h"
#include "sound_sim.h"
#include "test_support.h"
#include "tick_clock.h"

// A zip of the given (name, bytes) entries, without any lesson check.
bool WriteZip(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries);

// Also asks the end-of-run question in place of the review box, from the same answers.
class CScriptedMessageBox : public IMessageBox, public IReviewBox {
public:
    int Ask(const std::string& text, const std::string& recordingPath) override {
        reviewed.push_back(recordingPath);
        return Show(text, MB_YESNO);
    }
    int Show(const std::string& text, UINT type) override {
        shown.push_back(text);
        if (type != MB_YESNO)
            return IDOK;
        int answer = answers.empty() ? IDNO : answers.front();
        if (!answers.empty())
            answers.pop_front();
        return answer;
    }
    std::vector<std::string> shown;
    std::deque<int> answers;
    std::vector<std::string> reviewed;  // the recordings offered to be heard
};

class CScriptedFileChooser : public IFileChooser {
public:
    bool ChooseOpenFile(const std::string& f, std::string& path) override {
        filter = f;
        ++calls;
        if (next.empty())
            return false;
        path = next;
        return true;
    }
    std::string next;
    std::string filter;
    int calls = 0;
};

struct UploadCall {
    std::string url, name, path, bytes;
};

struct PageSpec {
    std::string sound = "p.wav";
    std::string picture = "p.png";
    std::string question;
    std::string answer;
    uint32_t wait = 2;
    uint32_t fontSize = 12;
    bool pictureIsBroken = false;  // the picture file holds no picture
    bool omitPicture = false;      // no picture file in the package
    bool omitSound = false;        // no sound file in the package
    bool emptySlot = false;        // an empty slot in the lesson instead of a page
};

class MainDlgTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A package with the given pages; returns its path.
    std::string MakePackage(const std::string& name, const std::vector<PageSpec>& pages, bool beside = false);
    // Builds the dialog for a launch with this package (empty: none) and runs OnInitDialog.
    void Start(const std::string& packagePath, bool practiceOnly = false);
    void Tick(uint32_t ms = 500) {
        m_clock.Advance(ms);
        m_dlg->OnTimer(1);
    }
    void Click(int id) { m_dlg->OnCommand(id); }
    bool Enabled(int id) { return m_dlg->Button(id)->isEnabled(); }
    int Check(int id) { return m_dlg->Button(id)->m_nCheck; }
    void WriteSetting(const std::string& line);
    std::string TempFolder() const { return m_tmp.file("data/Temp"); }
    std::string RecordingPath() const { return m_tmp.file("data/A01_L03_D5_SP_kim7.mp3"); }

    testsupport::TempDir m_tmp;
    std::unique_ptr<testsupport::ScopedEnv> m_dataDir;
    CFakeTickClock m_clock{100000};
    CSimSoundOutput m_sound{m_clock, 2000};
    CScriptedMessageBox m_box;
    CScriptedFileChooser m_chooser;
    std::vector<UploadCall> m_uploads;
    std::string m_uploadReply = "OK";
    int m_uploadResult = 1;
    // Run by the upload on its own thread before it answers; false: given up.
    std::function<bool(const std::atomic<bool>& stop)> m_uploadWait;
    std::unique_ptr<CMainDlg> m_dlg;
    bool m_realReviewBox = false;  // the real review box on m_sound instead of m_box
};

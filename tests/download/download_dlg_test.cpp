// The start-up download dialog against the reference lesson server.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>

#include "download_dlg.h"
#include "net_test_util.h"
#include "test_support.h"

using nettest::LessonServer;
using testsupport::Exists;
using testsupport::TempDir;

namespace {

class DownloadDialogTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(testsupport::WriteFile(m_root.file("unit01.viz"), m_package)); }
    int Run(const std::string& url, const std::function<void(CDownloadDlg&)>& during = {}) {
        CDownloadDlg dlg;
        dlg.m_strUrl = url;
        dlg.m_strLocalPath = m_local.file("unit01.viz");
        if (during)
            during(dlg);
        int result = dlg.DoModal();
        m_max = dlg.m_progress->maximum();
        m_value = dlg.m_progress->value();
        return result;
    }
    TempDir m_root, m_uploads, m_local;
    const std::string m_package = nettest::Pattern(300000, 7);
    int m_max = -1, m_value = -1;
};

TEST_F(DownloadDialogTest, FetchesThePackageAndFillsTheBar) {
    LessonServer server(m_root.path(), m_uploads.path());
    ASSERT_TRUE(server.started());
    EXPECT_EQ(Run(server.base() + "unit01.viz"), IDOK);
    EXPECT_EQ(testsupport::ReadFile(m_local.file("unit01.viz")), m_package);
    EXPECT_EQ(m_max, 300000);
    EXPECT_EQ(m_value, 300000);
}

TEST_F(DownloadDialogTest, FailuresEndWithCancelAndNoFile) {
    LessonServer server(m_root.path(), m_uploads.path());
    ASSERT_TRUE(server.started());
    EXPECT_EQ(Run(server.base() + "missing.viz"), IDCANCEL);
    EXPECT_FALSE(Exists(m_local.file("unit01.viz")));
    EXPECT_EQ(Run("http://127.0.0.1:1/unit01.viz"), IDCANCEL);  // refused
    EXPECT_FALSE(Exists(m_local.file("unit01.viz")));
}

TEST_F(DownloadDialogTest, ClosedBeforeTheTransferBeginsNothingIsFetched) {
    LessonServer server(m_root.path(), m_uploads.path());
    ASSERT_TRUE(server.started());
    int result = Run(server.base() + "unit01.viz", [](CDownloadDlg& dlg) {
        QTimer::singleShot(0, &dlg, [&dlg] { dlg.close(); });
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_FALSE(Exists(m_local.file("unit01.viz")));
}

TEST_F(DownloadDialogTest, ClosingDuringASlowTransferCancelsItPromptly) {
    LessonServer server(m_root.path(), m_uploads.path(), {"--delay-ms", "5000"});
    ASSERT_TRUE(server.started());
    QElapsedTimer clock;
    clock.start();
    int result = Run(server.base() + "unit01.viz", [](CDownloadDlg& dlg) {
        QTimer::singleShot(400, &dlg, [&dlg] { dlg.close(); });
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_FALSE(Exists(m_local.file("unit01.viz")));
}

TEST_F(DownloadDialogTest, TemplateTextsAndDialogUnits) {
    CDownloadDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), QString::fromUtf8("자료받기"));
    auto labels = dlg.findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels[0]->text(), QString::fromUtf8("자료를 받고있습니다. 잠시만 기다려 주세요.."));
    // Dialog units scale with the font: 4 horizontal units are one average character.
    QFont font = dlg.font();
    QRect r = CDownloadDlg::DialogUnitsToPixels(font, QRect(0, 0, 4, 8));
    EXPECT_GT(r.width(), 3);
    EXPECT_EQ(r.height(), QFontMetrics(font).height());
    EXPECT_EQ(dlg.size(), CDownloadDlg::DialogUnitsToPixels(font, QRect(0, 0, 187, 69)).size());
    EXPECT_LT(dlg.m_progress->geometry().right(), dlg.width());
}

}  // namespace

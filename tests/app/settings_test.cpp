#include <gtest/gtest.h>

#include <QSettings>

#include "paths.h"
#include "settings.h"
#include "test_support.h"

using testsupport::TempDir;

namespace {

class SettingsTest : public testing::Test {
protected:
    void Write(const std::string& text) {
        testsupport::WriteFile(m_config.file("Dazuzor/Vorur_Ozudiz2.conf"), "[General]\n" + text + "\n");
    }
    void SetUp() override {
        ASSERT_TRUE(CreateDirectories(m_config.file("Dazuzor")));
        // QSettings reads XDG_CONFIG_HOME when it first builds its paths; point it at
        // our folder and reset its cached paths.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(m_config.path()));
    }
    TempDir m_config;
};

TEST_F(SettingsTest, MissingValueReadsAsOneAndFails) {
    DWORD value = 0;
    EXPECT_FALSE(ReadSpeakerRecSetting(value));
    EXPECT_EQ(value, 1u);
}

TEST_F(SettingsTest, StoredNumbers) {
    Write("SpeakerRec=0");
    DWORD value = 7;
    EXPECT_TRUE(ReadSpeakerRecSetting(value));
    EXPECT_EQ(value, 0u);
    Write("SpeakerRec=4294967295");
    EXPECT_TRUE(ReadSpeakerRecSetting(value));
    EXPECT_EQ(value, 4294967295u);
}

TEST_F(SettingsTest, ValuesLargerThanFourBytesFail) {
    Write("SpeakerRec=4294967296");
    DWORD value = 0;
    EXPECT_FALSE(ReadSpeakerRecSetting(value));
    EXPECT_EQ(value, 1u);
    Write("SpeakerRec=hello world");
    EXPECT_FALSE(ReadSpeakerRecSetting(value));
    EXPECT_EQ(value, 1u);
}

TEST_F(SettingsTest, ShortTextIsTakenAsLittleEndianBytes) {
    Write("SpeakerRec=ab");
    DWORD value = 0;
    EXPECT_TRUE(ReadSpeakerRecSetting(value));
    EXPECT_EQ(value, 0x6261u);
}

TEST_F(SettingsTest, UploadHostString) {
    std::string host;
    EXPECT_FALSE(ReadSettingString("UploadHost", host));
    Write("UploadHost=lessons.example:8081");
    EXPECT_TRUE(ReadSettingString("UploadHost", host));
    EXPECT_EQ(host, "lessons.example:8081");
}

// An administrator's list for all users, and the user's own additions: both count,
// with or without quotes around the commas.
TEST_F(SettingsTest, LaunchHostsFromTheSystemAndTheUser) {
    TempDir system;
    ASSERT_TRUE(CreateDirectories(system.file("Dazuzor")));
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, QString::fromStdString(system.path()));
    EXPECT_EQ(ReadSettingListAllScopes("LaunchHosts"), "");
    testsupport::WriteFile(system.file("Dazuzor/Vorur_Ozudiz2.conf"),
                           "[General]\nLaunchHosts=lessons.school.example, portal.school.example\n");
    EXPECT_EQ(ReadSettingListAllScopes("LaunchHosts"), "lessons.school.example,portal.school.example");
    Write("LaunchHosts=\"home.example,[::1]\"");
    EXPECT_EQ(ReadSettingListAllScopes("LaunchHosts"),
              "lessons.school.example,portal.school.example,home.example,[::1]");
    testsupport::WriteFile(system.file("Dazuzor/Vorur_Ozudiz2.conf"), "[General]\nOther=1\n");
    EXPECT_EQ(ReadSettingListAllScopes("LaunchHosts"), "home.example,[::1]");
}

}  // namespace

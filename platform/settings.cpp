#include "settings.h"

#include <QByteArray>
#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace {
QVariant ReadValue(const char* name) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Dazuzor", "Vorur_Ozudiz2");
    return settings.value(QString::fromUtf8(name));
}
}  // namespace

bool ReadSettingDword(const char* name, DWORD& value) {
    QVariant v = ReadValue(name);
    if (!v.isValid())
        return false;

    bool ok = false;
    qulonglong number = v.toString().trimmed().toULongLong(&ok, 0);
    if (ok)
        return number <= 0xFFFFFFFFull ? (value = static_cast<DWORD>(number), true) : false;

    // Anything else is raw bytes: at most four of them, little-endian.
    QByteArray bytes = v.typeId() == QMetaType::QByteArray ? v.toByteArray() : v.toString().toUtf8();
    if (bytes.size() > 4)
        return false;
    DWORD result = 0;
    for (int i = 0; i < bytes.size(); ++i)
        result |= static_cast<DWORD>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    value = result;
    return true;
}

std::string ReadSettingListAllScopes(const char* name) {
    std::string joined;
    for (QSettings::Scope scope : {QSettings::SystemScope, QSettings::UserScope}) {
        QSettings settings(QSettings::NativeFormat, scope, "Dazuzor", "Vorur_Ozudiz2");
        // The user's file alone: the system-wide value was read already.
        settings.setFallbacksEnabled(false);
        QVariant v = settings.value(QString::fromUtf8(name));
        // Unquoted commas make the value a list.
        QString text = v.typeId() == QMetaType::QStringList ? v.toStringList().join(',') : v.toString();
        QByteArray bytes = text.toUtf8().left(64 * 1024);
        if (bytes.isEmpty())
            continue;
        if (!joined.empty())
            joined += ',';
        joined += bytes.toStdString();
    }
    return joined;
}

bool ReadSettingString(const char* name, std::string& value) {
    QVariant v = ReadValue(name);
    if (!v.isValid())
        return false;
    QString text = v.toString().trimmed();
    if (text.isEmpty())
        return false;
    value = text.toStdString();
    return true;
}

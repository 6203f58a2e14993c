// The settings store over QSettings, which writes through a temporary file and an
// atomic rename, so a failed write never truncates the old file.
#include "platform/Settings.h"

#include <QRegularExpression>
#include <QSettings>

namespace platform {
namespace {

const QString kOrganisation = QStringLiteral("Pulsewerk");

} // namespace

QString ReadSetting(const QString &application, const QString &section, const QString &key, int defaultValue)
{
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, kOrganisation, application);
    store.beginGroup(section);
    const QVariant value = store.value(key);
    if (!value.isValid())
        return QString::number(defaultValue);
    return value.toString();
}

int ReadWholeNumber(const QString &application, const QString &section, const QString &key, int defaultValue, int low,
                    int high)
{
    const QString text = ReadSetting(application, section, key, defaultValue);
    // Anchored at the very ends: "$" alone would let a trailing line feed through.
    static const QRegularExpression wholeNumber(QRegularExpression::anchoredPattern(QStringLiteral("[0-9]{1,5}")));
    if (!wholeNumber.match(text).hasMatch())
        return defaultValue;
    const int value = text.toInt();
    return value < low || value > high ? defaultValue : value;
}

bool WriteSetting(const QString &application, const QString &section, const QString &key, const QString &value)
{
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, kOrganisation, application);
    store.beginGroup(section);
    store.setValue(key, value);
    store.endGroup();
    store.sync();
    return store.status() == QSettings::NoError;
}

} // namespace platform

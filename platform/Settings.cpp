// The settings store over QSettings, which writes through a temporary file and an
// atomic rename, so a failed write never truncates the old file.
#include "platform/Settings.h"

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

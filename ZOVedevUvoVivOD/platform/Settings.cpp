#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>

namespace olbra {

QString settingsFilePath(const QString &application)
{
    QString folder = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (folder.isEmpty() || QDir::isRelativePath(folder))
        folder = QDir::homePath() + QStringLiteral("/.config");
    return folder + QLatin1Char('/') + application + QStringLiteral(".ini");
}

// Read by hand rather than through QSettings, which would turn a value holding a comma into a
// list and interpret backslashes, and so change a data path.
QString GetSetting(const QString &application, const QString &section, const QString &key)
{
    QFile file(settingsFilePath(application));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringDecoder decode(QStringDecoder::Utf8);
    const QString content = decode(file.readAll());

    bool inSection = false;
    for (QString line : content.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            const qsizetype end = line.indexOf(QLatin1Char(']'));
            inSection = end > 0 && line.mid(1, end - 1).trimmed().compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inSection || equals <= 0 || line.left(equals).trimmed().compare(key, Qt::CaseInsensitive) != 0)
            continue;
        QString value = line.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
        return value;
    }
    return {};
}

} // namespace olbra

#include "ui/settings.hpp"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace korvane {

QString Settings::FilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
           QStringLiteral("/korvane.ini");
}

QString Settings::Read(const QString& key, const QString& fallback) const {
    const QSettings file(FilePath(), QSettings::IniFormat);
    return file.value(key, fallback).toString();
}

void Settings::Write(const QString& key, const QString& value) {
    QSettings file(FilePath(), QSettings::IniFormat);
    file.setValue(key, value);
    file.sync();
}

QString Settings::Ip() const {
    return Read(QStringLiteral("Adapter/IP"), QStringLiteral("192.168.1.88"));
}
void Settings::SetIp(const QString& address) {
    Write(QStringLiteral("Adapter/IP"), address);
}

QString Settings::FileName() const {
    return Read(QStringLiteral("Adapter/FileName"), QString());
}
void Settings::SetFileName(const QString& path) {
    Write(QStringLiteral("Adapter/FileName"), path);
}

QString Settings::DatFile() const {
    return Read(QStringLiteral("Paths/DatFile"), program_folder_);
}
void Settings::SetDatFile(const QString& folder) {
    Write(QStringLiteral("Paths/DatFile"), folder);
}

QString DefaultBrowseFolder(const QString& program_folder, const QString& home) {
    static const QStringList system_folders{
        QStringLiteral("/bin"),           QStringLiteral("/sbin"),
        QStringLiteral("/usr/bin"),       QStringLiteral("/usr/sbin"),
        QStringLiteral("/usr/local/bin"), QStringLiteral("/usr/local/sbin")};
    return system_folders.contains(QDir::cleanPath(program_folder)) ? home : program_folder;
}

bool Settings::Fast() const {
    return Read(QStringLiteral("Transfer/Fast"), QString()) == QStringLiteral("1");
}

}  // namespace korvane

#pragma once

#include <QString>

namespace korvane {

// The program's settings in an INI file, korvane.ini in the application's
// configuration folder: "Adapter"/"IP", "Adapter"/"FileName", "Paths"/"DatFile"
// and the read-only "Transfer"/"Fast". Every read opens the file afresh with its default
// (nothing is cached) and every value is stored exactly as given. Holds only
// the folder that stands in for "Paths"/"DatFile"; GUI thread.
class Settings {
public:
    explicit Settings(QString program_folder) : program_folder_(std::move(program_folder)) {}

    [[nodiscard]] static QString FilePath();

    // The device address as last typed for a started download; "192.168.1.88".
    [[nodiscard]] QString Ip() const;
    void SetIp(const QString& address);
    // The firmware file of the last started download; empty.
    [[nodiscard]] QString FileName() const;
    void SetFileName(const QString& path);
    // The folder of the firmware file last picked; the program's folder.
    [[nodiscard]] QString DatFile() const;
    void SetDatFile(const QString& folder);
    // Whether downloads run at network speed: "Transfer"/"Fast" is "1". Absent
    // or anything else keeps the described cadence, as a device may need its gaps.
    [[nodiscard]] bool Fast() const;

private:
    [[nodiscard]] QString Read(const QString& key, const QString& fallback) const;
    void Write(const QString& key, const QString& value);

    QString program_folder_;
};

// What stands in for "Paths"/"DatFile" before a file was ever picked: the
// program's folder, unless that is a system folder of programs (/usr/bin and
// the like, where a package installs it and nobody keeps firmware): then the
// home folder.
[[nodiscard]] QString DefaultBrowseFolder(const QString& program_folder, const QString& home);

}  // namespace korvane

#pragma once

#include <string>

namespace korvane {

// The window's settings in an INI file (by default %APPDATA%\Korvane\korvane.ini):
// "Adapter"/"IP", "Adapter"/"FileName", "Paths"/"DatFile" and the read-only
// "Transfer"/"Fast", the same as on Linux. Every read opens the file afresh
// with its default (nothing is cached) and every value is written whole, as
// given. The file is kept in UTF-16, so that any path survives. Holds the
// file's path and the folder that stands in for "Paths"/"DatFile"; UI thread.
class Settings {
public:
    Settings(std::wstring program_folder, std::wstring file = DefaultFile());

    // %APPDATA%\Korvane\korvane.ini; the folder is made when the first value is written.
    [[nodiscard]] static std::wstring DefaultFile();
    [[nodiscard]] const std::wstring& File() const noexcept { return file_; }

    // The device address as last typed for a started download; "192.168.1.88".
    [[nodiscard]] std::wstring Ip() const;
    void SetIp(const std::wstring& address);
    // The firmware file of the last started download; empty.
    [[nodiscard]] std::wstring FileName() const;
    void SetFileName(const std::wstring& path);
    // The folder of the firmware file last picked; the program's folder.
    [[nodiscard]] std::wstring DatFile() const;
    void SetDatFile(const std::wstring& folder);
    // Whether downloads run at network speed: "Transfer"/"Fast" is "1". Absent
    // or anything else keeps the described cadence, as a device may need its gaps.
    [[nodiscard]] bool Fast() const;

private:
    [[nodiscard]] std::wstring Read(const wchar_t* section, const wchar_t* key,
                                    const std::wstring& fallback) const;
    void Write(const wchar_t* section, const wchar_t* key, const std::wstring& value);

    std::wstring program_folder_;
    std::wstring file_;
};

}  // namespace korvane

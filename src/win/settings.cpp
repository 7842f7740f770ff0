#include "win/settings.hpp"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <system_error>

namespace korvane {
namespace {

// The profile functions write a new file in the ANSI code page, where most
// characters of a path have no room; a file that starts as UTF-16 stays so.
void CreateUtf16File(const std::wstring& file) {
    const std::filesystem::path path(file);
    std::error_code error;
    if (std::filesystem::exists(path, error)) {
        return;
    }
    std::filesystem::create_directories(path.parent_path(), error);
    std::ofstream out(path, std::ios::binary);
    out.write("\xFF\xFE", 2);  // the byte-order mark of UTF-16 LE
}

// Reading drops white space around a value and one pair of quotes around it;
// quoted, a value that has either comes back as it stood.
std::wstring Stored(const std::wstring& value) {
    const auto kept = [](wchar_t c) { return c != L' ' && c != L'\t' && c != L'"' && c != L'\''; };
    if (value.empty() || (kept(value.front()) && kept(value.back()))) {
        return value;
    }
    return L'"' + value + L'"';
}

}  // namespace

Settings::Settings(std::wstring program_folder, std::wstring file)
    : program_folder_(std::move(program_folder)), file_(std::move(file)) {}

std::wstring Settings::DefaultFile() {
    std::wstring folder(32768, L'\0');
    folder.resize(
        GetEnvironmentVariableW(L"APPDATA", folder.data(), static_cast<DWORD>(folder.size())));
    return folder + L"\\Korvane\\korvane.ini";
}

std::wstring Settings::Read(const wchar_t* section, const wchar_t* key,
                            const std::wstring& fallback) const {
    // The call cuts a value that does not fit: read again with more room until it fits.
    for (std::size_t size = 1024;; size *= 4) {
        std::wstring value(size, L'\0');
        const DWORD length =
            GetPrivateProfileStringW(section, key, fallback.c_str(), value.data(),
                                     static_cast<DWORD>(value.size()), file_.c_str());
        if (length + 1 < size || size >= 1 << 20) {
            value.resize(length);
            return value;
        }
    }
}

void Settings::Write(const wchar_t* section, const wchar_t* key, const std::wstring& value) {
    CreateUtf16File(file_);
    (void)WritePrivateProfileStringW(section, key, Stored(value).c_str(), file_.c_str());
}

std::wstring Settings::Ip() const {
    return Read(L"Adapter", L"IP", L"192.168.1.88");
}
void Settings::SetIp(const std::wstring& address) {
    Write(L"Adapter", L"IP", address);
}

std::wstring Settings::FileName() const {
    return Read(L"Adapter", L"FileName", L"");
}
void Settings::SetFileName(const std::wstring& path) {
    Write(L"Adapter", L"FileName", path);
}

std::wstring Settings::DatFile() const {
    return Read(L"Paths", L"DatFile", program_folder_);
}
void Settings::SetDatFile(const std::wstring& folder) {
    Write(L"Paths", L"DatFile", folder);
}

bool Settings::Fast() const {
    return Read(L"Transfer", L"Fast", L"") == L"1";
}

}  // namespace korvane

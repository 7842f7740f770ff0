#include "posix_compat.hpp"

#include <direct.h>
#include <stdlib.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

extern "C" char* mkdtemp(char* pattern) {
    const std::size_t length = std::strlen(pattern);
    if (length < 6 || std::strcmp(pattern + length - 6, "XXXXXX") != 0) {
        errno = EINVAL;
        return nullptr;
    }
    static constexpr char DIGITS[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    unsigned long long seed = ::GetTickCount64() ^ (::GetCurrentProcessId() * 2654435761ULL);
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned long long n = seed + static_cast<unsigned long long>(attempt) * 7919ULL;
        for (std::size_t i = length - 6; i < length; ++i) {
            pattern[i] = DIGITS[n % 36];
            n /= 36;
        }
        if (::_mkdir(pattern) == 0) {
            return pattern;
        }
        if (errno != EEXIST) {
            return nullptr;
        }
    }
    return nullptr;
}

extern "C" int setenv(const char* name, const char* value, int /*overwrite*/) {
    return ::_putenv_s(name, value) == 0 ? 0 : -1;
}

extern "C" int kill(int pid, int signal_number) {
    const HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
    const bool ended =
        process != nullptr && ::TerminateProcess(process, 128 + static_cast<UINT>(signal_number));
    if (process != nullptr) {
        ::CloseHandle(process);
    }
    return ended ? 0 : -1;
}

#include "posix_compat.hpp"

#include <stdlib.h>
#include <windows.h>

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

extern "C" int mkfifo(const char* /*path*/, int /*mode*/) {
    return -1;
}

#pragma once

// Forced into every test of the Windows build: the POSIX calls the shared
// tests use that the Windows C runtime lacks (setenv, and what the POSIX-only
// cases name: SIGKILL, kill, mkfifo).
#define SIGKILL 9
#ifdef __cplusplus
extern "C" {
#endif
// Sets the variable `name` (always, whatever `overwrite`); 0 on success.
int setenv(const char* name, const char* value, int overwrite);
// Ends the process `pid` (with the exit code 128 + `signal_number`); 0 on success.
int kill(int pid, int signal_number);
// Windows has no FIFO: -1, always.
int mkfifo(const char* path, int mode);
#ifdef __cplusplus
}
#endif

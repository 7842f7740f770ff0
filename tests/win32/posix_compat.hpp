#pragma once

// Forced into every test of the Windows build: the one POSIX call the shared
// test helpers use that the Windows C runtime lacks (TempDir's mkdtemp).
#ifdef __cplusplus
extern "C" {
#endif
// Replaces the trailing "XXXXXX" of `pattern` and makes that folder; the
// pattern on success, null when no fresh name could be made.
char* mkdtemp(char* pattern);
#ifdef __cplusplus
}
#endif

// Where the stand-in host libraries write what they were asked: the file
// named by QUELLORA_TEST_LOG, or calls.log beside the library.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdio>

inline void AppendTestLog(HMODULE self, const char* format, ...) {
    wchar_t path[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"QUELLORA_TEST_LOG", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        n = GetModuleFileNameW(self, path, MAX_PATH);
        wchar_t* slash = wcsrchr(path, L'\\');
        if (!slash || n == 0) return;
        wcscpy(slash + 1, L"calls.log");
    }
    FILE* f = _wfopen(path, L"a");
    if (!f) return;
    va_list args;
    va_start(args, format);
    vfprintf(f, format, args);
    va_end(args);
    fclose(f);
}

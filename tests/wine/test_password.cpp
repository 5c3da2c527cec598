// A stand-in PASSWORD.CPL: refuses the first password check of a process and
// accepts every later one. Each call records the window it was given, whether
// the cursor shows and whether the system knows a screen saver is running;
// the process's end records the running flag once more.
#include <cstdint>

#include "test_log.h"

namespace {
HMODULE self;

int RunningFlag() {
    BOOL running = FALSE;
    if (!SystemParametersInfoW(SPI_GETSCREENSAVERRUNNING, 0, &running, 0)) return -1;
    return running ? 1 : 0;
}

int CursorShowing() {
    CURSORINFO info{};
    info.cbSize = sizeof info;
    if (!GetCursorInfo(&info)) return -1;
    return (info.flags & CURSOR_SHOWING) ? 1 : 0;
}
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        self = instance;
        // Stay loaded until the process ends, to see the flag cleared.
        HMODULE pinned;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCWSTR>(&RunningFlag), &pinned);
    } else if (reason == DLL_PROCESS_DETACH && reserved) {
        AppendTestLog(self, "exit running=%d\n", RunningFlag());
    }
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI VerifyScreenSavePwd(HWND window) {
    // The count lives in the process environment, which outlasts the library.
    wchar_t text[16] = L"0";
    GetEnvironmentVariableW(L"QUELLORA_TEST_PWD_CALLS", text, 16);
    const int calls = _wtoi(text) + 1;
    _snwprintf(text, 16, L"%d", calls);
    SetEnvironmentVariableW(L"QUELLORA_TEST_PWD_CALLS", text);
    const BOOL accept = calls > 1;
    wchar_t cls[64] = L"";
    GetClassNameW(window, cls, 64);
    AppendTestLog(self, "verify call=%d window=%lld class=%ls own=%d cursor=%d running=%d result=%d\n", calls,
                  static_cast<long long>(reinterpret_cast<intptr_t>(window)), cls,
                  GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId() ? 1 : 0, CursorShowing(),
                  RunningFlag(), accept ? 1 : 0);
    return accept;
}

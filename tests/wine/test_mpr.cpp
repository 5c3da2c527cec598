// A stand-in MPR.DLL: records each password-change call with its four
// arguments.
#include <cstdint>

#include "test_log.h"

namespace {
HMODULE self;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) self = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) DWORD WINAPI PwdChangePasswordA(LPCSTR provider, HWND parent, DWORD reserved1,
                                                                 LPVOID reserved2) {
    AppendTestLog(self, "PwdChangePasswordA %s %lld %lu %lld\n", provider ? provider : "(null)",
                  static_cast<long long>(reinterpret_cast<intptr_t>(parent)), static_cast<unsigned long>(reserved1),
                  static_cast<long long>(reinterpret_cast<intptr_t>(reserved2)));
    return 0;
}

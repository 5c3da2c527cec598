// quellora.scr: builds the Win32 platform and hands the command line, less
// the program name, to the core.
#include "platform/win32/win32_platform.h"

#include <shellapi.h>

#include <string>
#include <vector>

#include "app/entry.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    std::vector<std::string> args;
    int argc = 0;
    if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
        for (int i = 1; i < argc; ++i) args.push_back(quellora::win32::Narrow(argv[i]));
        LocalFree(argv);
    }
    quellora::win32::Win32Platform platform(instance);
    // Failures are quiet on Windows: a host that passes a bad window gets nothing.
    (void)quellora::RunQuellora(platform, args);
    return 0;
}

#include "interrupt.h"

#include <csignal>
#include <cstring>
#include <string>

#include "console.h"
#include "files.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace graybmp {
namespace {

// The temporary's name as the signal handler sees it: set while the file exists.
char pendingTemporary[4096];
#ifdef _WIN32
wchar_t pendingWide[4096];  // the same, for the console handler's wide call
#endif

void temporaryMade(void*, const char* name) {
    const std::size_t n = std::strlen(name);
    if (n >= sizeof pendingTemporary) return;  // too long to keep: nothing to remove then
#ifdef _WIN32
    const std::wstring wide = wideName(name);
    if (wide.size() >= sizeof pendingWide / sizeof pendingWide[0]) return;
    std::memcpy(pendingWide, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
#endif
    std::memcpy(pendingTemporary, name, n + 1);
}

void temporaryGone(void*, const char*) { pendingTemporary[0] = '\0'; }

void beforeRename(void*) { testPoint(); }

#ifdef _WIN32
BOOL WINAPI onConsoleEvent(DWORD event) {
    // The temporary is open with delete sharing: deleting it here removes it as soon as
    // the process ends.
    if (pendingTemporary[0] != '\0') DeleteFileW(pendingWide);
    restoreConsole();
    ExitProcess(event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? 128 + SIGINT : 128 + 1);
    return TRUE;
}
#else
// Async-signal-safe: unlink, the console's restore and _exit only.
extern "C" void onInterrupt(int signal) {
    if (pendingTemporary[0] != '\0') unlink(pendingTemporary);
    restoreConsole();
    _exit(128 + signal);
}
#endif

}  // namespace

graybmp_hooks interruptHooks(void (*header)(void*, const graybmp_header*), void* context) {
    graybmp_hooks hooks{};
    hooks.size = sizeof hooks;
    hooks.context = context;
    hooks.header = header;
    hooks.temporary_made = temporaryMade;
    hooks.temporary_gone = temporaryGone;
    hooks.before_rename = beforeRename;
    return hooks;
}

#ifdef _WIN32
void installInterruptHandlers() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }
#else
void installInterruptHandlers() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onInterrupt;
    sigfillset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
}
#endif

}  // namespace graybmp

#include "console.h"

#ifdef _WIN32
#include <conio.h>
#include <io.h>
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>

#include <csignal>
#endif

namespace graybmp {

#ifdef _WIN32

void restoreConsole() {}

// A console, not merely a character device: NUL is one of those too.
bool consoleIsTerminal(bool output) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(output ? STD_OUTPUT_HANDLE : STD_INPUT_HANDLE), &mode) != 0;
}

void waitForKey() {
    if (_isatty(0)) {
        _getch();
        return;
    }
    char byte;
    (void)_read(0, &byte, 1);
}

#else

namespace {
termios saved;
volatile sig_atomic_t raw = 0;  // the terminal is in the key wait's mode
}  // namespace

bool consoleIsTerminal(bool output) { return isatty(output ? STDOUT_FILENO : STDIN_FILENO) != 0; }

void restoreConsole() {
    if (raw != 0) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

void waitForKey() {
    char byte;
    if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0) {
        termios keys = saved;
        keys.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        keys.c_cc[VMIN] = 1;
        keys.c_cc[VTIME] = 0;
        raw = 1;
        if (tcsetattr(STDIN_FILENO, TCSANOW, &keys) == 0) {
            (void)!read(STDIN_FILENO, &byte, 1);
            tcsetattr(STDIN_FILENO, TCSANOW, &saved);
            raw = 0;
            return;
        }
        raw = 0;
    }
    (void)!read(STDIN_FILENO, &byte, 1);
}

#endif

}  // namespace graybmp

#include "platform/console.h"

#ifdef _WIN32
#include <conio.h>
#include <io.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace graybmp {

#ifdef _WIN32

void waitForKey() {
    if (_isatty(0)) {
        _getch();
        return;
    }
    char byte;
    (void)_read(0, &byte, 1);
}

#else

void waitForKey() {
    char byte;
    termios saved;
    if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0) {
        termios raw = saved;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) {
            (void)!read(STDIN_FILENO, &byte, 1);
            tcsetattr(STDIN_FILENO, TCSANOW, &saved);
            return;
        }
    }
    (void)!read(STDIN_FILENO, &byte, 1);
}

#endif

}  // namespace graybmp

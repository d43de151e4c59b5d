// graybmp: turns BMP images gray. Without arguments it turns "_Carib256.bmp" in the current
// directory into the gray "_Carib256NEW.bmp".
#include "batch.h"

int main(int argc, char** argv) {
    try {
        return graybmp::runCommandLine(argc, argv);
    } catch (...) {
        return 1;
    }
}

// graybmp: turns "_Carib256.bmp" in the current directory into the gray "_Carib256NEW.bmp".
#include "convert/run.h"

int main() {
    try {
        return graybmp::runConversion();
    } catch (...) {
        return 1;
    }
}

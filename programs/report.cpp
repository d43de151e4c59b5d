#include "report.h"

namespace graybmp {

void printHeaderReport(const graybmp_header& header, std::ostream& out) {
    if (header.is_bmp != 0) out << "Type: BMP file" << std::endl;
    out << "Size: " << header.size << std::endl;
    out << "Width: " << header.width << std::endl;
    out << "Height: " << header.height << std::endl;
    out << "BitCount: " << header.bit_count << std::endl;
}

}  // namespace graybmp

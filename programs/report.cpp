#include "report.h"

namespace graybmp {

void printHeaderReport(const graybmp_header& header, std::ostream& out) {
    const char* const pictures[] = {"PNG", "JPEG", "WebP", "GIF", "netpbm"};
    const int kind = static_cast<int>(header.kind);
    const bool picture = kind >= GRAYBMP_KIND_PNG && kind <= GRAYBMP_KIND_NETPBM;
    if (header.is_bmp != 0) out << "Type: BMP file" << std::endl;
    if (picture) out << "Type: " << pictures[kind - GRAYBMP_KIND_PNG] << " file" << std::endl;
    if (picture && header.size < 0) out << "Size: unknown" << std::endl;
    else out << "Size: " << header.size << std::endl;
    out << "Width: " << header.width << std::endl;
    out << "Height: " << header.height << std::endl;
    out << "BitCount: " << header.bit_count << std::endl;
}

}  // namespace graybmp

#include "report/report.h"

namespace graybmp {

void printHeaderReport(const BitmapHeaders& headers, std::ostream& out) {
    if (bfType(headers) == kBmSignature) out << "Type: BMP file" << std::endl;
    out << "Size: " << bfSize(headers) << std::endl;
    if (biSize(headers) == kCoreHeaderSize) {  // OS/2 1.x: 16-bit fields of its own
        out << "Width: " << bcWidth(headers) << std::endl;
        out << "Height: " << bcHeight(headers) << std::endl;
        out << "BitCount: " << bcBitCount(headers) << std::endl;
        return;
    }
    out << "Width: " << biWidth(headers) << std::endl;
    out << "Height: " << biHeight(headers) << std::endl;
    out << "BitCount: " << static_cast<int>(biBitCount(headers)) << std::endl;
}

}  // namespace graybmp

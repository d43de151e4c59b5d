#include "report/report.h"

namespace graybmp {

void printHeaderReport(const BitmapHeaders& headers, std::ostream& out) {
    if (bfType(headers) == kBmSignature) out << "Type: BMP file" << std::endl;
    out << "Size: " << bfSize(headers) << std::endl;
    out << "Width: " << biWidth(headers) << std::endl;
    out << "Height: " << biHeight(headers) << std::endl;
    out << "BitCount: " << static_cast<int>(biBitCount(headers)) << std::endl;
}

}  // namespace graybmp

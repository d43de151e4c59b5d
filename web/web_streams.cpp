// WebAssembly: a reader, a writer and a row callback whose calls go to the JavaScript
// module, for conversions that take their input from, and give their output to, the
// module's own arrays a chunk at a time, so that neither has to lie in WebAssembly's
// memory. The module gives the instance these six functions (module "graybmp_web"); they
// serve the one conversion the module is running (it runs one at a time).
#include <cstddef>
#include <cstdint>

#include "graybmp.h"

extern "C" {

#define GRAYBMP_WEB_IMPORT(name) __attribute__((import_module("graybmp_web"), import_name(name)))

GRAYBMP_WEB_IMPORT("read") long long graybmpWebRead(void* context, void* buffer, size_t count);
GRAYBMP_WEB_IMPORT("seek_input") int graybmpWebSeekInput(void* context, uint64_t offset);
GRAYBMP_WEB_IMPORT("length") long long graybmpWebLength(void* context);
GRAYBMP_WEB_IMPORT("write") long long graybmpWebWrite(void* context, const void* data, size_t count);
GRAYBMP_WEB_IMPORT("seek_output") int graybmpWebSeekOutput(void* context, uint64_t offset);
GRAYBMP_WEB_IMPORT("row") int graybmpWebRow(void* context, uint32_t row, const unsigned char* pixels,
                                            uint32_t width);

// Fills `reader`, `writer` and `row` with the module's functions: a reader with seek and
// length, a writer with seek, a row callback.
__attribute__((export_name("graybmp_web_streams"))) void graybmp_web_streams(graybmp_reader* reader,
                                                                             graybmp_writer* writer,
                                                                             graybmp_row_callback* row) {
    *reader = graybmp_reader{nullptr, graybmpWebRead, graybmpWebSeekInput, graybmpWebLength};
    *writer = graybmp_writer{nullptr, graybmpWebWrite, graybmpWebSeekOutput};
    *row = graybmpWebRow;
}

}  // extern "C"

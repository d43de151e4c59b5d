// The platform without files (WebAssembly): the library works on memory and callbacks;
// a file or a temporary cannot be opened, with ENOSYS, so the tool's file code is never
// reached. Nothing here touches a file system, a signal or a thread.
#include <cerrno>

#include "platform/files.h"
#include "platform/output.h"

namespace graybmp {

bool streamOpen(Stream&, const char*, const char*) {
    errno = ENOSYS;
    return false;
}

bool streamAttach(Stream&, std::FILE*, bool) {
    errno = ENOSYS;
    return false;
}

bool streamFileKind(Stream& stream, FileKind&, std::uint64_t&) {
    return streamFail(stream, ENOSYS);
}

bool streamIsFile(Stream&, const char*) { return false; }

std::size_t fileReadAt(Stream& stream, std::int64_t, std::uint8_t*, std::size_t) {
    streamFail(stream, ENOSYS);
    return 0;
}

bool fileWriteAt(Stream& stream, std::int64_t, const std::uint8_t*, std::size_t) {
    return streamFail(stream, ENOSYS);
}

bool fileKernelCopy(Stream&, Stream&, std::int64_t&, std::int64_t) { return false; }

long long fileReadSome(Stream&, std::uint8_t*, std::size_t) {
    errno = ENOSYS;
    return -1;
}

bool fileSend(Stream& stream, const std::uint8_t*, std::size_t, const std::uint8_t*, std::size_t) {
    return streamFail(stream, ENOSYS);
}

std::size_t fileReadInOrder(Stream& stream, void*, std::size_t) {
    streamFail(stream, ENOSYS);
    return 0;
}

bool fileClose(Stream& stream) {
    stream.file = nullptr;
    return true;
}

bool outputCreate(OutputFile&, const char*, Stream&) {
    errno = ENOSYS;
    return false;
}

bool outputCommit(OutputFile&) {
    errno = ENOSYS;
    return false;
}

void outputDiscard(OutputFile&) {}

}  // namespace graybmp

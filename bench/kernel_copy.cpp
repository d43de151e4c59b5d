// The kernel's own file copy, as a yardstick beside dd: copy_file_range of SOURCE to
// TARGET, created or truncated; with --rename, to a new file beside TARGET that is then
// renamed over it, as graybmp replaces its output.
//   kernel_copy SOURCE TARGET [--rename]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const bool rename = argc > 3 && std::strcmp(argv[3], "--rename") == 0;
    const std::string target = argv[2], written = rename ? target + ".new" : target;
    const int in = open(argv[1], O_RDONLY);
    const int out = open(written.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    struct stat st;
    if (in < 0 || out < 0 || fstat(in, &st) != 0) return 1;
    for (off_t left = st.st_size; left > 0;) {
        const ssize_t n = copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(left), 0);
        if (n <= 0) {
            std::perror("copy_file_range");
            return 1;
        }
        left -= n;
    }
    if (close(out) != 0) return 1;
    return rename && std::rename(written.c_str(), target.c_str()) != 0 ? 1 : 0;
}

#include "platform/file_read.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool ReadRegularFile(const char* path, uint64_t maxBytes, std::vector<uint8_t>& bytes,
                     std::string& reason) {
    bytes.clear();
    // O_NONBLOCK: opening a FIFO with no writer returns at once instead of waiting for one;
    // fstat on what was opened then refuses it (no race between a stat and the open).
    const int fd = path ? open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    if (fd < 0) {
        reason = "cannot open the file";
        return false;
    }
    struct stat st {};
    bool ok = false;
    if (fstat(fd, &st) != 0) {
        reason = "cannot read the file";
    } else if (!S_ISREG(st.st_mode)) {
        reason = "not a regular file";
    } else if (uint64_t(st.st_size) > maxBytes) {
        reason = "larger than the " + std::to_string(maxBytes >> 20) + " MiB accepted";
    } else {
        bytes.resize(size_t(st.st_size));
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += size_t(n);
        }
        // A file that shrank while being read is refused: a model or picture cut short by a
        // writer is not worth half-reading.
        ok = done == size_t(st.st_size);
        if (!ok) reason = "cannot read the file";
    }
    close(fd);
    if (!ok) bytes.clear();
    return ok;
}

#include "rbf/disk_probe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "os9types.h"

namespace rbf {

bool host_file_is_disk_image(const std::string& name) {
    // Looked at before opening: opening a FIFO for reading waits for a writer.
    struct stat st {};
    if (stat(name.c_str(), &st) != 0 || (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode))) return false;
    int fd;
    do fd = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    std::array<u_char, SECTOR_SIZE> lsn0{};
    std::size_t got = 0;
    while (got < lsn0.size()) {
        const ssize_t n = pread(fd, lsn0.data() + got, lsn0.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    disk_geometry geometry;
    return got == lsn0.size() && decode_geometry(lsn0.data(), &geometry) == E_SUCCESS;
}

}  // namespace rbf

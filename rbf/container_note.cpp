// What the user is told about a container when an image fails: the
// refusal of the container, or that it holds no OS-9 disk, or why it cannot
// be written.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os9disk.h"
#include "rbf/container.h"
#include "rbf/image.h"

namespace rbf {

namespace {

std::string kind_name(const container_info& info) {
    switch (info.kind) {
        case container_kind::jvc: return "a JVC image";
        case container_kind::vdk: return "a VDK image";
        case container_kind::dmk: return "a DMK image";
        case container_kind::imd: return "an ImageDisk image";
        case container_kind::raw: break;
    }
    return {};
}

}  // namespace

bool image_read_failed() { return container_fault_pending(); }

std::string image_container(const os9_image& image) { return container_description(image.container); }

std::string image_container_note(const std::string& name, std::optional<std::uint64_t> offset, error_code error) {
    if (error == E_GENERAL) return container_fault_taken();
    if (error != E_BTYP && error != E_FNA) return {};
    const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return {};
    struct stat st {};
    if (fstat(fd, &st) != 0 || (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode))) {
        close(fd);
        return {};
    }
    std::unique_ptr<device> file = host_file_device(fd, false);
    container_info info;
    container_refusal r = detect_container(*file, offset, &info);
    if (r.error) return r.error == error ? r.why : std::string();
    if (error == E_FNA) {
        if (info.kind == container_kind::imd)
            return "an ImageDisk image, which dv only reads: convert it first with dvconvert";
        if (info.write_protected && !ignore_write_protect())
            return "write-protected " + std::string(info.kind == container_kind::vdk ? "(VDK" : "(DMK") +
                   " header): DV_IGNORE_WRITE_PROTECT=1 writes it all the same";
        return {};
    }
    if (info.kind == container_kind::raw && !info.partition) return {};
    std::unique_ptr<device> disk;
    r = container_device(std::move(file), info, &disk);
    if (r.error) return r.why;
    u_char s[SECTOR_SIZE];
    disk_geometry g;
    if (disk->read(0, s, sizeof s) == sizeof s && decode_geometry(s, &g) == E_SUCCESS) return {};
    container_fault_taken();  // a fault of this look is not the one the user was told of
    if (info.partition) return "without an OS-9 disk at byte " + std::to_string(info.base);
    return kind_name(info) + " without an OS-9 disk in it";
}

}  // namespace rbf

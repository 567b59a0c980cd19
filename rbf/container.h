// The containers an RBF disk comes in.  A raw image holds LSN 0 at byte 0
// and the sectors in LSN order; the others wrap the same sectors in a
// header (JVC, VDK), an offset inside a larger file (a partition), or whole
// tracks with sector IDs (DMK, ImageDisk).
//
// A container is known from its contents only, never from the file's name:
// a file whose first sector is a sound LSN 0 is raw, whatever else it could
// be read as, so every image that opened as raw before still does.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "os9types.h"

namespace rbf {

class device;

enum class container_kind : std::uint8_t { raw, jvc, vdk, dmk, imd };

// What detection learnt of a file's container.
struct container_info {
    container_kind kind = container_kind::raw;
    std::uint64_t base = 0;       // file offset of LSN 0 (JVC, VDK, a partition)
    bool partition = false;       // `base` was given by the user
    unsigned header_bytes = 0;    // JVC: bytes of its header
    unsigned cylinders = 0;       // VDK, DMK: as the header says
    unsigned sides = 0;
    bool write_protected = false; // VDK flag bit 0, DMK byte 0 $FF
    // The disk's bytes the container holds (0: as far as the file goes).
    std::uint64_t disk_bytes = 0;
};

// "JVC, 2-byte header", "VDK", "DMK, 40 cylinders, 2 sides", "ImageDisk",
// "partition at byte N"; "" for a raw image.
std::string container_description(const container_info& info);

// Why a file cannot be used, as the end of "'<file>' is ...": a container
// refused, damaged, or one that holds no OS-9 disk.
struct container_refusal {
    error_code error = E_SUCCESS;
    std::string why;
};

// Looks at the file's bytes (through `file`) and says what holds the disk:
// 0 and *info, or the refusal of a container recognised but not usable.
// With `offset`, the disk is a raw one at that byte of the file.
container_refusal detect_container(device& file, std::optional<std::uint64_t> offset, container_info* info);

// The device that reaches the disk inside the container (the file device
// itself for a raw image), or a refusal (a damaged track structure).
container_refusal container_device(std::unique_ptr<device> file, const container_info& info,
                                   std::unique_ptr<device>* out);

// A host file shared by the volumes of its partitions: one descriptor and
// one lock for all of them, so that a copy from one partition to another
// does not wait for itself.
std::unique_ptr<device> shared_file_device(std::shared_ptr<device> file);

// Whether the user asked to write images whose container is write-protected
// (DV_IGNORE_WRITE_PROTECT=1).
bool ignore_write_protect();

// The last sector a container device could not deliver (a bad CRC, a
// missing sector), said as "LSN n ...", and forgotten once asked; "" when
// none failed since.
std::string container_fault_taken();
void container_fault_note(std::string what);
bool container_fault_pending();

// The CRC-16 of the disk controllers (CCITT polynomial, from `crc`).
std::uint16_t crc16_ccitt(const unsigned char* p, std::size_t n, std::uint16_t crc = 0xFFFF);

}  // namespace rbf

// The bottom of the library: where an image's bytes are.  A device reads and
// writes the bytes of the disk, byte n * 256 being the start of LSN n, takes
// the host's lock and keeps whatever cache it likes; it knows nothing of
// directories, bitmaps or files.  The volume above it (rbf/image.h) learns of
// writes by making them, never by a call up from here.
//
// A device maps a disk offset to where its bytes are: a plain image file
// holds LSN 0 at byte 0, another device may put a header before the sectors
// or spread them over tracks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "os9types.h"

namespace rbf {

class device {
public:
    virtual ~device() = default;
    // Copies up to n bytes of the disk at `off`; returns how many it holds.
    virtual std::size_t read(std::uint64_t off, void* buf, std::size_t n) = 0;
    // Writes n bytes at `off`, growing the disk when they reach past its
    // end; returns how many were taken (0 on a device opened to read).
    virtual std::size_t write(std::uint64_t off, const void* buf, std::size_t n) = 0;
    // Bytes of the disk the device holds now.
    virtual std::uint64_t size() = 0;
    virtual bool writable() const = 0;
    // errno of the last write that was refused (0: none).
    virtual int last_errno() const = 0;
    // Puts what was written on the host's disk: 0, else 1.
    virtual error_code sync() { return E_SUCCESS; }
    // Lets go of the host's lock, and takes it again (the device forgets
    // what it cached: others may have written meanwhile).  253 when it stays
    // busy.
    virtual void unlock() {}
    virtual error_code relock() { return E_SUCCESS; }
    // Forgets what it believes of the host file beyond its cache (its size).
    virtual void forget() {}
    // The disk's bytes as they are now.
    virtual std::vector<u_char> contents();
    // The device this one reaches its bytes through (a container's file),
    // or none: the host file's descriptor and lock live at the bottom.
    virtual device* wrapped() const { return nullptr; }
};

// A host file (or block device) opened on `fd`, with `write` access, locked
// by the caller already.  It owns the descriptor.
std::unique_ptr<device> host_file_device(int fd, bool write);

// Takes flock's shared or exclusive lock on the open file, waiting for a
// busy one up to DV_LOCK_TIMEOUT seconds (default 10; 0: no wait): 253 when
// it stays busy.  A file system without locks is used unlocked.  After a
// second of waiting the wait notice (os9path.h) hears of `name`, once.
error_code lock_file(int fd, bool exclusive, const std::string& name = {});

// The host descriptor of a host file device, -1 for any other device.
int host_descriptor(const device& dev);
// Gives a host file device the descriptor `fd`, opened for writing and
// locked exclusively by the caller, in place of its read-only one.
void host_device_upgrade(device& dev, int fd);

}  // namespace rbf

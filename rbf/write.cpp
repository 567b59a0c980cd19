// Writes, and the growth of a file's segment list.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "os9path.h"
#include "rbf/internal.h"

namespace rbf {

using namespace detail;

namespace {

// Units taken during one write, given back if the write fails.
struct taken_run {
    int first;
    int count;
};
using journal = std::vector<taken_run>;

error_code native_write(os9_path_id path, const void* buffer, int* size) {
    int want = std::max(*size, 0);
    if (path->isnative) {
        *size = static_cast<int>(std::fwrite(buffer, 1, static_cast<std::size_t>(want), path->fd.get()));
        return E_SUCCESS;
    }
    // Raw image: at the stream position, never past the end of the disk.
    if (!path->writable) {
        *size = 0;
        return E_FNA;
    }
    std::int64_t room = std::max<std::int64_t>(disk_bytes(*path) - path->raw_pos, 0);
    std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(want, room));
    std::size_t done = image_write(*path->img, static_cast<std::uint64_t>(path->raw_pos), buffer, n);
    // Anything may have changed under the writers' map and claims.
    image_forget(*path->img);
    path->raw_pos += static_cast<std::int64_t>(done);
    *size = static_cast<int>(done);
    return E_SUCCESS;
}

// The lowest of the longest runs of free clusters above the system area,
// at most `most` long (so the lowest run of `most` when there is one):
// *length its clusters; -1 when no cluster is free.  Clusters holding
// LSN 0 or the bitmap never count as free, whatever a damaged bitmap says.
std::int64_t longest_free_run(os9_path_id path, std::int64_t most, std::int64_t* length) {
    std::span<u_char> bitmap = alloc_bitmap(*path);
    const std::int64_t limit = alloc_limit(*path);
    std::int64_t best = -1, best_len = 0, count = 0;
    bool seen_clear = false;
    for (std::int64_t k = search_start(*path); k < limit && best_len < most;) {
        if (count == 0 && (k & 7) == 0 && k + 8 <= limit && bitmap[k >> 3] == 0xFF) {
            k += 8;
            continue;
        }
        if (bitmap[k >> 3] & (0x80 >> (k & 7))) {
            count = 0;
        } else {
            if (!seen_clear) note_first_clear(*path, k);
            seen_clear = true;
            if (++count > best_len) {
                best_len = count;
                best = k - count + 1;
            }
        }
        ++k;
    }
    *length = std::min(best_len, most);
    return best;
}

// The lowest run of `want` free clusters, as a bit number; -1 when there is none.
std::int64_t free_run(os9_path_id path, std::int64_t want) {
    std::int64_t length = 0;
    const std::int64_t bit = longest_free_run(path, want, &length);
    return length == want ? bit : -1;
}

// A new segment: pd_sas sectors rounded up to whole clusters (one cluster
// when pd_sas is unset or more than half the disk), or, for a file that
// holds more already, a quarter of what it holds, so that a growing file or
// directory needs ever fewer segments; where no run that long is free, the
// pd_sas size; where not even that is free, the longest free run there is,
// as OS-9 fills a disk whose free space is only short runs.  At the lowest
// such run of free clusters above the system area.
error_code sas_segment(os9_path_id path, int* cluster, int* size, journal* taken, std::int64_t held = 0) {
    std::int64_t tot = disk_units(*path);
    int sas = static_cast<int>(path->geo.sas);
    if (sas == 0 || sas > tot / 2) {
        sas = 1;
        path->geo.sas = 1;  // in memory only
    }
    const std::int64_t c = path->geo.cluster_sectors;
    // A segment's length is 16 bits of sectors.
    const std::int64_t most = std::max<std::int64_t>(0xFFFF / c, 1);
    const std::int64_t base = std::clamp<std::int64_t>((sas + c - 1) / c, 1, most);
    const std::int64_t grown = std::clamp<std::int64_t>(held / c / 4, base, most);
    std::int64_t want = grown;
    std::int64_t bit = free_run(path, want);
    if (bit < 0 && grown > base) bit = free_run(path, want = base);
    if (bit < 0) bit = longest_free_run(path, base, &want);
    if (bit < 0) return E_FULL;
    const std::int64_t start = bit * c;
    // The disk's last cluster may be partial: the segment stops at the end.
    const std::int64_t sectors = std::min<std::int64_t>(want * c, tot - start);
    take_units(*path, start, sectors);
    if (taken) taken->push_back({static_cast<int>(start), static_cast<int>(sectors)});
    *cluster = static_cast<int>(start);
    *size = static_cast<int>(sectors);
    return E_SUCCESS;
}

int extend_seg_list(os9_path_id path, fd_seg* segptr, int* delta, journal* taken) {
    int used = 0;
    std::int64_t held = 0;  // sectors the list holds
    while (used < SEGMENT_COUNT && get_be24(segptr[used].lsn) != 0) held += get_be16(segptr[used++].num);
    if (used > 0) {
        // Growth in place: the last segment lengthened by the cluster after it.
        fd_seg& last = segptr[used - 1];
        const std::int64_t c = path->geo.cluster_sectors;
        std::int64_t num = get_be16(last.num);
        std::int64_t next = std::int64_t{get_be24(last.lsn)} + num;
        const std::int64_t bit = next / c;
        std::span<u_char> bitmap = alloc_bitmap(*path);
        if (next % c == 0 && num + c <= 0xFFFF && bit < alloc_limit(*path) && units_sane(*path, next, c) &&
            !system_bit(*path, bit) && !_os9_ckbit(bitmap, static_cast<int>(bit))) {
            take_units(*path, next, c);
            if (taken) taken->push_back({static_cast<int>(next), static_cast<int>(c)});
            put_be16(last.num, static_cast<std::uint32_t>(num + c));
            *delta = static_cast<int>(c * unit_bytes(*path));
            return E_SUCCESS;
        }
        if (used == SEGMENT_COUNT) return E_SLF;
    }
    int cluster = 0;
    int size = 0;
    if (sas_segment(path, &cluster, &size, taken, held) != E_SUCCESS) return E_FULL;
    put_be24(segptr[used].lsn, static_cast<std::uint32_t>(cluster));
    put_be16(segptr[used].num, static_cast<std::uint32_t>(size));
    *delta = static_cast<int>(size * unit_bytes(*path));
    return E_SUCCESS;
}

}  // namespace

int SAS(int s, int sas) { return (s % sas == 0) ? s / sas * sas : (s / sas + 1) * sas; }

error_code _os9_getSASSegment(os9_path_id path, int* cluster, int* size) {
    return sas_segment(path, cluster, size, nullptr);
}

int _os9_extendSegList(os9_path_id path, fd_seg* segptr, int* delta) {
    return extend_seg_list(path, segptr, delta, nullptr);
}

error_code _os9_write(os9_path_id path, const void* buffer, int* size) {
    if (path->isnative || path->israw) return native_write(path, buffer, size);
    if (!path->writable) return E_FNA;
    fd_stats fd;
    if (error_code ec = fd_load(*path, path->pl_fd_lsn, fd)) return ec;
    std::int64_t fsize = fd_size(fd);
    if (path->filepos > fsize) return E_EOF;
    std::int64_t want = std::max(*size, 0);
    std::int64_t end = path->filepos + want;
    if (end > 0xFFFFFFFFLL) return E_FULL;  // fd_siz is 32 bits

    journal taken;
    // Units taken and not used are given back, and the map written again.
    auto undo = [&](error_code ec) {
        for (const taken_run& r : taken) give_units(*path, r.first, r.count);
        bitmap_sync(*path);
        return ec;
    };
    std::int64_t accum = _os9_maximum_file_size(fd, static_cast<int>(unit_bytes(*path)));
    const std::int64_t had = accum;  // bytes the units held before this write
    while (accum < end) {
        int delta = 0;
        if (int ec = extend_seg_list(path, fd.fd_seg, &delta, &taken)) return undo(ec);
        accum += delta;
    }
    if (want == 0 && path->filepos >= accum) return E_GENERAL;  // no segment holds the position
    // The new units are marked in use on the disk before the data and the
    // FD that use them are written: a crash in between only leaks them.
    if (error_code ec = bitmap_sync(*path)) return undo(ec);
    // The bytes bound for new units go first: when the host refuses them,
    // the units the file already had are untouched.
    auto* bytes = static_cast<u_char*>(const_cast<void*>(buffer));
    const std::int64_t split = std::clamp(had, path->filepos, end);
    for (const auto& [from, to] : {std::pair{split, end}, std::pair{path->filepos, split}}) {
        std::int64_t done = 0;
        error_code ec = file_transfer(*path, fd, from, bytes + (from - path->filepos), to - from, true, false, &done);
        if (to > from && (ec != E_SUCCESS || done < to - from)) return undo(write_error(*path->img));
    }
    if (end > fsize) put_be32(fd.fd_siz, static_cast<std::uint32_t>(end));
    if (error_code stored = fd_store(*path, path->pl_fd_lsn, fd)) return undo(stored);
    path->filepos = end;
    return E_SUCCESS;
}

error_code _native_zero_fill(os9_path_id path, long long count) {
    if (!path->isnative || !path->fd || count < 0) return E_GENERAL;
    std::FILE* f = path->fd.get();
    if (std::fflush(f) != 0) return E_GENERAL;
    int fd = fileno(f);
    long long pos = std::ftell(f);
    struct stat st {};
    if (pos < 0 || fstat(fd, &st) != 0) return E_GENERAL;
    long long end = pos + count;
    long long inside_end = std::min<long long>(end, st.st_size);
    if (inside_end > pos) {
        // Bytes the file already holds are cleared: a hole where the file
        // system can punch one, zeros written otherwise.
        if (fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, pos, inside_end - pos) != 0) {
            std::vector<u_char> zeros(1 << 16, 0);
            for (long long at = pos; at < inside_end;) {
                std::size_t n = static_cast<std::size_t>(std::min<long long>(zeros.size(), inside_end - at));
                ssize_t w = pwrite(fd, zeros.data(), n, at);
                if (w <= 0) return E_GENERAL;
                at += w;
            }
        }
    }
    if (end > st.st_size && ftruncate(fd, end) != 0) return E_GENERAL;
    return std::fseek(f, static_cast<long>(end), SEEK_SET) == 0 ? E_SUCCESS : E_GENERAL;
}

}  // namespace rbf

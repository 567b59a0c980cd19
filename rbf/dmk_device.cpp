// DMK track images: each track a table of 64 pointers to the sectors' ID
// marks, then the track's bytes as the controller saw them (single-density
// bytes written twice unless the header says the disk is single density
// only).  The sectors are mapped by their IDs when the image is opened; a
// read checks the data field's CRC, a write puts the new data and its CRC
// where the old ones were.  Nothing else of the file is ever written.
#include <algorithm>
#include <array>
#include <cerrno>

#include "rbf/littleendian.h"
#include "rbf/track_devices.h"

namespace rbf {

namespace {

constexpr std::uint64_t HEADER = 16;
constexpr unsigned TABLE = 128;  // 64 sector pointers
// How far past its ID field a sector's data mark may lie (the gap between
// them is 22 + 12 bytes on a double-density track, 11 + 6 on a single).
constexpr unsigned MARK_REACH = 60;
constexpr u_char SYNC[3] = {0xA1, 0xA1, 0xA1};

struct dmk_sector {
    std::uint64_t mark_at;  // file offset of the data mark
    unsigned stride;        // 2 for doubled single-density bytes
    bool mfm;
};

// The CRC of a field: over the three sync bytes first on a double-density
// track, over the mark and the bytes alone on a single-density one.
std::uint16_t field_crc(const u_char* field, std::size_t n, bool mfm) {
    return crc16_ccitt(field, n, mfm ? crc16_ccitt(SYNC, 3) : 0xFFFF);
}

class dmk_disk final : public device {
public:
    dmk_disk(std::unique_ptr<device> file, container_info info, bool protect)
        : file_(std::move(file)), info_(info), protect_(protect) {}

    // Reads the tracks and maps every sector whose ID is sound.
    container_refusal load() {
        sectors_.clear();
        lsn_of_.clear();
        u_char h[HEADER];
        if (file_->read(0, h, HEADER) != HEADER) return damaged("its header is cut short");
        track_bytes_ = get_le16(h + 2);
        flags_ = h[4];
        const unsigned tracks = info_.cylinders * info_.sides;
        std::vector<u_char> track(track_bytes_);
        std::vector<sector_id> ids;
        for (unsigned t = 0; t < tracks; ++t) {
            const std::uint64_t at = HEADER + std::uint64_t{t} * track_bytes_;
            if (file_->read(at, track.data(), track_bytes_) != track_bytes_)
                return damaged("track " + std::to_string(t) + " is cut short");
            for (unsigned k = 0; k < 64; ++k) {
                const std::uint32_t word = get_le16(track.data() + 2 * k);
                if (word == 0) break;
                const unsigned off = word & 0x3FFF;
                if (off < TABLE || off >= track_bytes_)
                    return damaged("a sector pointer of track " + std::to_string(t) + " lies outside the track");
                const bool mfm = (word & 0x8000) != 0;
                const unsigned stride = mfm || (flags_ & 0xC0) ? 1 : 2;
                if (auto r = id_at(track, t, off, mfm, stride, at, &ids); r.error) return r;
            }
        }
        container_refusal r = place_sectors(std::move(ids), info_.cylinders, info_.sides, "DMK", &lsn_of_);
        checked_.assign(lsn_of_.size(), false);
        return r;
    }

    std::size_t read(std::uint64_t off, void* buf, std::size_t n) override {
        std::size_t done = 0;
        std::array<u_char, SECTOR_SIZE> data;
        while (done < n) {
            const std::uint64_t lsn = (off + done) / SECTOR_SIZE, in = (off + done) % SECTOR_SIZE;
            if (lsn >= lsn_of_.size()) break;
            if (!sector(lsn, data.data(), true)) break;
            const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, SECTOR_SIZE - in));
            std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(in), part, static_cast<u_char*>(buf) + done);
            done += part;
        }
        return done;
    }

    std::size_t write(std::uint64_t off, const void* buf, std::size_t n) override {
        errno_ = 0;
        if (n == 0 || !writable()) return 0;
        std::size_t done = 0;
        std::array<u_char, SECTOR_SIZE> data;
        while (done < n) {
            const std::uint64_t lsn = (off + done) / SECTOR_SIZE, in = (off + done) % SECTOR_SIZE;
            const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, SECTOR_SIZE - in));
            // A whole sector needs nothing of the old one; a part of one
            // keeps the rest of its bytes, sound or not.
            if (lsn >= lsn_of_.size() || lsn_of_[lsn] == 0 || (part < SECTOR_SIZE && !sector(lsn, data.data(), false))) {
                errno_ = ENOSPC;
                break;
            }
            std::copy_n(static_cast<const u_char*>(buf) + done, part, data.begin() + static_cast<std::ptrdiff_t>(in));
            if (!put_sector(sectors_[lsn_of_[lsn] - 1], data.data())) break;
            checked_[lsn] = true;  // its CRC is the one just written
            done += part;
        }
        return done;
    }

    std::uint64_t size() override { return std::uint64_t{lsn_of_.size()} * SECTOR_SIZE; }
    bool writable() const override { return file_->writable() && !protect_; }
    int last_errno() const override { return errno_ ? errno_ : file_->last_errno(); }
    error_code sync() override { return file_->sync(); }
    void unlock() override { file_->unlock(); }
    error_code relock() override {
        error_code ec = file_->relock();
        // Another program may have rewritten the tracks meanwhile.
        if (ec == E_SUCCESS && load().error) {
            lsn_of_.clear();
            checked_.clear();
        }
        return ec;
    }
    void forget() override { file_->forget(); }
    device* wrapped() const override { return file_.get(); }

private:
    container_refusal damaged(const std::string& why) { return {E_BTYP, "a damaged DMK image: " + why}; }

    // The ID field at `off` of track `t`: a sector to map when its CRC is
    // right and its data mark follows within reach.
    container_refusal id_at(const std::vector<u_char>& track, unsigned t, unsigned off, bool mfm, unsigned stride,
                            std::uint64_t track_at, std::vector<sector_id>* ids) {
        auto byte = [&](unsigned k, u_char* b) {
            const std::uint64_t p = off + std::uint64_t{k} * stride;
            if (p >= track.size()) return false;
            *b = track[p];
            return true;
        };
        u_char id[7];
        for (unsigned k = 0; k < 7; ++k)
            if (!byte(k, &id[k])) return damaged("an ID field of track " + std::to_string(t) + " runs off the track");
        if (id[0] != 0xFE) return damaged("a sector pointer of track " + std::to_string(t) + " misses its ID mark");
        if (field_crc(id, 5, mfm) != ((id[5] << 8) | id[6])) return {};  // not a sector to trust: left unmapped
        if (id[4] != 1)
            return {E_BTYP, "a DMK image with " + std::to_string(128 << (id[4] & 3)) +
                                "-byte sectors; dv reads only 256-byte ones"};
        for (unsigned k = 7; k < 7 + MARK_REACH; ++k) {
            u_char m;
            if (!byte(k, &m)) break;
            if (m != 0xFB && m != 0xF8) continue;
            if (mfm) {
                u_char a, b, c;
                if (!byte(k - 1, &a) || !byte(k - 2, &b) || !byte(k - 3, &c) || a != 0xA1 || b != 0xA1 || c != 0xA1)
                    continue;
            }
            u_char last;
            if (!byte(k + SECTOR_SIZE + 2, &last))
                return damaged("the data of sector " + std::to_string(id[3]) + " of track " + std::to_string(t) +
                               " runs off the track");
            sectors_.push_back({track_at + off + std::uint64_t{k} * stride, stride, mfm});
            ids->push_back({id[1], id[2], id[3], sectors_.size() - 1});
            return {};
        }
        return {};  // an ID without data: the sector reads as missing
    }

    // LSN `lsn`'s data; with `check`, false (and the fault noted) when the
    // sector is missing or its CRC is wrong.
    bool sector(std::uint64_t lsn, u_char* data, bool check) {
        const std::size_t slot = lsn_of_[lsn];
        if (slot == 0) {
            if (check) container_fault_note("damaged at LSN " + std::to_string(lsn) + ": no sector on the disk has its ID");
            return false;
        }
        const dmk_sector& s = sectors_[slot - 1];
        std::array<u_char, 2 * (SECTOR_SIZE + 3)> raw;
        const std::size_t want = (SECTOR_SIZE + 3) * s.stride;
        if (file_->read(s.mark_at, raw.data(), want) != want) {
            if (check) container_fault_note("damaged at LSN " + std::to_string(lsn) + ": its track is cut short");
            return false;
        }
        std::array<u_char, SECTOR_SIZE + 3> field;
        for (std::size_t i = 0; i < field.size(); ++i) field[i] = raw[i * s.stride];
        std::copy_n(field.begin() + 1, SECTOR_SIZE, data);
        // A sector read sound once stays so until someone else may write.
        if (!check || checked_[lsn]) return true;
        if (field_crc(field.data(), SECTOR_SIZE + 1, s.mfm) != ((field[SECTOR_SIZE + 1] << 8) | field[SECTOR_SIZE + 2])) {
            container_fault_note("damaged at LSN " + std::to_string(lsn) + ": its data fails the CRC check");
            return false;
        }
        checked_[lsn] = true;
        return true;
    }

    bool put_sector(const dmk_sector& s, const u_char* data) {
        std::array<u_char, SECTOR_SIZE + 3> field;
        u_char mark;
        if (file_->read(s.mark_at, &mark, 1) != 1) return false;
        field[0] = mark;  // a deleted-data mark stays one
        std::copy_n(data, SECTOR_SIZE, field.begin() + 1);
        const std::uint16_t crc = field_crc(field.data(), SECTOR_SIZE + 1, s.mfm);
        field[SECTOR_SIZE + 1] = static_cast<u_char>(crc >> 8);
        field[SECTOR_SIZE + 2] = static_cast<u_char>(crc);
        std::array<u_char, 2 * (SECTOR_SIZE + 3)> raw;
        for (std::size_t i = 0; i < field.size(); ++i)
            for (unsigned k = 0; k < s.stride; ++k) raw[i * s.stride + k] = field[i];
        const std::size_t want = field.size() * s.stride;
        return file_->write(s.mark_at, raw.data(), want) == want;
    }

    std::unique_ptr<device> file_;
    container_info info_;
    bool protect_;
    unsigned track_bytes_ = 0;
    u_char flags_ = 0;
    std::vector<dmk_sector> sectors_;
    std::vector<std::size_t> lsn_of_;
    std::vector<bool> checked_;  // by LSN: the data's CRC was found right
    int errno_ = 0;
};

}  // namespace

container_refusal dmk_device(std::unique_ptr<device> file, const container_info& info, bool protect,
                             std::unique_ptr<device>* out) {
    auto disk = std::make_unique<dmk_disk>(std::move(file), info, protect);
    if (container_refusal r = disk->load(); r.error) return r;
    *out = std::move(disk);
    return {};
}

}  // namespace rbf

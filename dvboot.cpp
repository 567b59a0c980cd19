// dvboot: makes a disk image bootable (the boot file OS9Boot and LSN 0's
// pointer to it, the CoCo kernel track or the Dragon's boot area), reports
// whether it boots, and takes the boot file and the boot code out again.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "misc/endpoint.h"
#include "misc/frame.h"
#include "misc/module_lines.h"
#include "os9disk.h"
#include "os9path.h"
#include "rbf/module.h"
#include "rbf/pathlist.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvboot {[<opts>]} <image>\n",
    "Usage:  makes a disk bootable, or reports whether it is\n",
    "Options:\n",
    "     -b <file>    installs the boot file as OS9Boot, in one segment\n",
    "     -e           with -b: in several segments if need be (LSN 0 names its FD)\n",
    "     -k <file>    installs the kernel track (with -d: the boot area, LSN 2-17)\n",
    "     -d           a Dragon disk: the boot area instead of the kernel track\n",
    "     -F           installs a kernel that does not begin with \"OS\"\n",
    "     -x <folder>  writes the boot file and the boot code to host files there\n",
    nullptr,
};

constexpr dv::Option options[] = {dv::text('b'), dv::flag('e'), dv::text('k'), dv::flag('d'),
                                  dv::flag('F'), dv::text('x')};
const dv::Program program{.name = "dvboot", .help = helpMessage, .options = options, .max_operands = 1, .next_word_values = true};

constexpr std::size_t LARGEST_ONE_SEGMENT = 0xFFFF;  // dd_bsz is 16 bits
constexpr std::size_t LARGEST_BOOT_FILE = 16 * 1024 * 1024;

struct settings {
    std::string boot_file, kernel, folder;
    bool fragmented = false;
    bool dragon = false;
    bool force = false;
};

// The image an operand names: a host file or "image:" (its root).
error_code image_of(const std::string& operand, std::string* file) {
    pathlist pl;
    if (error_code ec = parse_pathlist(operand, &pl)) return ec;
    *file = pl.image;
    if (pl.host) return E_SUCCESS;
    return !pl.raw && (pl.names.empty() || (pl.names.size() == 1 && pl.names[0] == ".")) ? E_SUCCESS : E_BPNAM;
}

// The whole of a host file or an image file; 248 past `most` bytes.
error_code read_source(const std::string& operand, std::size_t most, std::vector<u_char>* bytes) {
    dv::image_table images;
    dv::endpoint e;
    if (error_code ec = dv::endpoint_of(images, operand, false, &e)) return ec;
    return dv::read_whole(e, most, bytes);
}

const char* code_name(boot_code kind) { return kind == boot_code::dragon_area ? "boot area" : "kernel track"; }

std::string sectors_text(const boot_code_place& at) {
    return "LSN " + std::to_string(at.first) + "-" + std::to_string(at.first + at.count - 1);
}

bool begins_os(const std::vector<u_char>& b) { return b.size() >= 2 && b[0] == 'O' && b[1] == 'S'; }

int install_code(const image_ref& image, const std::string& image_name, const settings& s) {
    const boot_code kind = s.dragon ? boot_code::dragon_area : boot_code::kernel_track;
    const std::size_t room = s.dragon ? 4096 : 4608;
    const std::string verb = std::string("installing the ") + code_name(kind) + " in";
    std::vector<u_char> code;
    error_code ec = read_source(s.kernel, room, &code);
    if (ec == E_FULL) {
        std::fprintf(stderr, "dvboot: '%s' holds more than the %s's %zu bytes\n", s.kernel.c_str(), code_name(kind), room);
        return ec;
    }
    if (ec) return dv::report_failure("dvboot", ec, "reading", s.kernel);
    if (!begins_os(code) && !s.force) {
        std::fprintf(stderr, "dvboot: '%s' does not begin with \"OS\": no kernel (-F installs it all the same)\n",
                     s.kernel.c_str());
        return E_GENERAL;
    }
    std::string owner;
    if ((ec = _os9_install_boot_code(image, kind, code, &owner)) != E_SUCCESS) {
        dv::report_failure("dvboot", ec, verb, image_name);
        boot_code_place at;
        if (ec == E_FNA && !owner.empty() && boot_code_place_of(image, kind, &at) == E_SUCCESS)
            std::fprintf(stderr, "dvboot: %s (%s) holds part of %s\n", code_name(kind), sectors_text(at).c_str(),
                         owner.c_str());
        else if (ec == E_GENERAL && boot_code_place_of(image, kind, &at) != E_SUCCESS)
            std::fprintf(stderr, "dvboot: '%s' has no %s\n", image_name.c_str(),
                         s.dragon ? "sectors 2-17" : "track 34");
        return ec;
    }
    return 0;
}

int install_boot_file(const image_ref& image, const std::string& image_name, const settings& s) {
    std::vector<u_char> bytes;
    error_code ec = read_source(s.boot_file, s.fragmented ? LARGEST_BOOT_FILE : LARGEST_ONE_SEGMENT, &bytes);
    if (ec == E_FULL) {
        std::fprintf(stderr, "dvboot: '%s' holds more than %zu bytes%s\n", s.boot_file.c_str(),
                     s.fragmented ? LARGEST_BOOT_FILE : LARGEST_ONE_SEGMENT,
                     s.fragmented ? "" : ", more than dd_bsz can give (-e installs it)");
        return ec;
    }
    if (ec) return dv::report_failure("dvboot", ec, "reading", s.boot_file);
    if (bytes.empty()) {
        std::fprintf(stderr, "dvboot: '%s' is empty: no boot file\n", s.boot_file.c_str());
        return E_GENERAL;
    }
    put_options o;
    o.replace = true;
    o.boot = s.fragmented ? boot_form::fd_form : boot_form::one_segment;
    std::size_t at = 0;
    ec = _os9_put_file(image, "OS9Boot", o, [&](u_char* buf, std::size_t size, std::size_t* got) {
        *got = std::min(size, bytes.size() - at);
        std::memcpy(buf, bytes.data() + at, *got);
        at += *got;
        return E_SUCCESS;
    });
    if (ec) {
        dv::report_failure("dvboot", ec, "installing the boot file in", image_name);
        if (ec == E_FULL && !s.fragmented)
            std::fprintf(stderr, "dvboot: no run of free sectors holds its %zu bytes (-e installs it in several segments)\n",
                         bytes.size());
        return ec;
    }
    return 0;
}

std::string first_bytes(const std::vector<u_char>& b) {
    std::string out;
    char hex[4];
    for (std::size_t k = 0; k < b.size() && k < 8; ++k) {
        std::snprintf(hex, sizeof hex, "%s%02X", k ? " " : "", b[k]);
        out += hex;
    }
    return out;
}

// The report of the disk, or on a disk without the kernel track a Dragon
// boot area (unless one kind was asked for).
error_code look(const image_ref& image, const settings& s, bool asked, boot_code* kind, boot_report* r) {
    *kind = s.dragon ? boot_code::dragon_area : boot_code::kernel_track;
    if (error_code ec = _os9_boot_report(image, *kind, r)) return ec;
    if (asked || s.dragon || begins_os(r->code_bytes)) return E_SUCCESS;
    boot_report dragon;
    if (_os9_boot_report(image, boot_code::dragon_area, &dragon) == E_SUCCESS && dragon.code_owner.empty() &&
        begins_os(dragon.code_bytes)) {
        *kind = boot_code::dragon_area;
        *r = std::move(dragon);
    }
    return E_SUCCESS;
}

// The problems of the disk's boot, one line each.
std::vector<std::string> problems_of(const boot_report& r, boot_code kind, const module_scan& scan) {
    std::vector<std::string> out;
    const boot_pointer& b = r.pointer;
    const std::string pointer = "the boot pointer (dd_bt " + std::to_string(b.lsn) + ", dd_bsz " + std::to_string(b.size) + ")";
    if (!b.boots()) out.push_back("LSN 0 names no boot file (dd_bt 0)");
    else if (!r.file_found) out.push_back(pointer + " names no file");
    if (r.file_found) {
        if (b.size && !r.file_one_segment) out.push_back(pointer + " gives a size, but " + r.file_place + " is not in one segment");
        if (b.size && b.size != r.file_size)
            out.push_back(pointer + " gives " + std::to_string(b.size) + " bytes, " + r.file_place + " holds " +
                          std::to_string(r.file_size));
        if (r.file_bytes.size() < r.file_size)
            out.push_back(r.file_place + " holds " + std::to_string(r.file_size) + " bytes, its segments only " +
                          std::to_string(r.file_bytes.size()));
        for (const module_info& m : scan.modules) {
            if (!m.parity_ok) out.push_back("the module " + m.name + " at offset " + dv::hex_offset(m.offset) + " has a bad header parity");
            if (!m.crc_ok) out.push_back("the module " + m.name + " at offset " + dv::hex_offset(m.offset) + " has a bad CRC");
        }
        if (scan.fault != module_fault::none) out.push_back(r.file_place + ": " + dv::module_fault_text(scan, r.file_bytes.size()));
    }
    const std::string what = std::string("the ") + code_name(kind);
    if (!r.code_on_disk) {
        out.push_back(std::string("the disk has no ") + (kind == boot_code::dragon_area ? "sectors 2-17" : "track 34"));
        return out;
    }
    const std::string where = what + " (" + sectors_text(r.code) + ")";
    if (!r.code_owner.empty()) out.push_back(where + " holds part of " + r.code_owner);
    else if (!begins_os(r.code_bytes)) out.push_back(where + " does not begin with \"OS\"");
    else if (r.code_marked < r.code.count)
        out.push_back(where + ": " + std::to_string(r.code.count - r.code_marked) + " of its " +
                      std::to_string(r.code.count) + " sectors are marked free");
    return out;
}

int report(const image_ref& image, const settings& s) {
    boot_code kind;
    boot_report r;
    if (error_code ec = look(image, s, false, &kind, &r)) return ec;
    const module_scan scan = scan_modules(r.file_bytes);
    if (r.file_found)
        std::printf("boot file: %s (FD %u), LSN %u, %u bytes in %d segment%s\n", r.file_place.c_str(), r.file_fd,
                    r.file_first, r.file_size, r.file_segments, r.file_segments == 1 ? "" : "s");
    else
        std::printf("boot file: none\n");
    std::printf("boot pointer: dd_bt %u, dd_bsz %u%s\n", r.pointer.lsn, r.pointer.size,
                !r.pointer.boots() ? "" : r.pointer.size ? " (its first sector and size)" : " (its FD)");
    if (r.code_on_disk)
        std::printf("%s: %s, %u of %u sectors marked in use, first bytes %s\n", code_name(kind), sectors_text(r.code).c_str(),
                    r.code_marked, r.code.count, first_bytes(r.code_bytes).c_str());
    if (r.file_found) {
        std::printf("modules:\n");
        for (const module_info& m : scan.modules) std::printf("%s\n", dv::module_short_line(m).c_str());
    }
    const std::vector<std::string> problems = problems_of(r, kind, scan);
    for (const std::string& p : problems) std::printf("problem: %s\n", p.c_str());
    return problems.empty() ? 0 : 1;
}

error_code write_host(const std::string& path, const std::vector<u_char>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return dv::host_error(errno);
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const int saved = errno;
    if (std::fclose(f) != 0 || !ok) return ok ? dv::host_error(errno) : dv::host_error(saved);
    return E_SUCCESS;
}

int extract(const image_ref& image, const settings& s) {
    boot_code kind;
    boot_report r;
    if (error_code ec = look(image, s, false, &kind, &r)) return ec;
    if (mkdir(s.folder.c_str(), 0777) != 0 && errno != EEXIST)
        return dv::report_failure("dvboot", dv::host_error(errno), "making", s.folder);
    int status = 0;
    auto put = [&](const std::string& name, const std::vector<u_char>& bytes, const std::string& from) {
        const std::string path = s.folder + "/" + name;
        if (error_code ec = write_host(path, bytes)) {
            dv::report_failure("dvboot", ec, "writing", path);
            if (!status) status = ec;
            return;
        }
        std::printf("%s: %zu bytes from %s\n", path.c_str(), bytes.size(), from.c_str());
    };
    if (r.file_found) put("OS9Boot", r.file_bytes, r.file_place);
    else {
        std::printf("problem: LSN 0 names no boot file\n");
        if (!status) status = 1;
    }
    const bool present = r.code_on_disk && r.code_owner.empty() && begins_os(r.code_bytes);
    if (present) put(kind == boot_code::dragon_area ? "BootArea" : "KernelTrack", r.code_bytes, sectors_text(r.code));
    else {
        std::printf("problem: the disk holds no %s\n", code_name(kind));
        if (!status) status = 1;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    settings s;
    for (const dv::Given& g : line.options) {
        if (g.letter == 'b') s.boot_file = g.text;
        if (g.letter == 'e') s.fragmented = true;
        if (g.letter == 'k') s.kernel = g.text;
        if (g.letter == 'd') s.dragon = true;
        if (g.letter == 'F') s.force = true;
        if (g.letter == 'x') s.folder = g.text;
    }
    const std::string operand = line.operands[0];
    const bool install = !s.boot_file.empty() || !s.kernel.empty();
    std::string name;
    image_ref image;
    error_code ec = image_of(operand, &name);
    if (!ec) ec = image_open(name, install, &image);
    if (ec) {
        dv::report_failure("dvboot", ec, "opening", operand);
        return ec;
    }
    // The boot code first: the boot file's run is then laid around it.
    if (!s.kernel.empty())
        if (int status = install_code(image, name, s)) return status;
    if (!s.boot_file.empty())
        if (int status = install_boot_file(image, name, s)) return status;
    if (install && s.folder.empty()) return 0;
    if (!s.folder.empty()) return extract(image, s);
    return report(image, s);
}

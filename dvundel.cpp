// dvundel: gives a deleted entry of a directory in a disk image its file
// back under a new name, when nothing has taken the file's FD and units
// since it was deleted.
#include <cstdio>
#include <string>

#include "misc/deleted_list.h"
#include "misc/frame.h"
#include "os9disk.h"
#include "rbf/pathlist.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvundel <image:directory> <FD sector> <newname>\n",
    "Usage:  restores the deleted entry of the directory whose FD sector is given (dvls -d lists them)\n",
    "        under a new name; the FD sector in decimal, or hexadecimal after 0x or $\n",
    nullptr,
};

const dv::Program program{.name = "dvundel", .help = helpMessage, .min_operands = 3, .max_operands = 3};

// An FD sector: decimal digits, or hexadecimal ones after "0x" or '$', at
// most 0xFFFFFF (the 24 bits an entry holds).
bool parse_sector(const std::string& text, std::uint32_t* lsn) {
    std::size_t at = 0;
    unsigned base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) at = 2, base = 16;
    else if (text.starts_with("$")) at = 1, base = 16;
    if (at >= text.size()) return false;
    std::uint64_t value = 0;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        unsigned digit = 16;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        if (digit >= base) return false;
        value = value * base + digit;
        if (value > 0xFFFFFF) return false;
    }
    *lsn = static_cast<std::uint32_t>(value);
    return true;
}

// The pathlist the restored file has: the directory's and the new name.
std::string restored_pathlist(const std::string& operand, const pathlist& pl, const std::string& newname) {
    if (pl.host) return operand + ":" + newname;
    const char last = operand.back();
    return operand + (last == ':' || last == '/' ? "" : "/") + newname;
}

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    const std::string operand = line.operands[0];
    const std::string newname = line.operands[2];
    std::uint32_t lsn = 0;
    if (!parse_sector(line.operands[1], &lsn))
        return dv::usage_error(program, argv[0], std::string("bad FD sector '") + line.operands[1] + "'");
    const std::string verb = "restoring FD " + std::to_string(lsn) + " as";

    pathlist pl;
    if (error_code ec = parse_pathlist(operand, &pl)) return dv::report_failure("dvundel", ec, verb, operand);
    const std::string shown_as = restored_pathlist(operand, pl, newname);
    image_ref image;
    // An image that cannot be written is opened to read: the restore then
    // says why it cannot write (a read-only file, a container only read).
    error_code ec = image_open(pl.image, true, &image, pl.offset);
    if (ec != E_SUCCESS && ec != E_BUSY && ec != E_ISDIR) ec = image_open(pl.image, false, &image, pl.offset);
    if (ec) return dv::report_failure("dvundel", ec, verb, shown_as);
    undelete_report report;
    ec = _os9_undelete(image, pl.raw ? pl.in_image : pl.path(), lsn, newname, &report);
    if (ec == E_SUCCESS) ec = image_sync(*image);
    if (ec) {
        dv::report_failure("dvundel", ec, verb, shown_as);
        if (ec == E_FNA && report.entry.state != deleted_state::recoverable) {
            const std::string why = "dvundel: FD " + std::to_string(lsn) + " is partly reused: " + dv::deleted_reason(report.entry) + "\n";
            std::fputs(why.c_str(), stderr);
        }
        return ec;
    }
    if (report.parent_fixed) {
        std::string note = "dvundel: '" + dv::shown(shown_as) + "': its '..' named another directory; it names this one now\n";
        std::fputs(note.c_str(), stderr);
    }
    return 0;
}

// dvident: lists and checks the OS-9 memory modules of files (host files or
// files in disk images), and with -f sets right their header parity and CRC.
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "misc/endpoint.h"
#include "misc/frame.h"
#include "misc/json.h"
#include "misc/module_lines.h"
#include "os9disk.h"
#include "os9path.h"
#include "rbf/module.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvident {[<opts>]} <pathlist> {[<...>]}\n",
    "Usage:  lists and checks the OS-9 modules of files\n",
    "Options:\n",
    "     -s    one line per module: CRC and name\n",
    "     -j    JSON Lines, one object per module\n",
    "     -f    sets right the parity and CRC of every module, in place\n",
    nullptr,
};

constexpr dv::Option options[] = {dv::flag('s'), dv::flag('j'), dv::flag('f')};
const dv::Program program{.name = "dvident", .help = helpMessage, .options = options};

enum class form { table, short_lines, json };

struct settings {
    form how = form::table;
    bool fix = false;
    bool headings = false;
};

// Writes the file back over itself: the same size, so only bytes change.
error_code write_all(const dv::endpoint& e, const std::vector<u_char>& bytes) {
    if (e.on_host()) {
        std::FILE* f = std::fopen(e.path.c_str(), "r+b");
        if (!f) return dv::host_error(errno);
        const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        const bool closed = std::fclose(f) == 0;
        return ok && closed ? E_SUCCESS : E_GENERAL;
    }
    os9_path_id p = nullptr;
    if (error_code ec = _os9_open(&p, e.image, e.path, MODE_READ | MODE_WRITE)) return ec;
    error_code ec = _os9_write_at(p, 0, bytes.data(), bytes.size());
    if (error_code closed = _os9_close(p); !ec) ec = closed;
    return ec;
}

std::string hex24(std::uint32_t v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%06X", static_cast<unsigned>(v));
    return buf;
}

const char kTableHead[] = "offset   size  type              language          attr rev  parity  crc            name\n";

// What -f did to a module.
struct repair {
    bool parity = false;
    bool crc = false;
};

void print_table_row(const module_info& m, repair fixed) {
    const char* parity = m.parity_ok ? (fixed.parity ? "fixed" : "good") : "bad";
    const char* crc = m.crc_ok ? (fixed.crc ? "fixed" : "good") : "bad";
    std::printf("%-6s %6s  %-17s %-17s $%X   %-3u  %-6s  $%s %-5s  %s\n", dv::hex_offset(m.offset).c_str(),
                dv::hex_offset(m.size).c_str(), module_type_name(m.type).c_str(),
                module_language_name(m.language).c_str(), m.attributes, m.revision, parity, hex24(m.crc).c_str(), crc,
                m.name_ok ? m.name.c_str() : "?");
}

std::string json_row(const std::string& file, const module_info& m, repair fixed) {
    std::string line = "{\"file\":" + dv::json_string(file) + ",\"offset\":" + std::to_string(m.offset) +
                       ",\"size\":" + std::to_string(m.size) +
                       ",\"name\":" + (m.name_ok ? dv::json_string(m.name) : "null") +
                       ",\"type\":" + std::to_string(m.type) + ",\"type_name\":" + dv::json_string(module_type_name(m.type)) +
                       ",\"language\":" + std::to_string(m.language) +
                       ",\"language_name\":" + dv::json_string(module_language_name(m.language)) +
                       ",\"attributes\":" + std::to_string(m.attributes) + ",\"revision\":" + std::to_string(m.revision) +
                       ",\"parity_ok\":" + (m.parity_ok ? "true" : "false") + ",\"crc\":\"" + hex24(m.crc) +
                       "\",\"crc_ok\":" + (m.crc_ok ? "true" : "false");
    if (m.has_exec) line += ",\"exec\":" + std::to_string(m.exec) + ",\"data_size\":" + std::to_string(m.data_size);
    if (fixed.parity || fixed.crc) line += ",\"fixed\":true";
    return line + "}";
}

const char* fault_word(module_fault f) {
    switch (f) {
        case module_fault::not_a_module: return "not_a_module";
        case module_fault::short_header: return "short_header";
        case module_fault::too_small: return "too_small";
        case module_fault::truncated: return "truncated";
        case module_fault::none: break;
    }
    return "";
}

// Lists (and with -f fixes) the modules of one operand: 0, 1 when a module
// does not check or the bytes hold something else, or the error of reading
// or writing the file.
int identify(dv::image_table& images, const std::string& operand, const settings& how) {
    dv::endpoint e;
    std::vector<u_char> bytes;
    error_code ec = dv::endpoint_of(images, operand, how.fix, &e);
    if (!ec) ec = dv::read_whole(e, std::numeric_limits<std::size_t>::max(), &bytes);
    if (ec) {
        dv::report_failure("dvident", ec, "reading", operand);
        return ec;
    }
    module_scan scan = scan_modules(bytes);
    std::vector<repair> fixed(scan.modules.size());
    if (how.fix) {
        bool changed = false;
        for (std::size_t k = 0; k < scan.modules.size(); ++k) {
            fixed[k] = repair{!scan.modules[k].parity_ok, !scan.modules[k].crc_ok || !scan.modules[k].parity_ok};
            changed |= module_fix(bytes, scan.modules[k]);
        }
        if (changed) {
            if ((ec = write_all(e, bytes)) != E_SUCCESS) return dv::report_failure("dvident", ec, "fixing", operand);
            scan = scan_modules(bytes);
        }
    }
    // An empty file holds no module either.
    if (scan.modules.empty() && scan.fault == module_fault::none) scan.fault = module_fault::not_a_module;
    if (how.headings) std::printf("%s:\n", operand.c_str());
    if (how.how == form::table) std::fputs(kTableHead, stdout);
    for (std::size_t k = 0; k < scan.modules.size(); ++k) {
        const module_info& m = scan.modules[k];
        if (how.how == form::table) print_table_row(m, fixed[k]);
        else if (how.how == form::short_lines) std::printf("%s\n", dv::module_short_line(m).c_str());
        else std::printf("%s\n", json_row(operand, m, fixed[k]).c_str());
    }
    if (scan.fault != module_fault::none) {
        const std::string text = dv::module_fault_text(scan, bytes.size());
        if (how.how == form::json)
            std::printf("{\"file\":%s,\"offset\":%zu,\"problem\":\"%s\",\"text\":%s}\n", dv::json_string(operand).c_str(),
                        scan.fault_at, fault_word(scan.fault), dv::json_string(text).c_str());
        else
            std::printf("problem: %s\n", text.c_str());
    }
    return modules_sound(scan) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    settings how;
    for (const dv::Given& g : line.options) {
        if (g.letter == 's') how.how = form::short_lines;
        if (g.letter == 'j') how.how = form::json;
        if (g.letter == 'f') how.fix = true;
    }
    how.headings = line.operands.size() > 1 && how.how != form::json;
    dv::image_table images;
    int status = 0;
    for (const char* operand : line.operands) {
        const int s = identify(images, operand, how);
        if (!status) status = s;
    }
    return status;
}

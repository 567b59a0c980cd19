// dvcopy: copies files into disk images, out of them and between them (and
// between host files), one file or, with -r, whole trees; -t turns line
// feeds into carriage returns going in and back coming out.

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "misc/endpoint.h"
#include "misc/frame.h"
#include "os9conv.h"
#include "os9disk.h"
#include "os9path.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvcopy {[<opts>]} <from> {[<...>]} <to> {[<opts>]}\n",
    "Usage:  copies files into, out of and between disk images\n",
    "Options:\n",
    "     -t    text: line feeds become carriage returns going in, and back coming out\n",
    "     -r    copies directories with their whole trees\n",
    "     -o    replaces files that exist already\n",
    nullptr,
};

constexpr dv::Option options[] = {dv::flag('t'), dv::flag('r'), dv::flag('o')};
const dv::Program program{.name = "dvcopy", .help = helpMessage, .options = options, .min_operands = 2};

struct settings {
    bool text = false;
    bool recursive = false;
    bool replace = false;
};

using place = dv::endpoint;
using dv::facts;
using dv::look;

// Line endings turned from one byte into the other, in place.
void convert(u_char* buf, std::size_t n, u_char from, u_char to) {
    for (u_char* b = buf; (b = static_cast<u_char*>(std::memchr(b, from, n - static_cast<std::size_t>(b - buf))));)
        *b++ = to;
}

error_code copy_file(const place& from, const facts& from_facts, const place& to, const settings& s) {
    dv::reader in;
    if (error_code ec = in.open(from)) return ec;
    // Text crosses the host boundary only one way or the other.
    const bool into_image = from.on_host() && !to.on_host();
    const bool out_of_image = !from.on_host() && to.on_host();
    byte_source source = [&](u_char* buf, std::size_t size, std::size_t* got) {
        error_code ec = in.read(buf, size, got);
        if (!ec && s.text && into_image) convert(buf, *got, '\n', '\r');
        if (!ec && s.text && out_of_image) convert(buf, *got, '\r', '\n');
        return ec;
    };
    put_options o;
    o.replace = s.replace;
    o.modified = from_facts.modified;
    if (from.on_host())
        o.attributes = static_cast<u_char>(ATT_PREAD | ATT_WRITE | ATT_READ | (from_facts.executable ? ATT_EXEC : 0));
    else
        o.attributes = from_facts.attributes;
    return dv::put(to, from_facts, o, source);
}

// ---- trees ------------------------------------------------------------------------

struct tree_copy {
    const settings& s;
    error_code first_failure = E_SUCCESS;
    // Directories being copied (a damaged tree may lead back up) and those
    // made by this copy (a tree copied into itself must not copy its copy).
    using where = std::pair<const void*, std::pair<std::uint64_t, std::uint64_t>>;  // image (null: host), id
    std::set<where> entered;
    std::set<where> made;

    void failed(error_code ec, const std::string& shown, const std::string& destination = {}) {
        dv::report_failure("dvcopy", ec, "copying", shown, destination);
        if (!first_failure) first_failure = ec;
    }

    // A name a host or disk path can hold.
    static bool nameable(const std::string& name) {
        if (name.empty() || name == "." || name == "..") return false;
        for (unsigned char c : name)
            if (c == '/' || c == ':' || c == '@' || c < ' ' || c == 0x7F) return false;
        return true;
    }

    error_code make_dir(const place& to) {
        facts there;
        if (error_code ec = look(to, &there)) return ec;
        if (there.exists) return there.dir ? E_SUCCESS : E_FNA;
        if (error_code ec = dv::make_directory(to)) return ec;
        if (look(to, &there) == E_SUCCESS) made.insert({to.image.get(), there.id});
        return E_SUCCESS;
    }

    void copy(const place& from, const place& to) {
        facts f;
        if (error_code ec = look(from, &f)) return failed(ec, from.shown);
        if (!f.exists) return failed(E_PNNF, from.shown);
        if (error_code ec = dv::fits_trailing_slash(from, f)) return failed(ec, from.shown);
        if (!f.dir) {
            if (error_code ec = copy_file(from, f, to, s)) failed(ec, from.shown, to.shown);
            return;
        }
        if (!s.recursive) {
            failed(E_ISDIR, from.shown);
            std::fprintf(stderr, "dvcopy: '%s' is a directory: -r copies whole trees\n", from.shown.c_str());
            return;
        }
        const where here{from.image.get(), f.id};
        if (made.count(here) || !entered.insert(here).second) return;
        if (error_code ec = make_dir(to)) {
            entered.erase(here);
            return failed(ec, from.shown);
        }
        error_code ec;
        const std::vector<std::string> names = dv::names_in(from, &ec);
        if (ec) failed(ec, from.shown);
        for (const std::string& name : names) {
            if (!nameable(name)) {
                failed(E_BPNAM, from.child(name).shown);
                continue;
            }
            copy(from.child(name), to.child(name));
        }
        entered.erase(here);
    }
};

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    settings s;
    for (const dv::Given& o : line.options) {
        if (o.letter == 't') s.text = true;
        if (o.letter == 'r') s.recursive = true;
        if (o.letter == 'o') s.replace = true;
    }

    // The destination's image is opened first, for writing: a source in the
    // same image joins it.
    dv::image_table images;
    place to;
    const std::string to_operand = line.operands.back();
    if (error_code ec = dv::endpoint_of(images, to_operand, true, &to)) {
        dv::report_failure("dvcopy", ec, "copying to", to_operand);
        return ec;
    }
    facts to_facts;
    if (error_code ec = look(to, &to_facts)) return dv::report_failure("dvcopy", ec, "copying to", to_operand);
    // "DIR/" names a directory: one that is not there, or a file, is refused.
    if (error_code ec = to.pl.dir_only && !to_facts.exists ? E_PNNF : dv::fits_trailing_slash(to, to_facts))
        return dv::report_failure("dvcopy", ec, "copying to", to_operand);
    const std::size_t sources = line.operands.size() - 1;
    if (sources > 1 && !to_facts.dir)
        return dv::report_failure("dvcopy", to_facts.exists ? E_FNA : E_PNNF, "copying to", to_operand);

    tree_copy copier{s, E_SUCCESS, {}, {}};
    for (std::size_t k = 0; k < sources; ++k) {
        place from;
        if (error_code ec = dv::endpoint_of(images, line.operands[k], false, &from)) {
            copier.failed(ec, line.operands[k]);
            continue;
        }
        // Into a directory each source keeps its name; a disk's root pours
        // its contents in.
        place dest = to;
        const std::string name = from.last_name();
        if (to_facts.dir && !name.empty()) dest = to.child(name);
        copier.copy(from, dest);
    }
    return copier.first_failure;
}

// dvcopy: copies files into disk images, out of them and between them (and
// between host files), one file or, with -r, whole trees; -t turns line
// ends into the disk's carriage returns going in and back coming out, -a
// does so for the files whose bytes read as text.  A file's OS-9
// attributes, owner and creation date travel in extended attributes of
// host files (misc/host_attributes.h).
//
// Nothing is lost by a slip: a copy never writes over the image it reads,
// nor over a host file holding a disk without -f; two sources landing on
// one name keep the first; a host tree's FIFOs, sockets and devices are
// never opened, nor its symbolic links followed without -L.

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "misc/endpoint.h"
#include "misc/frame.h"
#include "misc/host_attributes.h"
#include "misc/line_ends.h"
#include "misc/minutes.h"
#include "misc/operand_expand.h"
#include "os9conv.h"
#include "os9disk.h"
#include "os9path.h"
#include "rbf/disk_probe.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvcopy {[<opts>]} <from> {[<...>]} <to> {[<opts>]}\n",
    "Usage:  copies files into, out of and between disk images ('-' is standard input or output)\n",
    "Options:\n",
    "     -t    text: line ends become carriage returns going in, and line feeds coming out\n",
    "     -a    as -t for the files that hold text, the others copied byte for byte\n",
    "     -r    copies directories with their whole trees\n",
    "     -o    replaces files that exist already (keeping their attributes and owner)\n",
    "     -u    copies only what is missing at the destination or older there (by the minute)\n",
    "     -f    with -o, replaces a host file that holds a disk image too\n",
    "     -L    follows symbolic links in host trees\n",
    nullptr,
};

constexpr dv::Option options[] = {dv::flag('t'), dv::flag('a'), dv::flag('r'), dv::flag('o'), dv::flag('f'),
                                  dv::flag('L'), dv::flag('u')};
const dv::Program program{
    .name = "dvcopy", .help = helpMessage, .options = options, .min_operands = 2, .dash_operand = true};

struct settings {
    bool text = false;
    bool automatic = false;  // -a: text or not by the bytes
    bool recursive = false;
    bool replace = false;
    bool force = false;
    bool follow_links = false;
    bool update = false;  // -u: only what is newer than the destination, or missing there
};

using place = dv::endpoint;
using dv::facts;
using dv::look;
using dv::os9_record;

// -a decides on at most this much of a file: a binary shows itself early,
// and a text file longer than this is held no further.
constexpr std::size_t SNIFF_MOST = 4 * 1024 * 1024;

// Reads the start of a file into `held` until it shows a byte no text
// holds, or ends; `text` says which.
error_code sniff(dv::reader& in, std::vector<u_char>& held, bool* text) {
    *text = true;
    std::vector<u_char> chunk(64 * 1024);
    while (*text && held.size() < SNIFF_MOST) {
        std::size_t n = 0;
        if (error_code ec = in.read(chunk.data(), chunk.size(), &n)) return ec;
        if (n == 0) break;
        *text = dv::looks_like_text(chunk.data(), n);
        held.insert(held.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
    }
    return E_SUCCESS;
}

// ---- trees ------------------------------------------------------------------------

struct tree_copy {
    const settings& s;
    dv::image_table& images;
    error_code first_failure = E_SUCCESS;
    // Directories being copied (a damaged tree may lead back up) and those
    // made by this copy (a tree copied into itself must not copy its copy).
    using where = std::pair<const void*, std::pair<std::uint64_t, std::uint64_t>>;  // image (null: host), id
    std::set<where> entered;
    std::set<where> made;
    // Files written by this run, and the source each came from: a second
    // source landing on one of them (names differ only in case, say) is
    // refused, not poured over the first.
    std::map<where, std::string> written;
    // Said once a run: the host file system keeps no OS-9 attributes.
    bool told_unkept = false;

    void failed(error_code ec, const std::string& shown, const std::string& destination = {}) {
        dv::report_failure("dvcopy", ec, "copying", shown, destination);
        note(ec);
    }
    void note(error_code ec) {
        if (!first_failure) first_failure = ec;
    }

    void unkept(const place& to) {
        if (told_unkept) return;
        told_unkept = true;
        std::fprintf(stderr,
                     "dvcopy: '%s': this file system keeps no extended attributes: OS-9 attributes, owners and "
                     "creation dates were not kept\n",
                     to.shown.c_str());
    }

    // What OS-9 records of the source: its FD's, or a host file's
    // extended attributes.
    static os9_record record_of_source(const place& from, const facts& f) {
        if (!from.on_host()) return f.os9;
        return from.stdio ? os9_record{} : dv::read_host_record(from.path);
    }

    // A name a host or disk path can hold.
    static bool nameable(const std::string& name) {
        if (name.empty() || name == "." || name == "..") return false;
        for (unsigned char c : name)
            if (c == '/' || c == ':' || c == '@' || c < ' ' || c == 0x7F) return false;
        return true;
    }

    // Whether the destination may be written: 0, or the error reported.
    error_code may_write(const place& from, const place& to, const facts& there) {
        if (to.stdio || !there.exists || there.dir) return E_SUCCESS;
        if (to.on_host() && dv::is_held_image(images, there)) {
            failed(E_FNA, from.shown);
            std::fprintf(stderr, "dvcopy: '%s' is a disk this copy reads: it is never written over\n",
                         to.shown.c_str());
            return E_FNA;
        }
        if (auto it = written.find({to.image.get(), there.id}); it != written.end()) {
            failed(E_CEF, from.shown);
            std::fprintf(stderr, "dvcopy: '%s' and '%s' land on one name, '%s': the first is kept\n",
                         it->second.c_str(), from.shown.c_str(), to.shown.c_str());
            return E_CEF;
        }
        if (to.on_host() && (s.replace || s.update) && !s.force && rbf::host_file_is_disk_image(to.path)) {
            failed(E_FNA, from.shown);
            std::fprintf(stderr, "dvcopy: '%s' is a disk image; use -f to write over it\n", to.shown.c_str());
            return E_FNA;
        }
        return E_SUCCESS;
    }

    // -u: whether the source is to be copied over what is there.  The disk
    // keeps minutes, so a file copied out and back is not newer by its
    // seconds; a source without a date is never newer than a file.
    static bool newer(const facts& from, const facts& there) {
        if (!there.exists || there.dir) return true;
        if (!from.modified) return false;
        return !there.modified || dv::minute_of(from.modified) > dv::minute_of(there.modified);
    }

    void copy_file(const place& from, const facts& source_facts, const place& to) {
        facts from_facts = source_facts;
        from_facts.os9 = record_of_source(from, source_facts);
        facts there;
        if (error_code ec = look(to, &there)) return failed(ec, from.shown, to.shown);
        if (s.update && !newer(from_facts, there)) return;
        if (may_write(from, to, there)) return;
        dv::reader in;
        if (error_code ec = in.open(from)) return failed(ec, from.shown);
        // Text crosses the host boundary only: in to carriage returns, out
        // to line feeds.
        const bool crossing = from.on_host() != to.on_host();
        bool text = crossing && s.text;
        std::vector<u_char> held;
        if (crossing && s.automatic)
            if (error_code ec = sniff(in, held, &text)) return failed(ec, from.shown);
        dv::line_ends ends(to.on_host() ? '\n' : '\r');
        std::size_t held_at = 0;
        byte_source source = [&](u_char* buf, std::size_t size, std::size_t* got) {
            // A chunk that was only the LF of a CR LF is no end of file: read on.
            for (;;) {
                std::size_t n = std::min(size, held.size() - held_at);
                if (n) {
                    std::copy_n(held.data() + held_at, n, buf);
                    held_at += n;
                } else if (error_code ec = in.read(buf, size, &n)) {
                    return ec;
                }
                *got = n;
                if (n == 0) return E_SUCCESS;
                if (text) *got = ends.turn(buf, n);
                if (*got) return E_SUCCESS;
            }
        };
        put_options o;
        o.replace = s.replace || s.update;
        o.keep_replaced = true;
        o.modified = from_facts.modified;
        // The host's mode stands in only where no OS-9 attributes came along.
        if (from_facts.os9.attributes)
            o.attributes = *from_facts.os9.attributes;
        else
            o.attributes = static_cast<u_char>(ATT_PREAD | ATT_WRITE | ATT_READ | (from_facts.executable ? ATT_EXEC : 0));
        o.owner = from_facts.os9.owner;
        o.created = from_facts.os9.created;
        bool lost = false;
        if (error_code ec = dv::put(to, from_facts, o, source, &lost)) return failed(ec, from.shown, to.shown);
        if (lost) unkept(to);
        if (!to.stdio && look(to, &there) == E_SUCCESS && there.exists) written[{to.image.get(), there.id}] = from.shown;
    }

    // *fresh: whether this copy made it.
    error_code make_dir(const place& to, bool* fresh) {
        *fresh = false;
        facts there;
        if (error_code ec = look(to, &there)) return ec;
        if (there.exists) return there.dir ? E_SUCCESS : E_FNA;
        if (error_code ec = dv::make_directory(to)) return ec;
        *fresh = true;
        if (look(to, &there) == E_SUCCESS) made.insert({to.image.get(), there.id});
        return E_SUCCESS;
    }

    // `named`: the source was named on the command line, so a link is
    // followed and a FIFO or a device is read as the user asked.
    void copy(const place& from, const place& to, bool named) {
        facts f;
        if (error_code ec = look(from, &f, named || s.follow_links)) return failed(ec, from.shown);
        if (!f.exists) return failed(E_PNNF, from.shown);
        if (error_code ec = dv::fits_trailing_slash(from, f)) return failed(ec, from.shown);
        if (f.special && !named) {
            const bool link = std::string_view(f.special) == "a symbolic link";
            std::fprintf(stderr, "dvcopy: '%s' is %s: skipped%s\n", from.shown.c_str(), f.special,
                         link ? " (-L follows links)" : "");
            return note(E_FNA);
        }
        if (!f.dir) return copy_file(from, f, to);
        if (!s.recursive || to.stdio) {
            failed(E_ISDIR, from.shown);
            if (!to.stdio)
                std::fprintf(stderr, "dvcopy: '%s' is a directory: -r copies whole trees\n", from.shown.c_str());
            return;
        }
        const where here{from.image.get(), f.id};
        if (made.count(here) || !entered.insert(here).second) return;
        bool fresh = false;
        if (error_code ec = make_dir(to, &fresh)) {
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
            copy(from.child(name), to.child(name), false);
        }
        // Last: attributes that refuse writes would stop the tree's copy.
        if (fresh) {
            bool lost = false;
            if (error_code kept = dv::keep_record(to, record_of_source(from, f), &lost)) failed(kept, from.shown, to.shown);
            if (lost) unkept(to);
        }
        entered.erase(here);
    }
};

// Copies a source the command line names (an operand, or one entry its
// pattern matched) to the destination, into it when it is a directory.
void copy_source(tree_copy& copier, const dv::named_operand& source, const place& to, const facts& to_facts) {
    place from;
    if (error_code ec = dv::endpoint_of(copier.images, source.operand, false, &from))
        return copier.failed(ec, source.shown);
    from.shown = source.shown;
    // Into a directory each source keeps its name; a disk's root pours
    // its contents in.  Standard input has no name to keep.
    place dest = to;
    if (to_facts.dir && from.stdio) {
        copier.failed(E_BPNAM, from.shown);
        std::fprintf(stderr, "dvcopy: standard input needs a file name to go to, not a directory\n");
        return;
    }
    const std::string name = from.last_name();
    if (to_facts.dir && !name.empty()) dest = to.child(name);
    copier.copy(from, dest, true);
}

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    settings s;
    for (const dv::Given& o : line.options) {
        if (o.letter == 't') s.text = true;
        if (o.letter == 'a') s.automatic = true;
        if (o.letter == 'r') s.recursive = true;
        if (o.letter == 'o') s.replace = true;
        if (o.letter == 'f') s.force = true;
        if (o.letter == 'L') s.follow_links = true;
        if (o.letter == 'u') s.update = true;
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
    // Several sources to standard output follow one another there.
    if (sources > 1 && !to_facts.dir && !to.stdio)
        return dv::report_failure("dvcopy", to_facts.exists ? E_FNA : E_PNNF, "copying to", to_operand);

    tree_copy copier{s, images, E_SUCCESS, {}, {}, {}, false};
    for (std::size_t k = 0; k < sources; ++k) {
        // A pattern stands for the sources it matches (the destination is
        // never one: a pattern there is a name).
        std::vector<dv::named_operand> named;
        if (error_code ec = dv::expand_operand(images, line.operands[k], false, &named)) {
            copier.failed(ec, line.operands[k]);
            continue;
        }
        if (named.size() > 1 && !to_facts.dir && !to.stdio)
            return dv::report_failure("dvcopy", to_facts.exists ? E_FNA : E_PNNF, "copying to", to_operand);
        for (const dv::named_operand& source : named) copy_source(copier, source, to, to_facts);
    }
    return copier.first_failure;
}

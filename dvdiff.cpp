// dvdiff: compares a file or directory tree in a disk image with one on the
// host and lists what differs, a line each, in the order of the names:
//
//   only in image: P          only on host: P
//   kind differs: P (a directory in the image, a file on the host)
//   size differs: P (image N, host M)     bytes differ: P
//   text differs: P           (-t, -a: after the line ends are turned)
//   date differs: P (image YYYY-MM-DD HH:MM, host YYYY-MM-DD HH:MM)
//
// Names are matched without regard to letter case, as the disk finds them;
// dates are compared by the minute, which is all the disk keeps.  Both sides
// are reached through the same endpoint verbs (look, names_in, reader).

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "misc/endpoint.h"
#include "misc/frame.h"
#include "misc/line_ends.h"
#include "misc/minutes.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvdiff {[<opts>]} <image>:<path> <host path>\n",
    "Usage:  lists what differs between a file or tree in a disk image and one on the host\n",
    "Options:\n",
    "     -t    compares files as text: carriage returns and line feeds end lines alike\n",
    "     -a    as -t for the files that hold text on both sides, the others byte for byte\n",
    nullptr,
};

constexpr dv::Option options[] = {dv::flag('t'), dv::flag('a')};
const dv::Program program{.name = "dvdiff", .help = helpMessage, .options = options, .min_operands = 2, .max_operands = 2};

constexpr std::size_t CHUNK = 64 * 1024;
// -a decides on at most this much of each file, as dvcopy -a does.
constexpr std::size_t SNIFF_MOST = 4 * 1024 * 1024;

using dv::endpoint;
using dv::facts;

std::string kind(const facts& f) {
    if (f.dir) return "a directory";
    return f.special ? f.special : "a file";
}

std::string date_text(std::time_t t) {
    std::tm tm{};
    char text[32] = "?";  // a time the host cannot show
    if (localtime_r(&t, &tm)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm);
    return text;
}

std::string folded(const std::string& name) {
    std::string k = name;
    for (char& c : k) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return k;
}

// A name that goes into a path as one component.
bool nameable(const std::string& name) {
    return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

// Whether the file's first bytes (up to SNIFF_MOST) read as text.
error_code reads_as_text(const endpoint& e, bool* text) {
    *text = true;
    dv::reader in;
    if (error_code ec = in.open(e)) return ec;
    std::vector<u_char> chunk(CHUNK);
    for (std::size_t seen = 0; *text && seen < SNIFF_MOST;) {
        std::size_t n = 0;
        if (error_code ec = in.read(chunk.data(), chunk.size(), &n)) return ec;
        if (n == 0) break;
        *text = dv::looks_like_text(chunk.data(), n);
        seen += n;
    }
    return E_SUCCESS;
}

// One side of a file comparison: its bytes in chunks, line ends turned to
// line feeds when compared as text.
struct stream {
    dv::reader in;
    std::optional<dv::line_ends> ends;
    std::vector<u_char> buf = std::vector<u_char>(CHUNK);
    std::size_t at = 0, held = 0;
    std::uint64_t total = 0;
    bool done = false;

    // Makes bytes available unless at the end.
    error_code fill() {
        while (at == held && !done) {
            std::size_t n = 0;
            if (error_code ec = in.read(buf.data(), buf.size(), &n)) return ec;
            if (n == 0) {
                done = true;
                break;
            }
            at = 0;
            held = ends ? ends->turn(buf.data(), n) : n;
            total += held;
        }
        return E_SUCCESS;
    }
};

struct comparison {
    bool text = false;
    bool automatic = false;
    bool differs = false;
    error_code first_failure = E_SUCCESS;
    // Directories on the way down (a damaged image or a host link may lead
    // back up): (image or host, id).
    std::set<std::pair<bool, std::pair<std::uint64_t, std::uint64_t>>> entered;

    void differ(const std::string& what, const std::string& path, const std::string& more = {}) {
        std::string line = what;
        line += ": ";
        line += dv::shown(path);
        if (!more.empty()) {
            line += " (";
            line += more;
            line += ")";
        }
        line += "\n";
        std::fputs(line.c_str(), stdout);
        differs = true;
    }
    void failed(error_code ec, const std::string& shown) {
        dv::report_failure("dvdiff", ec, "comparing", shown);
        if (!first_failure) first_failure = ec;
    }

    // Looks at a host entry; a link that leads nowhere is seen as the link.
    error_code look_host(const endpoint& e, facts* f) {
        if (error_code ec = dv::look(e, f)) return ec;
        return f->exists ? E_SUCCESS : dv::look(e, f, false);
    }

    void files(const endpoint& img, const facts& a, const endpoint& host, const facts& b, const std::string& path) {
        bool as_text = text;
        if (!as_text && automatic) {
            bool ta = false, tb = false;
            if (error_code ec = reads_as_text(img, &ta)) return failed(ec, img.shown);
            if (error_code ec = reads_as_text(host, &tb)) return failed(ec, host.shown);
            as_text = ta && tb;
        }
        stream x, y;
        if (error_code ec = x.in.open(img)) return failed(ec, img.shown);
        if (error_code ec = y.in.open(host)) return failed(ec, host.shown);
        if (as_text) {
            x.ends.emplace('\n');
            y.ends.emplace('\n');
        }
        bool same = true;
        for (;;) {
            if (error_code ec = x.fill()) return failed(ec, img.shown);
            if (error_code ec = y.fill()) return failed(ec, host.shown);
            const std::size_t n = std::min(x.held - x.at, y.held - y.at);
            if (n == 0) break;  // one side (or both) at its end
            if (same && !std::equal(x.buf.begin() + static_cast<std::ptrdiff_t>(x.at),
                                    x.buf.begin() + static_cast<std::ptrdiff_t>(x.at + n),
                                    y.buf.begin() + static_cast<std::ptrdiff_t>(y.at)))
                same = false;
            x.at += n;
            y.at += n;
            // A text difference needs no sizes: stop at the first.
            if (!same && as_text) break;
        }
        // Read on to the ends for the sizes.
        for (stream* s : {&x, &y}) {
            const endpoint& e = s == &x ? img : host;
            while (!as_text && !s->done) {
                s->at = s->held;
                if (error_code ec = s->fill()) return failed(ec, e.shown);
            }
        }
        if (as_text && (!same || !x.done || !y.done)) {
            differ("text differs", path);
        } else if (!as_text && x.total != y.total) {
            std::string sizes = "image ";
            sizes += std::to_string(x.total);
            sizes += ", host ";
            sizes += std::to_string(y.total);
            differ("size differs", path, sizes);
        } else if (!same) {
            differ("bytes differ", path);
        }
        // A date the disk cannot show (0) is not compared.
        if (a.modified && b.modified && dv::minute_of(a.modified) != dv::minute_of(b.modified)) {
            std::string dates = "image ";
            dates += date_text(a.modified);
            dates += ", host ";
            dates += date_text(b.modified);
            differ("date differs", path, dates);
        }
    }

    void pair(const endpoint& img, const facts& a, const endpoint& host, const facts& b, const std::string& path,
              const std::string& prefix) {
        if (a.dir != b.dir || b.special) {
            std::string more = kind(a);
            more += " in the image, ";
            more += kind(b);
            more += " on the host";
            return differ("kind differs", path, more);
        }
        if (!a.dir) return files(img, a, host, b, path);
        const std::pair<bool, std::pair<std::uint64_t, std::uint64_t>> here_a{true, a.id}, here_b{false, b.id};
        if (entered.count(here_a) || entered.count(here_b)) return;
        entered.insert(here_a);
        entered.insert(here_b);
        directories(img, host, prefix);
        entered.erase(here_a);
        entered.erase(here_b);
    }

    void directories(const endpoint& img, const endpoint& host, const std::string& prefix) {
        error_code ec;
        const std::vector<std::string> in_image = dv::names_in(img, &ec);
        if (ec) failed(ec, img.shown);
        std::vector<std::string> on_host = dv::names_in(host, &ec);
        if (ec) return failed(ec, host.shown);
        // By name without letter case: an image name, the host name that
        // matches it (one spelled the same first), or either alone.  A
        // second name of one spelling on a side stands alone.
        std::map<std::string, std::pair<std::optional<std::string>, std::optional<std::string>>> names;
        for (const std::string& n : in_image) {
            std::string key = folded(n);
            if (names.count(key)) {
                key.push_back('\0');
                key += n;
            }
            names[key].first = n;
        }
        std::sort(on_host.begin(), on_host.end(), [&](const std::string& p, const std::string& q) {
            const auto it = names.find(folded(p));
            const bool exact_p = it != names.end() && it->second.first == p;
            const auto jt = names.find(folded(q));
            const bool exact_q = jt != names.end() && jt->second.first == q;
            return exact_p != exact_q ? exact_p : p < q;
        });
        for (const std::string& n : on_host) {
            std::string key = folded(n);
            if (names.count(key) && names[key].second) {
                key.push_back('\0');
                key += n;
            }
            names[key].second = n;
        }
        for (const auto& [key, both] : names) {
            const std::string& name = both.first ? *both.first : *both.second;
            const std::string path = prefix + name;
            if (!both.second) {
                differ("only in image", path);
                continue;
            }
            if (!both.first) {
                differ("only on host", path);
                continue;
            }
            if (!nameable(name)) {
                failed(E_BPNAM, img.child(name).shown);
                continue;
            }
            const endpoint ci = img.child(name), ch = host.child(*both.second);
            facts a, b;
            if (error_code e = dv::look(ci, &a)) {
                failed(e, ci.shown);
                continue;
            }
            if (error_code e = look_host(ch, &b)) {
                failed(e, ch.shown);
                continue;
            }
            if (!a.exists) {  // listed but not found: a damaged entry
                failed(E_PNNF, ci.shown);
                continue;
            }
            pair(ci, a, ch, b, path, path + "/");
        }
    }
};

// Opens an operand that must be on the side `in_image` says; 215 with a
// line saying so otherwise.
error_code operand(dv::image_table& images, const std::string& text, bool in_image, endpoint* e) {
    if (error_code ec = dv::endpoint_of(images, text, false, e)) {
        dv::report_failure("dvdiff", ec, "comparing", text);
        return ec;
    }
    if (e->on_host() != in_image) return E_SUCCESS;
    dv::report_failure("dvdiff", E_BPNAM, "comparing", text);
    std::fprintf(stderr, in_image ? "dvdiff: '%s' is no path in an image (image:path)\n"
                                  : "dvdiff: '%s' is in an image: the second operand is a host path\n",
                 dv::shown(text).c_str());
    return E_BPNAM;
}

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    comparison c;
    for (const dv::Given& o : line.options) {
        if (o.letter == 't') c.text = true;
        if (o.letter == 'a') c.automatic = true;
    }
    dv::image_table images;
    endpoint img, host;
    if (error_code ec = operand(images, line.operands[0], true, &img)) return ec;
    if (error_code ec = operand(images, line.operands[1], false, &host)) return ec;
    facts a, b;
    if (error_code ec = dv::look(img, &a)) return dv::report_failure("dvdiff", ec, "comparing", img.shown);
    if (!a.exists) return dv::report_failure("dvdiff", E_PNNF, "comparing", img.shown);
    if (error_code ec = dv::fits_trailing_slash(img, a)) return dv::report_failure("dvdiff", ec, "comparing", img.shown);
    if (error_code ec = c.look_host(host, &b)) return dv::report_failure("dvdiff", ec, "comparing", host.shown);
    if (!b.exists) return dv::report_failure("dvdiff", E_PNNF, "comparing", host.shown);
    // A file against a host directory is compared with its namesake there,
    // where dvcopy would have put it.
    const std::string top = img.last_name().empty() ? "." : img.last_name();
    if (!a.dir && b.dir && !b.special) {
        host = host.child(img.last_name());
        if (error_code ec = c.look_host(host, &b)) return dv::report_failure("dvdiff", ec, "comparing", host.shown);
        if (!b.exists) c.differ("only in image", top);
    }
    if (b.exists) c.pair(img, a, host, b, top, "");
    if (c.first_failure) return c.first_failure;
    return c.differs ? 1 : 0;
}

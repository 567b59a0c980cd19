// dvls: lists directories (or single files) in disk images: names, a long
// form with attributes, owner, date, size and FD sector, whole trees, or
// JSON Lines for scripts.
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "misc/deleted_list.h"
#include "misc/frame.h"
#include "misc/json.h"
#include "misc/operand_expand.h"
#include "os9conv.h"
#include "os9disk.h"
#include "os9path.h"
#include "rbf/pathlist.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvls {[<opts>]} {<pathlist> [<...>]} {[<opts>]}\n",
    "Usage:  lists directories and files in disk images\n",
    "Options:\n",
    "     -a    also lists the entries . and ..\n",
    "     -e    one line per entry: attributes, owner, date, size, FD sector, name\n",
    "     -r    lists whole trees, each entry by its path below the operand\n",
    "     -j    one JSON object per line\n",
    "     -d    lists deleted entries: FD sector, whether recoverable, ? and the rest of the name\n",
    nullptr,
};

constexpr dv::Option options[] = {dv::flag('a'), dv::flag('e'), dv::flag('r'), dv::flag('j'), dv::flag('d')};
const dv::Program program{.name = "dvls", .help = helpMessage, .options = options};

struct settings {
    bool all = false;
    bool extended = false;
    bool recursive = false;
    bool json = false;
    bool deleted = false;
};

// One entry to print.  `path` is relative to the operand (the name alone
// unless the listing is recursive); `in_image` is its path from the root.
struct row {
    std::string path;
    std::string name;
    std::string in_image;
    std::uint32_t fd_lsn = 0;
    bool damaged = false;
    os9_stat st;
};

// A date of the disk (year - 1900, month, day, and hour, minute when
// `time_sep` is not 0) as "YYYY-MM-DD" and the time after `time_sep`; one
// no clock can show as question marks of the same shape.
std::string date_text(const u_char* d, char time_sep = 0) {
    const std::string unknown_day = "\?\?\?\?-\?\?-\?\?";
    if (!OS9TimeIsPossible(d, time_sep ? 5 : 3))
        return time_sep ? unknown_day + time_sep + "\?\?:\?\?" : unknown_day;
    char buf[40];
    if (time_sep)
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d%c%02d:%02d", 1900 + d[0], d[1], d[2], time_sep, d[3], d[4]);
    else
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", 1900 + d[0], d[1], d[2]);
    return buf;
}

// A date as a JSON value: a string, or null for one no clock can show.
std::string json_date(const u_char* d, char time_sep = 0) {
    if (!OS9TimeIsPossible(d, time_sep ? 5 : 3)) return "null";
    std::string quoted(1, '"');
    quoted += date_text(d, time_sep);
    quoted += '"';
    return quoted;
}

// Prints the rows of one operand in the chosen form.
void print_rows(const std::vector<row>& rows, const settings& how, const std::string& image_name,
                const std::string& container) {
    if (how.json) {
        // A disk in a container names it; a raw image's rows are as always.
        const std::string held_in = container.empty() ? std::string() : ",\"container\":" + dv::json_string(container);
        for (const row& r : rows) {
            std::string line = "{\"image\":" + dv::json_string(image_name) + held_in + ",\"name\":" + dv::json_string(r.name) +
                               ",\"path\":" + dv::json_string(r.in_image) + ",\"fd_lsn\":" + std::to_string(r.fd_lsn);
            if (r.damaged) {
                line += ",\"damaged\":true}";
            } else {
                const os9_stat& s = r.st;
                line += ",\"directory\":" + std::string(s.is_dir ? "true" : "false") +
                        ",\"size\":" + std::to_string(s.size) + ",\"attributes\":\"" +
                        dv::attribute_letters(s.attributes) + "\",\"owner\":" + std::to_string(s.owner) +
                        ",\"links\":" + std::to_string(s.links) + ",\"created\":" + json_date(s.created) +
                        ",\"modified\":" + json_date(s.modified, 'T') + "}";
            }
            std::fputs(line.c_str(), stdout);
            std::fputc('\n', stdout);
        }
        return;
    }
    if (!how.extended) {
        for (const row& r : rows) {
            std::fputs(dv::shown(r.path).c_str(), stdout);
            std::fputs(r.damaged ? "  [damaged]\n" : "\n", stdout);
        }
        return;
    }
    // Aligned columns: widths from the widest value of each.
    std::size_t owner_w = 1, size_w = 1, lsn_w = 1;
    for (const row& r : rows) {
        lsn_w = std::max(lsn_w, std::to_string(r.fd_lsn).size());
        if (r.damaged) continue;
        owner_w = std::max(owner_w, std::to_string(r.st.owner).size());
        size_w = std::max(size_w, std::to_string(r.st.size).size());
    }
    for (const row& r : rows) {
        char buf[160];
        if (r.damaged) {
            std::snprintf(buf, sizeof buf, "\?\?\?\?\?\?\?\? %*s \?\?\?\?-\?\?-\?\? \?\?:\?\? %*s %*u ", static_cast<int>(owner_w), "?",
                          static_cast<int>(size_w), "?", static_cast<int>(lsn_w), r.fd_lsn);
        } else {
            std::snprintf(buf, sizeof buf, "%s %*u %s %*u %*u ", dv::attribute_letters(r.st.attributes).c_str(),
                          static_cast<int>(owner_w), r.st.owner, date_text(r.st.modified, ' ').c_str(),
                          static_cast<int>(size_w), r.st.size, static_cast<int>(lsn_w), r.fd_lsn);
        }
        std::fputs(buf, stdout);
        std::fputs(dv::shown(r.path).c_str(), stdout);
        std::fputs(r.damaged ? "  [damaged]\n" : "\n", stdout);
    }
}

std::string join(const std::string& dir, const std::string& name) { return dir.empty() ? name : dir + "/" + name; }

// The pathlist of an entry `rel` below the operand, for messages.
std::string pathlist_of(const std::string& operand, const std::string& rel) {
    if (rel.empty()) return operand;
    return operand + (operand.find(':') == std::string::npos ? ":" : "/") + rel;
}

// Files listed together, as a pattern's matches are: their rows, and the
// image they are in.
struct file_rows {
    std::vector<row> rows;
    std::string volume, container;
};

// Lists one operand; returns the first failure's number (0 when none).
// `target`, when given, is read in its place (a name made plain), `operand`
// naming it in messages; a file goes to `together` when given instead of
// being printed.
int list_operand(const std::string& operand, const settings& how, file_rows* together = nullptr,
                 const std::string* target = nullptr) {
    pathlist pl;
    if (error_code ec = parse_pathlist(target ? *target : operand, &pl))
        return dv::report_failure("dvls", ec, "opening", operand);
    // Without a colon, or with nothing after it, the operand names the
    // root of an image; "DIR/" is DIR, and names no file.
    std::string in_image = pl.raw ? pl.in_image : pl.path();
    if (in_image == ".") in_image.clear();
    image_ref image;
    if (error_code ec = image_open(pl.image, false, &image, pl.offset)) return dv::report_failure("dvls", ec, "opening", operand);
    os9_stat top;
    if (error_code ec = _os9_stat_path(image, in_image, &top)) return dv::report_failure("dvls", ec, "opening", operand);
    if (error_code ec = dir_only_check(pl, top.is_dir)) return dv::report_failure("dvls", ec, "opening", operand);

    std::vector<row> rows;
    int first_failure = 0;
    auto fail = [&](error_code ec, const std::string& what) {
        dv::report_failure("dvls", ec, "reading", what);
        if (!first_failure) first_failure = ec;
    };
    if (!top.is_dir) {
        // A file is listed alone, by its name.
        std::size_t slash = in_image.find_last_of('/');
        std::string name = slash == std::string::npos ? in_image : in_image.substr(slash + 1);
        rows.push_back(row{name, name, in_image, top.fd_lsn, false, top});
        if (together) {
            together->rows.push_back(rows.back());
            together->volume = pl.volume();
            together->container = image_container(*image);
            return 0;
        }
        print_rows(rows, how, pl.volume(), image_container(*image));
        return 0;
    }

    // Depth first, each directory entered once: a damaged tree that leads
    // back to a directory lists its entry but not its contents again.
    struct level {
        os9_path_id dir;
        std::string rel;       // path below the operand ("" at the top)
        std::string in_image;  // path from the root
    };
    std::set<std::uint32_t> entered{top.fd_lsn};
    std::vector<level> stack;
    os9_path_id dir = nullptr;
    if (error_code ec = _os9_open_fd(&dir, image, top.fd_lsn, MODE_DIR)) return dv::report_failure("dvls", ec, "opening", operand);
    stack.push_back(level{dir, "", in_image});
    while (!stack.empty()) {
        level& at = stack.back();
        os9_dirent e;
        error_code ec = _os9_readdir(at.dir, &e);
        if (ec != E_SUCCESS) {
            if (ec != E_EOF) fail(ec, pathlist_of(operand, at.rel));
            _os9_close(at.dir);
            stack.pop_back();
            continue;
        }
        const bool dots = e.name == "." || e.name == "..";
        if (dots && !how.all) continue;
        row r;
        r.name = e.name;
        r.path = how.recursive ? join(at.rel, e.name) : e.name;
        r.in_image = join(at.in_image, e.name);
        r.fd_lsn = e.fd_lsn;
        if (error_code st = _os9_stat_fd(at.dir, e.fd_lsn, &r.st)) {
            r.damaged = true;
            fail(st, pathlist_of(operand, join(at.rel, e.name)));
        }
        const bool descend = how.recursive && !dots && !r.damaged && r.st.is_dir && entered.insert(e.fd_lsn).second;
        const std::string rel = join(at.rel, e.name);
        const std::string sub_in_image = r.in_image;
        rows.push_back(std::move(r));
        if (descend) {
            os9_path_id sub = nullptr;
            if (error_code oc = _os9_open_fd(&sub, image, e.fd_lsn, MODE_DIR))
                fail(oc, pathlist_of(operand, rel));
            else
                stack.push_back(level{sub, rel, sub_in_image});  // `at` is not used past this point
        }
    }
    print_rows(rows, how, pl.volume(), image_container(*image));
    return first_failure;
}

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    settings how;
    for (const dv::Given& g : line.options) {
        if (g.letter == 'a') how.all = true;
        if (g.letter == 'e') how.extended = true;
        if (g.letter == 'r') how.recursive = true;
        if (g.letter == 'j') how.json = true;
        if (g.letter == 'd') how.deleted = true;
    }
    static char out_buffer[1 << 16];
    std::setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);
    // Each operand is a part of the listing under a heading of its own; a
    // pattern is a part for the files it matches, listed together, and one
    // for each directory it matches, as several operands would be.
    struct part {
        std::string heading;
        std::vector<dv::named_operand> items;
        bool files = false;        // the items are a pattern's files
        error_code failed = E_SUCCESS;
    };
    std::vector<part> parts;
    dv::image_table held;  // a pattern's image, held until it is listed
    for (const char* operand : line.operands) {
        std::vector<dv::named_operand> items;
        // Deleted entries are listed by directory: no pattern chooses among them.
        const error_code ec = how.deleted ? E_SUCCESS : dv::expand_operand(held, operand, false, &items);
        if (ec || how.deleted || !dv::names_by_pattern(operand)) {
            parts.push_back(part{operand, items, false, ec});
            continue;
        }
        part files{operand, {}, true, E_SUCCESS};
        for (const dv::named_operand& m : items)
            if (!m.dir) files.items.push_back(m);
        if (!files.items.empty()) parts.push_back(files);
        for (const dv::named_operand& m : items)
            if (m.dir) parts.push_back(part{m.shown, {m}, false, E_SUCCESS});
    }
    const bool headings = parts.size() > 1 && !how.json;
    int status = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const part& p = parts[i];
        if (headings) std::printf("%s%s:\n", i ? "\n" : "", dv::shown(p.heading).c_str());
        std::fflush(stdout);
        if (how.deleted) {
            const int ec = dv::list_deleted(p.heading, how.recursive, how.json);
            std::fflush(stdout);
            if (ec && !status) status = ec;
            continue;
        }
        int ec = p.failed ? dv::report_failure("dvls", p.failed, "opening", p.heading) : 0;
        file_rows together;
        for (const dv::named_operand& item : p.items) {
            const int failed = list_operand(item.shown, how, p.files ? &together : nullptr, &item.operand);
            if (failed && !ec) ec = failed;
        }
        if (!together.rows.empty()) print_rows(together.rows, how, together.volume, together.container);
        std::fflush(stdout);
        if (ec && !status) status = ec;
    }
    return status;
}

#include "misc/deleted_list.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <vector>

#include "misc/frame.h"
#include "misc/json.h"
#include "rbf/pathlist.h"

namespace dv {

using namespace rbf;

const char* deleted_state_word(const os9_deleted& d) {
    return d.state == deleted_state::recoverable ? "recoverable" : "partly reused";
}

std::string deleted_reason(const os9_deleted& d) {
    switch (d.state) {
        case deleted_state::recoverable: return {};
        case deleted_state::fd_outside: return "its FD sector lies outside the disk or in its system area";
        case deleted_state::fd_in_use: return "its FD sector is in use";
        case deleted_state::fd_damaged: return "its FD does not read as one";
        case deleted_state::unit_in_use: return "unit " + std::to_string(d.unit) + " is in use";
        case deleted_state::holds_entries: return "the directory still names entries";
    }
    return {};
}

std::string deleted_name(const os9_deleted& d) { return "?" + d.rest; }

namespace {

struct found {
    std::string dir;  // the directory's path below the operand ("" the operand)
    std::string in_image;  // and from the root
    os9_deleted entry;
};

std::string join(const std::string& dir, const std::string& name) { return dir.empty() ? name : dir + "/" + name; }

void print(const std::vector<found>& rows, bool json, const std::string& volume, const std::string& container) {
    if (json) {
        const std::string held_in = container.empty() ? std::string() : ",\"container\":" + json_string(container);
        for (const found& f : rows) {
            const os9_deleted& d = f.entry;
            std::string line = "{\"image\":" + json_string(volume) + held_in + ",\"dir\":" + json_string(f.in_image) +
                               ",\"name\":" + json_string(d.rest) + ",\"fd_lsn\":" + std::to_string(d.fd_lsn) +
                               ",\"position\":" + std::to_string(d.pos) + ",\"state\":\"" + deleted_state_word(d) + "\"";
            if (d.state != deleted_state::recoverable) line += ",\"reason\":" + json_string(deleted_reason(d));
            // What the FD still says, when it reads as one.
            if (d.state == deleted_state::recoverable || d.state == deleted_state::unit_in_use ||
                d.state == deleted_state::holds_entries)
                line += ",\"directory\":" + std::string(d.is_dir ? "true" : "false") + ",\"size\":" + std::to_string(d.size);
            line += "}\n";
            std::fputs(line.c_str(), stdout);
        }
        return;
    }
    std::size_t lsn_w = 1;
    for (const found& f : rows) lsn_w = std::max(lsn_w, std::to_string(f.entry.fd_lsn).size());
    for (const found& f : rows) {
        char head[64];
        std::snprintf(head, sizeof head, "%*u %-13s ", static_cast<int>(lsn_w), f.entry.fd_lsn, deleted_state_word(f.entry));
        std::string line = head + shown(join(f.dir, deleted_name(f.entry)));
        if (f.entry.state != deleted_state::recoverable) line += "  [" + deleted_reason(f.entry) + "]";
        line += '\n';
        std::fputs(line.c_str(), stdout);
    }
}

}  // namespace

int list_deleted(const std::string& operand, bool recursive, bool json) {
    pathlist pl;
    if (error_code ec = parse_pathlist(operand, &pl)) return report_failure("dvls", ec, "opening", operand);
    std::string in_image = pl.raw ? pl.in_image : pl.path();
    if (in_image == ".") in_image.clear();
    image_ref image;
    if (error_code ec = image_open(pl.image, false, &image, pl.offset)) return report_failure("dvls", ec, "opening", operand);
    os9_stat top;
    if (error_code ec = _os9_stat_path(image, in_image, &top)) return report_failure("dvls", ec, "opening", operand);
    // Only a directory has entries, deleted ones too.
    if (!top.is_dir) return report_failure("dvls", E_FNA, "opening", operand);

    struct level {
        std::uint32_t lsn;
        std::string rel, in_image;
    };
    std::vector<found> rows;
    int first_failure = 0;
    auto fail = [&](error_code ec, const std::string& rel) {
        report_failure("dvls", ec, "reading", rel.empty() ? operand : operand + (pl.host ? ":" : "/") + rel);
        if (!first_failure) first_failure = ec;
    };
    // Each live directory once, by its FD sector, as dvls -r walks.
    std::set<std::uint32_t> entered{top.fd_lsn};
    std::vector<level> todo{{top.fd_lsn, "", in_image}};
    while (!todo.empty()) {
        const level at = todo.back();
        todo.pop_back();
        os9_path_id dir = nullptr;
        if (error_code ec = _os9_open_fd(&dir, image, at.lsn, MODE_DIR)) {
            fail(ec, at.rel);
            continue;
        }
        std::vector<os9_deleted> deleted;
        if (error_code ec = _os9_deleted_entries(dir, &deleted)) fail(ec, at.rel);
        for (os9_deleted& d : deleted) rows.push_back(found{at.rel, at.in_image, std::move(d)});
        std::vector<level> below;
        os9_dirent e;
        while (recursive && _os9_readdir(dir, &e) == E_SUCCESS) {
            os9_stat st;
            if (e.name == "." || e.name == ".." || _os9_stat_fd(dir, e.fd_lsn, &st) || !st.is_dir) continue;
            if (entered.insert(e.fd_lsn).second) below.push_back({e.fd_lsn, join(at.rel, e.name), join(at.in_image, e.name)});
        }
        _os9_close(dir);
        // The first subdirectory is listed next, as dvls -r lists its tree.
        todo.insert(todo.end(), below.rbegin(), below.rend());
    }
    print(rows, json, pl.volume(), image_container(*image));
    return first_failure;
}

}  // namespace dv

// dvattr: shows or changes the attributes of a file or directory in a disk
// image.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "misc/frame.h"
#include "misc/operand_expand.h"
#include "os9disk.h"
#include "os9path.h"
#include "rbf/pathlist.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvattr <pathlist> {[<pathlist>] [<attr>] [<...>]}\n",
    "Usage:  shows or changes the attributes of files or directories\n",
    "Attributes: e w r (owner), pe pw pr (public), s (share);\n",
    "            -<attr> clears one.  Without any, the attributes are shown.\n",
    nullptr,
};

// The attribute words are operands, -pw and the like included.
const dv::Program program{
    .name = "dvattr", .help = helpMessage, .dash_operands = true};

struct word {
    const char* name;
    u_char bit;
};

constexpr word kWords[] = {{"e", ATT_EXEC},   {"w", ATT_WRITE},   {"r", ATT_READ},  {"pe", ATT_PEXEC},
                           {"pw", ATT_PWRITE}, {"pr", ATT_PREAD}, {"s", ATT_SHARE}, {"d", ATT_DIR}};

// Reads the words in order (a later one wins over an earlier one for the
// same bit) into the bits to set and to clear; 187 for an unknown word,
// 214 for the directory bit, with *bad the word.
error_code read_words(const std::vector<const char*>& words, u_char* set, u_char* clear, const char** bad) {
    for (const char* w : words) {
        const bool off = w[0] == '-';
        const word* found = nullptr;
        for (const word& k : kWords)
            if (std::strcmp(w + (off ? 1 : 0), k.name) == 0) found = &k;
        *bad = w;
        if (!found) return E_ILLARG;
        if (found->bit == ATT_DIR) return E_FNA;
        *set = static_cast<u_char>(off ? *set & ~found->bit : *set | found->bit);
        *clear = static_cast<u_char>(off ? *clear | found->bit : *clear & ~found->bit);
    }
    return E_SUCCESS;
}

// Shows (no words) or changes the attributes of `operand`; *att gets them.
error_code attributes(const std::string& operand, u_char set, u_char clear, bool change, u_char* att) {
    pathlist pl;
    if (error_code ec = parse_pathlist(operand, &pl)) return ec;
    // Host files have permissions of their own, not these attributes.
    if (pl.host || pl.raw) return E_BPNAM;
    image_ref image;
    if (error_code ec = image_open(pl.image, change, &image, pl.offset)) return ec;
    // "image:" is the root; "FILE/" names no directory.
    const std::string path = pl.path();
    os9_stat st;
    if (error_code ec = _os9_stat_path(image, path, &st)) return ec;
    if (error_code ec = dir_only_check(pl, st.is_dir)) return ec;
    if (change) return _os9_set_attributes(image, path, set, clear, att);
    *att = st.attributes;
    return E_SUCCESS;
}

// After the first pathlist, an argument with a colon is another pathlist
// and any other a word (one not known is refused as before).
bool is_word(const char* arg) { return std::strchr(arg, ':') == nullptr; }

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    std::vector<const char*> files{line.operands.front()};
    std::vector<const char*> words;
    for (auto it = line.operands.begin() + 1; it != line.operands.end(); ++it) (is_word(*it) ? words : files).push_back(*it);
    const bool change = !words.empty();
    const char* verb = change ? "changing" : "reading";
    u_char set = 0, clear = 0;
    const char* bad = nullptr;
    error_code ec = read_words(words, &set, &clear, &bad);
    if (ec != E_SUCCESS) {
        dv::report_failure("dvattr", ec, verb, files.front());
        if (ec == E_FNA)
            std::fprintf(stderr, "dvattr: '%s': whether a file is a directory cannot be changed\n", bad);
        else
            std::fprintf(stderr, "dvattr: unknown attribute '%s' (e w r pe pw pr s, each with '-' to clear)\n", bad);
        return ec;
    }
    // A pattern stands for the files it matches, each done as if named.
    // One file: its attributes alone; several: each with its pathlist.
    int status = 0;
    dv::image_table held;
    for (const char* given : files) {
        std::vector<dv::named_operand> named;
        if ((ec = dv::expand_operand(held, given, change, &named)) != E_SUCCESS) {
            dv::report_failure("dvattr", ec, verb, given);
            if (!status) status = ec;
        }
        const bool one = files.size() == 1 && named.size() == 1;
        for (const dv::named_operand& n : named) {
            const char* operand = n.shown.c_str();
            u_char att = 0;
            if ((ec = attributes(n.operand, set, clear, change, &att)) != E_SUCCESS) {
                dv::report_failure("dvattr", ec, verb, operand);
                if (!status) status = ec;
                continue;
            }
            if (one) std::printf("%s\n", dv::attribute_letters(att).c_str());
            else std::printf("%s %s\n", dv::attribute_letters(att).c_str(), operand);
        }
    }
    return status;
}

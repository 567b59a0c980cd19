// dvprune: deletes whole directory trees from a disk image, depth first,
// asking before each directory unless -q is given.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <climits>
#include <unistd.h>

#include "misc/frame.h"
#include "os9conv.h"
#include "os9disk.h"
#include "os9path.h"
#include "rbf/pathlist.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvprune {[<opts>]} {<directory>} {[<opts>]}\n",
    "Usage:  deletes all subdirectories and files in a directory; then,\n",
    "        deletes the directory itself.\n",
    "Options:\n",
    "     -q    suppresses interaction\n",
    nullptr,
};

const dv::Option options[] = {dv::flag('q')};
const dv::Program program{.name = "dvprune", .help = helpMessage, .options = options};

const char list_command[] = "dvls -e ";

// The pathlist as one shell word: nothing in it is ever run.
std::string shell_quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The listing program that sits beside this program, when there is one;
// else the one the shell finds on PATH.
std::string list_program() {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string dir(self, static_cast<std::size_t>(n));
        std::size_t slash = dir.rfind('/');
        if (slash != std::string::npos) {
            std::string beside = dir.substr(0, slash + 1) + "dvls";
            if (access(beside.c_str(), X_OK) == 0) return shell_quote(beside);
        }
    }
    return "dvls";
}

// First character of the next blank-separated word on standard input; end
// of input answers q.
char read_answer() {
    int c;
    do c = std::getchar();
    while (c != EOF && std::isspace(c));
    if (c == EOF) return 'q';
    char first = static_cast<char>(c);
    while ((c = std::getchar()) != EOF && !std::isspace(c)) {
    }
    return first;
}

prune_answer ask(const std::string& path) {
    for (;;) {
        std::printf("\nDeleting directory: %s\n", dv::shown(path).c_str());
        std::printf("List directory, delete directory, or quit? (l/d/q) ");
        std::fflush(stdout);
        char answer = read_answer();
        if (answer == 'q') return prune_answer::quit;
        if (answer == 'd') return prune_answer::go;
        if (answer == 'l') {
            std::string args = std::string(list_command).substr(4) + shell_quote(path);
            std::printf("The command: %s%s\n", list_command, shell_quote(path).c_str());
            std::fflush(stdout);
            if (std::system((list_program() + args).c_str()) == -1) {
                // The listing is a courtesy; the question comes again.
            }
        }
    }
}

// Deletes the tree of one operand; 0 also when the user quit.
error_code do_deldir(char** argv, const std::string& operand, int interaction, image_ref& held) {
    const char* argv0 = argv[0];
    pathlist pl;
    if (error_code ec = parse_pathlist(operand, &pl)) return ec;
    image_ref image;
    // A missing image fails after the question, as a missing directory
    // does; one that is busy or no file at all, at once.
    if (!pl.host) {
        error_code ec = image_open(pl.image, true, &image, pl.offset);
        if (ec != E_SUCCESS && ec != E_PNNF) return ec;
        // Held until the next operand: one naming the same image goes on
        // with what the library learnt of it.
        held = image;
    }
    prune_options options;
    if (!interaction) options.ask = ask;
    // Every entry that stays is told, each on a line of its own.
    options.report = [&](const std::string& pathlist, error_code ec) {
        dv::report_failure(argv0, ec, "deleting", pathlist);
    };
    // "image:" is the root, "DIR/" the directory DIR; a file so named is none.
    const std::string in_image = pl.host || pl.raw ? pl.in_image : pl.path();
    if (image && pl.dir_only && !pl.raw) {
        os9_stat st;
        if (_os9_stat_path(image, in_image, &st) == E_SUCCESS && !st.is_dir) return E_FNA;
    }
    const bool booted = dv::boots(image.get());
    prune_result r = _os9_prune(image, operand, in_image, options);
    dv::tell_boot_lost("dvprune", pl.image, booted, image.get(), "deleted");
    return r.quit ? E_SUCCESS : r.error;
}

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    int interaction = line.options.empty() ? 0 : 1;  // -q is the only option
    image_ref held;
    for (const char* operand : line.operands) {
        int r = do_deldir(argv, operand, interaction, held);
        if (r != E_SUCCESS) {
            dv::report_failure(argv[0], r, "deleting", operand);
            return r;
        }
    }
    return 0;
}

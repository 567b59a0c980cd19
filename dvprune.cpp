// dvprune: deletes whole directory trees from a disk image, depth first,
// asking before each directory unless -q is given.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "misc/frame.h"
#include "os9conv.h"
#include "os9path.h"

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
const dv::Program program{.name = "dvprune", .help = helpMessage, .options = options, .help_without_operands = true};

const char list_command[] = "dvls -e ";
constexpr int QUIT = 1;

// The pathlist as one shell word: nothing in it is ever run.
std::string shell_quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
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

// Last component of the in-image part: "." and ".." are refused with 187,
// an empty one with 215, so that no directory is ever emptied, stripped of
// its directory bit and then left in place.
error_code check_operand(const std::string& path) {
    std::size_t colon = path.find(':');
    if (colon == std::string::npos) return E_SUCCESS;
    std::size_t slash = path.rfind('/');
    std::size_t at = (slash != std::string::npos && slash > colon) ? slash + 1 : colon + 1;
    std::string last = path.substr(at);
    if (last.empty()) return E_BPNAM;
    if (last == "." || last == "..") return E_ILLARG;
    return E_SUCCESS;
}

// Sets or clears the directory bit of the open path's FD.
error_code set_dir_bit(os9_path_id path, bool on) {
    fd_stats fdbuf;
    if (error_code ec = _os9_gs_fd(path, SECTOR_SIZE, &fdbuf)) return ec;
    fdbuf.fd_att = on ? (fdbuf.fd_att | ATT_DIR) : (fdbuf.fd_att & ~ATT_DIR);
    return _os9_gs_fd_set(path, SECTOR_SIZE, &fdbuf);
}

// True when the entry at `pos` of the directory is still in use.
bool entry_in_use(os9_path_id dir, int pos) {
    fd_dentry dentry{};
    int size = DIRENT_SIZE;
    _os9_seek(dir, pos, 0);
    return _os9_read(dir, &dentry, &size) == E_SUCCESS && dentry.name[0] != 0;
}

// FD sectors of the directories entered for the current operand: an entry
// that leads to one of them again (a loop, or a directory under a second
// name in a damaged tree) is not entered twice.
std::vector<int> open_levels;

int do_deldir(char** argv, const std::string& path, int interaction) {
    while (!interaction) {
        std::printf("\nDeleting directory: %s\n", path.c_str());
        std::printf("List directory, delete directory, or quit? (l/d/q) ");
        std::fflush(stdout);
        char answer = read_answer();
        if (answer == 'q') return QUIT;
        if (answer == 'd') break;
        if (answer == 'l') {
            std::string command = std::string(list_command) + shell_quote(path);
            std::printf("The command: %s\n", command.c_str());
            std::fflush(stdout);
            if (std::system(command.c_str()) == -1) {
                // The listing is a courtesy; the question comes again.
            }
        }
    }

    os9_path_id fold_path = nullptr;
    if (error_code ec = _os9_open(&fold_path, path, MODE_DIR | MODE_WRITE)) return ec;
    open_levels.push_back(fold_path->pl_fd_lsn);
    error_code first_failure = E_SUCCESS;
    int pos = 0;
    for (;;) {
        // The scan goes on from where it was; entries that could not be
        // deleted are passed, not met again.
        _os9_seek(fold_path, pos, 0);
        error_code ec = _os9_gs_eof(fold_path);
        if (ec == E_EOF) break;
        fd_dentry dentry{};
        int size = DIRENT_SIZE;
        if (ec == E_SUCCESS) ec = _os9_read(fold_path, &dentry, &size);
        if (ec != E_SUCCESS) {
            // A directory that cannot be read to its end is not deleted: the
            // entries not reached would keep their units for ever.
            _os9_close(fold_path);
            return ec;
        }
        int entry_pos = pos;
        pos += size;
        if (dentry.name[0] == 0) continue;
        std::string name = NameFromField(dentry.name, NAME_FIELD);
        if (name == "." || name == "..") continue;
        std::string dirpath = path + "/" + name;
        if (dirpath.size() > MAX_PARENT_PATHLIST) {
            if (!first_failure) first_failure = E_BPNAM;
            continue;
        }

        _os9_close(fold_path);
        fold_path = nullptr;
        os9_path_id sub = nullptr;
        if (_os9_open(&sub, dirpath, MODE_DIR | MODE_READ) == E_SUCCESS) {
            int lsn = sub->pl_fd_lsn;
            _os9_close(sub);
            bool loop = std::find(open_levels.begin(), open_levels.end(), lsn) != open_levels.end();
            if (!loop && do_deldir(argv, dirpath, interaction) == QUIT) return QUIT;
        } else {
            _os9_delete(dirpath);
        }
        if (error_code reopen = _os9_open(&fold_path, path, MODE_DIR | MODE_WRITE)) return reopen;
        if (entry_in_use(fold_path, entry_pos) && !first_failure) first_failure = E_FNA;
    }
    if (first_failure) {
        _os9_close(fold_path);
        return first_failure;
    }

    // Cleared, the directory reads as a plain file, which the delete takes.
    error_code ec = set_dir_bit(fold_path, false);
    _os9_close(fold_path);
    if (ec) return ec;
    ec = _os9_delete(path);
    os9_path_id left = nullptr;
    if (_os9_open(&left, path, MODE_WRITE) == E_SUCCESS) {
        // Still there: it keeps its directory bit.
        set_dir_bit(left, true);
        _os9_close(left);
        if (!ec) ec = E_FNA;
    }
    return ec;
}

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    int interaction = line.options.empty() ? 0 : 1;  // -q is the only option
    for (const char* operand : line.operands) {
        open_levels.clear();
        int r = check_operand(operand);
        if (r == E_SUCCESS) r = do_deldir(argv, operand, interaction);
        if (r == QUIT) continue;
        if (r != E_SUCCESS) {
            std::fprintf(stderr, "%s: error %d deleting '%s'\n", argv[0], r, operand);
            return r;
        }
    }
    return 0;
}

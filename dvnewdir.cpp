// dvnewdir: makes directories in disk images (or on the host).
#include <cstdio>

#include "os9conv.h"
#include "os9path.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvnewdir {<file> [<...>]}\n",
    "Usage:  Creates a directory according to the pahlist given.\n",
    nullptr,
};

error_code do_makdir(char**, const char* p) { return _os9_makdir(p); }

}  // namespace

int main(int argc, char** argv) {
    if (HelpOrUnknownOption(argc, argv, helpMessage)) return 0;
    const char* p = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-') continue;
        p = argv[i];
        error_code ec = do_makdir(argv, p);
        if (ec != E_SUCCESS) {
            std::fprintf(stderr, "%s: error %d creating '%s'\n", argv[0], ec, p);
            return ec;
        }
    }
    if (!p) show_help(helpMessage);
    return 0;
}

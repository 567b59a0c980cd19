// dvnewdir: makes directories in disk images (or on the host).
#include <cstdio>

#include "misc/frame.h"
#include "os9conv.h"
#include "os9path.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvnewdir {<file> [<...>]}\n",
    "Usage:  Creates a directory according to the pahlist given.\n",
    nullptr,
};

const dv::Program program{.name = "dvnewdir", .help = helpMessage, .help_without_operands = true};

error_code do_makdir(char**, const char* p) { return _os9_makdir(p); }

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    for (const char* p : line.operands) {
        error_code ec = do_makdir(argv, p);
        if (ec != E_SUCCESS) {
            std::fprintf(stderr, "%s: error %d creating '%s'\n", argv[0], ec, p);
            dv::explain_busy(argv[0], ec);
            return ec;
        }
    }
    return 0;
}

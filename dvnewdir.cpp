// dvnewdir: makes directories in disk images (or on the host).
#include <cstdio>

#include "misc/frame.h"
#include "os9conv.h"
#include "os9disk.h"
#include "os9path.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvnewdir {<file> [<...>]}\n",
    "Usage:  Creates a directory according to the pahlist given.\n",
    nullptr,
};

const dv::Program program{.name = "dvnewdir", .help = helpMessage, .help_without_operands = true};

// Makes one directory; the image stays held in `held` for the next operand,
// so one naming the same image goes on with what the library knows of it.
error_code do_makdir(const char* p, image_ref& held) {
    _pd parts;
    if (validate_pathlist(&parts, p) == E_SUCCESS && !parts.isnative) {
        image_ref image;
        error_code ec = image_open(parts.imgfile, true, &image);
        if (ec == E_BUSY) return ec;
        if (ec == E_SUCCESS) held = std::move(image);
    }
    return _os9_makdir(p);
}

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    image_ref held;
    for (const char* p : line.operands) {
        error_code ec = do_makdir(p, held);
        if (ec != E_SUCCESS) {
            std::fprintf(stderr, "%s: error %d creating '%s'\n", argv[0], ec, p);
            dv::explain_busy(argv[0], ec);
            return ec;
        }
    }
    return 0;
}

// dvnewdir: makes directories in disk images (or on the host).
#include <cstdio>

#include "misc/endpoint.h"
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

const dv::Program program{.name = "dvnewdir", .help = helpMessage};

// Makes one directory; the image stays held in `held` for the next operand,
// so one naming the same image goes on with what the library knows of it.
error_code do_makdir(const char* p, dv::image_table& held) {
    dv::endpoint e;
    error_code ec = dv::endpoint_of(held, p, true, &e);
    if (ec == E_BUSY) return ec;
    // A host directory, and an image that cannot be opened, as the
    // pathlist call makes them.
    if (ec != E_SUCCESS || e.on_host()) return _os9_makdir(p);
    // "NEW/" makes NEW; "FILE/" names no directory.
    dv::facts f;
    if (!e.pl.raw && dv::look(e, &f) == E_SUCCESS && dv::fits_trailing_slash(e, f)) return E_FNA;
    return e.pl.raw ? _os9_makdir(p) : dv::make_directory(e.path.empty() ? dv::endpoint{e.image, e.pl, ".", p} : e);
}

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    dv::image_table held;
    for (const char* p : line.operands) {
        error_code ec = do_makdir(p, held);
        if (ec != E_SUCCESS) {
            dv::report_failure(argv[0], ec, "creating", p);
            return ec;
        }
    }
    return 0;
}

// dvrename: gives a file or directory of a disk image (or a host file) a new
// name in its own directory.
#include <string>

#include "misc/endpoint.h"
#include "misc/frame.h"
#include "os9conv.h"
#include "os9disk.h"
#include "os9path.h"

using namespace rbf;

namespace {

const char* const helpMessage[] = {
    "Syntax: dvrename <pathlist> <newname>\n",
    "Usage:  renames a file or directory in its directory\n",
    nullptr,
};

const dv::Program program{.name = "dvrename", .help = helpMessage, .min_operands = 2};

error_code rename_operand(const std::string& operand, const std::string& newname) {
    dv::image_table images;
    dv::endpoint e;
    if (error_code ec = dv::endpoint_of(images, operand, true, &e)) return ec;
    if (e.on_host()) return _native_rename(e.pl.image, newname);
    // "image:" is the root, which has no name in a directory (as "image:.").
    dv::facts f;
    if (!e.pl.raw && dv::look(e, &f) == E_SUCCESS)
        if (error_code ec = dv::fits_trailing_slash(e, f)) return ec;
    const bool booted = dv::boots(e.image.get());
    const error_code ec = dv::rename_to(e, newname);
    dv::tell_boot_lost("dvrename", e.pl.image, booted, e.image.get(), "renamed");
    return ec;
}

}  // namespace

int main(int argc, char** argv) {
    dv::CommandLine line = dv::parse(program, argc, argv);
    if (line.exit) return *line.exit;
    if (line.operands.size() > 2)
        return dv::usage_error(program, argv[0], std::string("extra operand '") + line.operands[2] + "'");
    const error_code ec = rename_operand(line.operands[0], line.operands[1]);
    if (ec == E_SUCCESS) return 0;
    dv::report_failure("dvrename", ec, "renaming", line.operands[0]);
    return ec;
}

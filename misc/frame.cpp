#include "misc/frame.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include "misc/errors.h"
#include "os9conv.h"
#include "os9disk.h"
#include "rbf/pathlist.h"

#ifndef DV_VERSION
#error "DV_VERSION comes from the build (the project version)"
#endif

namespace dv {

namespace {

const Option* find(const Program& program, char letter) {
    for (const Option& o : program.options)
        if (o.letter == letter) return &o;
    return nullptr;
}

// Digits of `base` only, at least one, within [min, max].
std::optional<unsigned long> digits(const char* s, unsigned base, unsigned long min, unsigned long max) {
    if (*s == '\0') return std::nullopt;
    unsigned long v = 0;
    for (; *s; ++s) {
        unsigned d = base;
        if (*s >= '0' && *s <= '9') d = static_cast<unsigned>(*s - '0');
        else if (*s >= 'a' && *s <= 'f') d = static_cast<unsigned>(*s - 'a' + 10);
        else if (*s >= 'A' && *s <= 'F') d = static_cast<unsigned>(*s - 'A' + 10);
        if (d >= base) return std::nullopt;
        v = v * base + d;
        if (v > max) return std::nullopt;
    }
    if (v < min) return std::nullopt;
    return v;
}

// An option's number: decimal, or for hex_number hexadecimal after '$' or "0x".
std::optional<unsigned long> number_of(const Option& o, const char* s) {
    if (o.value == Value::hex_number && s[0] == '$') return digits(s + 1, 16, o.min, o.max);
    if (o.value == Value::hex_number && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        return digits(s + 2, 16, o.min, o.max);
    return digits(s, 10, o.min, o.max);
}

bool help_or_version(const char* arg) {
    for (const char* word : {"--help", "--version", "-h", "-?"})
        if (std::strcmp(arg, word) == 0) return true;
    return false;
}

// Reads one argument starting with '-'; sets line.exit when the run ends.
void read_options(const Program& program, char** argv, const char* arg, CommandLine& line) {
    for (const char* p = arg + 1; *p; ++p) {
        const char letter = *p;
        if (letter == 'h' || letter == '?') {
            rbf::show_help(program.help);
            line.exit = 0;
            return;
        }
        const Option* o = find(program, letter);
        if (!o) {
            std::fprintf(stderr, "%s: unknown option '%c'\n", argv[0], letter);
            line.exit = 0;
            return;
        }
        if (o->value == Value::none) {
            line.options.push_back({letter, "", 0});
            if (program.style == Style::one_per_argument) return;
            continue;
        }
        const char* value = p + 1;
        unsigned long n = 0;
        if (o->value == Value::number || o->value == Value::hex_number) {
            std::optional<unsigned long> v = number_of(*o, value);
            if (!v) {
                std::fprintf(stderr, "%s: bad number '%s' in option -%c (%lu to %lu)\n", argv[0], value, letter,
                             o->min, o->max);
                line.exit = 1;
                return;
            }
            n = *v;
        }
        line.options.push_back({letter, value, n});
        return;
    }
}

}  // namespace

CommandLine parse(const Program& program, int argc, char** argv) {
    // A write past a file-size limit fails with an error the program
    // reports, instead of ending it half way through.
    std::signal(SIGXFSZ, SIG_IGN);
    CommandLine line;
    for (int i = 1; i < argc && !line.exit; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-' || (program.dash_operands && !help_or_version(arg)))
            line.operands.push_back(arg);
        else if (std::strcmp(arg, "--version") == 0) {
            std::printf("%s (dv) %s\n", program.name, DV_VERSION);
            line.exit = 0;
        } else if (std::strcmp(arg, "--help") == 0) {
            rbf::show_help(program.help);
            line.exit = 0;
        } else
            read_options(program, argv, arg, line);
    }
    if (!line.exit && (argc < 2 || (program.help_without_operands && line.operands.empty()))) {
        rbf::show_help(program.help);
        line.exit = 0;
    }
    return line;
}

std::string failure_line(std::string_view program, int error, std::string_view verb, std::string_view operand) {
    std::string s(program);
    s += ": error " + std::to_string(error) + " (" + error_meaning(error) + ") ";
    s += verb;
    s += " '";
    s += operand;
    s += "'\n";
    return s;
}

namespace {

// After a failure on an image in a container: what the container says of it
// ("'d.vdk' is a VDK image without an OS-9 disk in it", the LSN a read could
// not deliver), on a line of its own.  Nothing for a raw image.
void explain_container(std::string_view program, int error, std::string_view operand) {
    rbf::pathlist pl;
    if (rbf::parse_pathlist(std::string(operand), &pl) != rbf::E_SUCCESS) return;
    const std::string why = rbf::image_container_note(pl.image, pl.offset, error);
    if (why.empty()) return;
    std::string line(program);
    line += ": '" + pl.image + "' is " + why + "\n";
    std::fputs(line.c_str(), stderr);
}

}  // namespace

int report_failure(std::string_view program, int error, std::string_view verb, std::string_view operand) {
    std::fputs(failure_line(program, error, verb, operand).c_str(), stderr);
    explain_container(program, error, operand);
    return error;
}

int report_number(std::string_view program, int error, std::string_view verb, std::string_view operand) {
    std::string s(program);
    s += ": error " + std::to_string(error) + " " + std::string(verb) + " '" + std::string(operand) + "'\n";
    std::fputs(s.c_str(), stderr);
    explain_container(program, error, operand);
    return error;
}

int report_on_output(int error, std::string_view verb, std::string_view operand) {
    std::string s = "Error " + std::to_string(error) + " " + std::string(verb) + " " + std::string(operand) + "\n";
    std::fputs(s.c_str(), stdout);
    explain_container("dvtype", error, operand);
    return error;
}

void explain_busy(std::string_view program, int error) {
    if (error != 253) return;
    std::string line(program);
    line += ": the image is in use by another program\n";
    std::fputs(line.c_str(), stderr);
}

bool boots(const rbf::os9_image* image) {
    rbf::boot_pointer b;
    return image && rbf::image_boot_pointer(*image, &b) == rbf::E_SUCCESS && b.boots();
}

void tell_boot_lost(std::string_view program, std::string_view image_name, bool booted, const rbf::os9_image* image,
                    std::string_view how) {
    if (!booted || boots(image)) return;
    std::string line(program);
    line += ": '";
    line += image_name;
    line += "' no longer boots: its boot file was ";
    line += how;
    line += "\n";
    std::fputs(line.c_str(), stderr);
}

std::string attribute_letters(unsigned char attributes) {
    static const char letters[] = "dsewrewr";
    std::string s(8, '-');
    for (int k = 0; k < 8; ++k)
        if (attributes & (0x80 >> k)) s[static_cast<std::size_t>(k)] = letters[k];
    return s;
}

}  // namespace dv

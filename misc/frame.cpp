#include "misc/frame.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

#include "misc/errors.h"
#include "os9conv.h"
#include "os9disk.h"
#include "os9path.h"
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

// The program's name for the notice of a wait, as it was called.
const char* waiting_program = "dv";

void tell_wait(const std::string& image) {
    std::fprintf(stderr, "%s: waiting for %s: in use by another program\n", waiting_program, image.c_str());
}

bool help_or_version(const char* arg) {
    for (const char* word : {"--help", "--version", "-h", "-?"})
        if (std::strcmp(arg, word) == 0) return true;
    return false;
}

// The option `o` with `value`; `spelling` names it in a message ("t", "-to").
void take_value(const Option& o, char** argv, const char* value, const std::string& spelling, CommandLine& line) {
    unsigned long n = 0;
    if (o.value == Value::number || o.value == Value::hex_number) {
        std::optional<unsigned long> v = number_of(o, value);
        if (!v) {
            std::fprintf(stderr, "%s: bad number '%s' in option -%s (%lu to %lu)\n", argv[0], value, spelling.c_str(),
                         o.min, o.max);
            line.exit = 1;
            return;
        }
        n = *v;
    }
    line.options.push_back({o.letter, value, n});
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
            line.exit = usage_error(program, argv[0], std::string("unknown option '") + letter + "'");
            return;
        }
        if (o->value == Value::none) {
            line.options.push_back({letter, "", 0});
            if (program.style == Style::one_per_argument) return;
            continue;
        }
        take_value(*o, argv, p + 1, std::string(1, letter), line);
        return;
    }
}

// "--word=value" or "--word value" of an option spelled so: true when `arg`
// is one (i moves past a value taken from the next argument).
bool read_word(const Program& program, int argc, char** argv, int& i, CommandLine& line) {
    const std::string_view arg = argv[i] + 2;
    const std::string_view word = arg.substr(0, arg.find('='));
    for (const Option& o : program.options) {
        if (!o.word || word != o.word) continue;
        std::string spelling(1, '-');
        spelling += word;
        if (o.value == Value::none) {
            if (word.size() != arg.size()) return false;  // "--flag=x": not this option
            line.options.push_back({o.letter, "", 0});
        } else if (word.size() < arg.size()) {
            take_value(o, argv, argv[i] + 2 + word.size() + 1, spelling, line);
        } else if (i + 1 < argc) {
            take_value(o, argv, argv[++i], spelling, line);
        } else {
            line.exit = usage_error(program, argv[0], std::string("option --") + o.word + " needs a value");
        }
        return true;
    }
    return false;
}

}  // namespace

CommandLine parse(const Program& program, int argc, char** argv) {
    // A write past a file-size limit fails with an error the program
    // reports, instead of ending it half way through.
    std::signal(SIGXFSZ, SIG_IGN);
    // A wait for a busy image is not a silent pause.
    waiting_program = argc > 0 ? argv[0] : program.name;
    rbf::set_wait_notice(tell_wait);
    CommandLine line;
    if (argc < 2) {
        rbf::show_help(program.help);
        line.exit = 0;
        return line;
    }
    bool options_over = false;
    for (int i = 1; i < argc && !line.exit; ++i) {
        const char* arg = argv[i];
        if (options_over || arg[0] != '-' || (program.dash_operands && !help_or_version(arg)))
            line.operands.push_back(arg);
        else if (std::strcmp(arg, "--") == 0)
            options_over = true;
        else if (arg[1] == '\0') {
            if (program.dash_operand) line.operands.push_back(arg);
        } else if (std::strcmp(arg, "--version") == 0) {
            std::printf("%s (dv) %s\n", program.name, DV_VERSION);
            line.exit = 0;
        } else if (std::strcmp(arg, "--help") == 0) {
            rbf::show_help(program.help);
            line.exit = 0;
        } else if (arg[1] == '-') {
            // "--word" of an option spelled so is that option
            if (!read_word(program, argc, argv, i, line))
                line.exit = usage_error(program, argv[0], std::string("unknown option '") + arg + "'");
        } else if (const Option* o = find(program, arg[1]);
                   program.next_word_values && o && o->value == Value::text && arg[2] == '\0' && i + 1 < argc) {
            line.options.push_back({o->letter, argv[++i], 0});
        } else
            read_options(program, argv, arg, line);
    }
    if (!line.exit && line.operands.size() < program.min_operands)
        line.exit = usage_error(program, argv[0], "missing operand");
    if (!line.exit && program.max_operands && line.operands.size() > program.max_operands) {
        std::string extra = "extra operand '";
        extra += line.operands[program.max_operands];
        extra += "'";
        line.exit = usage_error(program, argv[0], extra);
    }
    return line;
}

int usage_error(const Program& program, const char* argv0, std::string_view what) {
    std::string s(argv0);
    s += ": ";
    s += what;
    s += "\nTry '";
    s += argv0;
    s += " --help'.\n";
    std::fputs(s.c_str(), stderr);
    return program.usage_status;
}

std::string failure_line(std::string_view program, int error, std::string_view verb, std::string_view operand) {
    std::string s(program);
    s += ": error " + std::to_string(error) + " (" + error_meaning(error) + ") ";
    s += verb;
    s += " '";
    s += shown(operand);
    s += "'\n";
    return s;
}

namespace {

// Why an image named by `operand` refuses to be written, in words: "" when
// its host file can be written, as far as the host tells.
std::string read_only_reason(std::string_view operand) {
    rbf::pathlist pl;
    if (rbf::parse_pathlist(std::string(operand), &pl) != rbf::E_SUCCESS || pl.host || pl.image.empty()) return {};
    if (access(pl.image.c_str(), F_OK) != 0 || access(pl.image.c_str(), W_OK) == 0) return {};
    return errno == EROFS ? "is on a read-only file system" : "is read-only";
}

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
    return report_failure(program, error, verb, operand, {});
}

int report_failure(std::string_view program, int error, std::string_view verb, std::string_view operand,
                   std::string_view destination) {
    std::string s = failure_line(program, error, verb, operand);
    if (!destination.empty()) {
        s.pop_back();
        s += " to '" + shown(destination) + "'\n";
    }
    // The number alone does not say why an image cannot be written.
    if (error == rbf::E_FNA)
        for (std::string_view named : {operand, destination})
            if (std::string why = read_only_reason(named); !why.empty()) {
                rbf::pathlist pl;
                rbf::parse_pathlist(std::string(named), &pl);
                s += std::string(program) + ": '" + shown(pl.image) + "' " + why + "\n";
                break;
            }
    std::fputs(s.c_str(), stderr);
    explain_container(program, error, operand);
    if (!destination.empty()) explain_container(program, error, destination);
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

std::string shown(std::string_view text) {
    std::string s;
    s.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F) {
            s += ch;
            continue;
        }
        s += '\\';
        s += static_cast<char>('0' + (c >> 6));
        s += static_cast<char>('0' + ((c >> 3) & 7));
        s += static_cast<char>('0' + (c & 7));
    }
    return s;
}

std::string attribute_letters(unsigned char attributes) {
    static const char letters[] = "dsewrewr";
    std::string s(8, '-');
    for (int k = 0; k < 8; ++k)
        if (attributes & (0x80 >> k)) s[static_cast<std::size_t>(k)] = letters[k];
    return s;
}

}  // namespace dv

// The programs' command line: a table of options read the same way by every
// program, the help and version answers, and failure reports.  It prints
// and decides exit statuses, so it lives outside the library.
//
// An argument starting with '-' holds options, any other is an operand; a
// lone "-" is skipped unless the program takes it as an operand (standard
// input or output), and "--" ends the options: every argument after it is
// an operand.  The letters after '-' are read in turn: 'h' or '?' writes the
// help to standard error (status 0); a letter of the table is that option;
// any other letter writes "<argv[0]>: unknown option 'X'" and
// "Try '<argv[0]> --help'." to standard error and ends the run with the
// usage status (2; dvcheck's is 16, as fsck's).  "--help" is -h,
// "--version" writes "<name> (dv) <version>" to standard output (status 0);
// "--word" of an option spelled so is that option (its value after '=' or
// in the next argument); any other "--word" is an unknown option.  No argument at all writes the
// help (status 0); fewer operands than the program needs write
// "<argv[0]>: missing operand" and the same hint (usage status).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace rbf {
struct os9_image;
}

namespace dv {

// What an option letter takes: nothing, or the rest of its argument.
enum class Value {
    none,
    text,    // any characters, possibly none
    number,  // decimal digits only, at least one, within [min, max]
    hex_number,  // as number, or hexadecimal digits after '$' or "0x"
};

struct Option {
    char letter;
    Value value;
    unsigned long min, max;  // a number's range; max below ULONG_MAX / 16
    // A long spelling of the option: "--word=value", or "--word value"
    // with the value in the next argument (null: none).
    const char* word;
};

constexpr Option flag(char letter) { return {letter, Value::none, 0, 0, nullptr}; }
constexpr Option text(char letter) { return {letter, Value::text, 0, 0, nullptr}; }
constexpr Option number(char letter, unsigned long min, unsigned long max) {
    return {letter, Value::number, min, max, nullptr};
}
constexpr Option hex_number(char letter, unsigned long min, unsigned long max) {
    return {letter, Value::hex_number, min, max, nullptr};
}
// The option `o`, also spelled "--word": a long option with no value given
// ("--word" last) is reported as "<argv[0]>: option --word needs a value"
// (status 1).
constexpr Option spelled(Option o, const char* word) {
    o.word = word;
    return o;
}

// How the letters after '-' are grouped.
enum class Style {
    letters,           // "-qq": each letter is an option; a value takes the rest
    one_per_argument,  // "-12": the first letter is the option, the rest its value or ignored
};

struct Program {
    const char* name;                     // fixed name, for --version
    const char* const* help;              // lines up to a null pointer
    std::span<const Option> options = {};
    Style style = Style::letters;
    // Operands the program needs: fewer is a usage error.
    std::size_t min_operands = 1;
    // More than this is a usage error too ("extra operand"); 0: any number.
    std::size_t max_operands = 0;
    int usage_status = 2;                 // exit status of a usage error
    bool dash_operand = false;            // a lone "-" is an operand (standard input or output)
    // Only --help, --version, -h and -? are read as options: every other
    // argument is an operand, even one starting with '-' (words like -pw).
    bool dash_operands = false;
    // A text option standing alone ("-b") takes the next argument as its
    // value ("-b file" as "-bfile"); else its value is empty.
    bool next_word_values = false;
};

// An option as given: its letter and value (text points into argv, an
// empty string for a flag; number is 0 unless the option takes one).
struct Given {
    char letter;
    const char* text;
    unsigned long number;
};

struct CommandLine {
    std::optional<int> exit;            // set: the run is over, with this status
    std::vector<Given> options;         // in the order given
    std::vector<const char*> operands;  // in the order given
};

// Reads the arguments against the program's table; answers help, version,
// unknown options, missing operands and bad numbers itself (status 1 for a
// bad number, "<argv[0]>: bad number '<value>' in option -X (<min> to <max>)").
CommandLine parse(const Program& program, int argc, char** argv);

// Writes "<argv0>: <what>" and "Try '<argv0> --help'." to standard error;
// returns the program's usage status.
int usage_error(const Program& program, const char* argv0, std::string_view what);

// "<program>: error <n> (<meaning>) <verb> '<operand>'\n".
std::string failure_line(std::string_view program, int error, std::string_view verb, std::string_view operand);

// Writes failure_line(...) to standard error, and for an image in use or
// one that cannot be written a line that says so; returns `error`, the
// exit status of such a failure.
int report_failure(std::string_view program, int error, std::string_view verb, std::string_view operand);
// The same for an operation with a destination: "... <verb> '<operand>' to
// '<destination>'", so the line names what is at fault whichever it is.
int report_failure(std::string_view program, int error, std::string_view verb, std::string_view operand,
                   std::string_view destination);

// After a failure line of a program's own form: for an image in use, says
// so on a line of its own.
void explain_busy(std::string_view program, int error);

// Whether LSN 0 of the image names a boot file (false when it cannot be
// read or there is no image).
bool boots(const rbf::os9_image* image);

// After an operation on an image that booted before it: when LSN 0 names no
// boot file now, says "<program>: '<image>' no longer boots: its boot file
// was <how>" on standard error.
void tell_boot_lost(std::string_view program, std::string_view image_name, bool booted, const rbf::os9_image* image,
                    std::string_view how);

// `text` as it may go to a terminal: control bytes, DEL and bytes above
// $7F as a backslash and three octal digits (as ls -b writes them), every
// other byte as it is.
std::string shown(std::string_view text);

// Attributes as eight letters "dsewrewr", bit 7 to bit 0, '-' for a clear bit.
std::string attribute_letters(unsigned char attributes);

}  // namespace dv

// Conversions shared by the programs: numbers, help text, dates and names.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

#include "os9types.h"

namespace rbf {

// The integer written in `s`: "$" prefix hexadecimal, "%" binary, "0" octal,
// anything else decimal through atoi.  A prefixed number ends at its first
// character that is not a digit of its base.  32-bit arithmetic that wraps.
int StrToInt(const char* s);

// `x` raised to `p` (p >= 0) by repeated multiplication; 1 when p is 0.
int pow(int x, int p);

// Writes each line of the null-terminated array to standard error.
void show_help(const char* const* helpMessage);

// Fills os9time[0..4] with the local time of `currentTime`: year - 1900,
// month, day, hour, minute.  Returns os9time.
u_char* UnixToOS9Time(std::time_t currentTime, u_char* os9time);

// Whether the first `fields` date bytes (3: year, month, day; 5: and hour,
// minute) name a time a clock can show: month 1-12, day 1-31, hour 0-23,
// minute 0-59.  Disks carry bytes no clock wrote (sectors filled with $A5),
// which every program shows as an unknown date.
bool OS9TimeIsPossible(const u_char* os9time, std::size_t fields = 5);

// The local time of the five date bytes, in *when; false (and *when
// untouched) for a date OS9TimeIsPossible refuses or the host cannot hold.
bool OS9TimeToUnix(const u_char* os9time, std::time_t* when);

// Set / clear bit 7 of the last character, in place (no effect on "").
std::string& StringToOS9Name(std::string& f);
std::string& OS9NameToString(std::string& f);

// Reads a name stored on disk in a field of `width` bytes: it ends at its
// first character with bit 7 set (that bit cleared), at a zero byte, or at
// the end of the field, whichever comes first.  Bytes after the end (a
// carriage return some disks carry after the name) are not part of it.
std::string NameFromField(const u_char* field, std::size_t width);

// True when the name stored in `field` (read as NameFromField reads it)
// equals `name`, ignoring ASCII case; allocates nothing.
bool NameFieldEquals(const u_char* field, std::size_t width, const std::string& name);

// ASCII case-insensitive equality, as every directory lookup compares.
bool NameEquals(const std::string& a, const std::string& b);

}  // namespace rbf

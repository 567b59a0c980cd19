#include "os9conv.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace rbf {

namespace {

// Value of a digit of `base`, or -1.
int digit_value(char c, int base) {
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') v = c - 'A' + 10;
    return v < base ? v : -1;
}

}  // namespace

int pow(int x, int p) {
    std::uint32_t r = 1;
    for (int i = 0; i < p; ++i) r *= static_cast<std::uint32_t>(x);
    return static_cast<int>(r);
}

int StrToInt(const char* s) {
    int base = 0;
    switch (s[0]) {
        case '$': base = 16; break;
        case '%': base = 2; break;
        case '0': base = 8; break;
        default: return std::atoi(s);
    }
    std::size_t len = 0;
    while (s[1 + len] && digit_value(s[1 + len], base) >= 0) ++len;
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < len; ++i) {
        int weight = pow(base, static_cast<int>(len - 1 - i));
        sum += static_cast<std::uint32_t>(digit_value(s[1 + i], base)) * static_cast<std::uint32_t>(weight);
    }
    return static_cast<int>(sum);
}

void show_help(const char* const* helpMessage) {
    for (; *helpMessage; ++helpMessage) std::fputs(*helpMessage, stderr);
}

u_char* UnixToOS9Time(std::time_t currentTime, u_char* os9time) {
    std::tm tm {};
    localtime_r(&currentTime, &tm);
    os9time[0] = static_cast<u_char>(tm.tm_year);
    os9time[1] = static_cast<u_char>(tm.tm_mon + 1);
    os9time[2] = static_cast<u_char>(tm.tm_mday);
    os9time[3] = static_cast<u_char>(tm.tm_hour);
    os9time[4] = static_cast<u_char>(tm.tm_min);
    return os9time;
}

bool OS9TimeIsPossible(const u_char* os9time, std::size_t fields) {
    if (os9time[1] < 1 || os9time[1] > 12 || os9time[2] < 1 || os9time[2] > 31) return false;
    return fields < 5 || (os9time[3] <= 23 && os9time[4] <= 59);
}

bool OS9TimeToUnix(const u_char* os9time, std::time_t* when) {
    if (!OS9TimeIsPossible(os9time)) return false;
    std::tm tm {};
    tm.tm_year = os9time[0];
    tm.tm_mon = os9time[1] - 1;
    tm.tm_mday = os9time[2];
    tm.tm_hour = os9time[3];
    tm.tm_min = os9time[4];
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1)) return false;
    *when = t;
    return true;
}

std::string& StringToOS9Name(std::string& f) {
    if (!f.empty()) f.back() = static_cast<char>(static_cast<u_char>(f.back()) | 0x80);
    return f;
}

std::string& OS9NameToString(std::string& f) {
    if (!f.empty()) f.back() = static_cast<char>(static_cast<u_char>(f.back()) & 0x7F);
    return f;
}

std::string NameFromField(const u_char* field, std::size_t width) {
    std::string name;
    for (std::size_t i = 0; i < width && field[i] != 0; ++i) {
        name.push_back(static_cast<char>(field[i] & 0x7F));
        if (field[i] & 0x80) break;
    }
    return name;
}

namespace {

unsigned char fold_case(unsigned char c) { return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c; }

}  // namespace

bool NameFieldEquals(const u_char* field, std::size_t width, const std::string& name) {
    std::size_t i = 0;
    for (; i < width && field[i] != 0; ++i) {
        if (i >= name.size() || fold_case(field[i] & 0x7F) != fold_case(static_cast<unsigned char>(name[i])))
            return false;
        if (field[i] & 0x80) return i + 1 == name.size();
    }
    return i == name.size();
}

bool NameEquals(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

}  // namespace rbf

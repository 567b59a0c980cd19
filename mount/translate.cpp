#include "mount/translate.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "misc/os9_record.h"
#include "os9conv.h"
#include "os9path.h"

namespace dv::mount {

namespace {

struct mapping {
    rbf::error_code disk;
    int host;
};

constexpr mapping kErrors[] = {
    {rbf::E_SUCCESS, 0},      {rbf::E_PNNF, ENOENT},   {rbf::E_CEF, EEXIST},    {rbf::E_FULL, ENOSPC},
    {rbf::E_FNA, EACCES},     {rbf::E_SLF, EFBIG},     {rbf::E_BPNAM, EINVAL},  {rbf::E_ILLARG, EINVAL},
    {rbf::E_ISDIR, EISDIR},   {rbf::E_BUSY, EBUSY},
};

}  // namespace

int host_errno(rbf::error_code ec) {
    for (const mapping& m : kErrors)
        if (m.disk == ec) return m.host;
    return EIO;
}

int name_fault(const std::string& name) {
    if (name.size() > rbf::NAME_FIELD) return ENAMETOOLONG;
    if (name.empty() || name == "." || name == ".." || rbf::_os9_ok_filename(name)) return EINVAL;
    return 0;
}

int lookup_fault(const std::string& in_image) {
    std::size_t start = 0;
    while (start <= in_image.size()) {
        std::size_t end = in_image.find('/', start);
        if (end == std::string::npos) end = in_image.size();
        const std::string piece = in_image.substr(start, end - start);
        if (piece.size() > rbf::NAME_FIELD) return ENAMETOOLONG;
        // A name on the disk is looked up whatever its characters (the
        // rules of a new name do not apply); none holds a byte with bit 7.
        for (unsigned char c : piece)
            if (c & 0x80) return ENOENT;
        start = end + 1;
    }
    return 0;
}

std::string in_image(const char* host_path) {
    std::string p = host_path ? host_path : "";
    const std::size_t first = p.find_first_not_of('/');
    if (first == std::string::npos) return std::string();
    p = p.substr(first);
    while (!p.empty() && p.back() == '/') p.pop_back();
    return p;
}

mode_t mode_of(rbf::u_char att) {
    mode_t m = (att & rbf::ATT_DIR) ? S_IFDIR : S_IFREG;
    if (att & rbf::ATT_READ) m |= S_IRUSR;
    if (att & rbf::ATT_WRITE) m |= S_IWUSR;
    if (att & rbf::ATT_EXEC) m |= S_IXUSR;
    if (att & rbf::ATT_PREAD) m |= S_IRGRP | S_IROTH;
    if (att & rbf::ATT_PWRITE) m |= S_IWGRP | S_IWOTH;
    if (att & rbf::ATT_PEXEC) m |= S_IXGRP | S_IXOTH;
    return m;
}

rbf::u_char attributes_of(mode_t mode) {
    rbf::u_char a = 0;
    if (mode & S_IRUSR) a |= rbf::ATT_READ;
    if (mode & S_IWUSR) a |= rbf::ATT_WRITE;
    if (mode & S_IXUSR) a |= rbf::ATT_EXEC;
    if (mode & S_IROTH) a |= rbf::ATT_PREAD;
    if (mode & S_IWOTH) a |= rbf::ATT_PWRITE;
    if (mode & S_IXOTH) a |= rbf::ATT_PEXEC;
    return a;
}

std::time_t time_of(const rbf::u_char* d, std::time_t unknown) {
    std::time_t when = unknown;
    rbf::OS9TimeToUnix(d, &when);
    return when;
}

std::string xattr_names(const rbf::os9_stat& st) {
    std::string names;
    for (const auto& [name, text] : record_texts(record_of(st))) {
        names += name;
        names += '\0';
    }
    return names;
}

int xattr_value(const rbf::os9_stat& st, const std::string& name, std::string* value) {
    for (const auto& [shown, text] : record_texts(record_of(st)))
        if (shown == name) {
            *value = text;
            return 0;
        }
    return ENODATA;
}

int xattr_reply(const std::string& value, char* buf, std::size_t size) {
    if (size == 0) return static_cast<int>(value.size());
    if (value.size() > size) return -ERANGE;
    std::memcpy(buf, value.data(), value.size());
    return static_cast<int>(value.size());
}

}  // namespace dv::mount

#include "misc/host_attributes.h"

#include <sys/xattr.h>

#include <cerrno>

namespace dv {

namespace {

// The values are short: a longer one is none of ours.
constexpr std::size_t MOST = 32;

template <typename Set>
int write_texts(const os9_record& r, Set set) {
    for (const auto& [name, text] : record_texts(r))
        if (set(name.c_str(), text.data(), text.size()) != 0) return errno;
    return 0;
}

}  // namespace

os9_record read_host_record(const std::string& path) {
    os9_record r;
    for (const char* name : {XATTR_ATTR, XATTR_OWNER, XATTR_CREATED}) {
        char value[MOST];
        const ssize_t n = getxattr(path.c_str(), name, value, sizeof value);
        if (n >= 0) read_record_text(name, std::string_view(value, static_cast<std::size_t>(n)), &r);
    }
    return r;
}

int write_host_record(int fd, const os9_record& r) {
    return write_texts(r, [fd](const char* name, const char* value, std::size_t size) {
        return fsetxattr(fd, name, value, size, 0);
    });
}

int write_host_record(const std::string& path, const os9_record& r) {
    return write_texts(r, [&path](const char* name, const char* value, std::size_t size) {
        return setxattr(path.c_str(), name, value, size, 0);
    });
}

bool keeps_no_attributes(int e) { return e == ENOTSUP || e == EOPNOTSUPP; }

error_code keep_record(const endpoint& e, const os9_record& r, bool* unkept) {
    if (e.stdio) return rbf::E_SUCCESS;
    if (e.on_host()) {
        const int failed = write_host_record(e.path, r);
        if (keeps_no_attributes(failed)) {
            *unkept = true;
            return rbf::E_SUCCESS;
        }
        return failed ? host_error(failed) : rbf::E_SUCCESS;
    }
    const std::string in = e.path.empty() ? "." : e.path;
    if (r.owner)
        if (error_code ec = rbf::_os9_set_owner(e.image, in, *r.owner)) return ec;
    if (r.created)
        if (error_code ec = rbf::_os9_set_created(e.image, in, *r.created)) return ec;
    if (r.attributes) {
        const auto bits = static_cast<rbf::u_char>(*r.attributes & ~rbf::ATT_DIR);
        rbf::u_char now = 0;
        if (error_code ec = rbf::_os9_set_attributes(e.image, in, bits, static_cast<rbf::u_char>(~*r.attributes & ~rbf::ATT_DIR), &now))
            return ec;
    }
    return rbf::E_SUCCESS;
}

}  // namespace dv

// The translations a mounted image makes between the disk's numbers and
// the host's: error numbers, names and permission bits.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>

#include "mount/translate.h"

using namespace dv::mount;

TEST(MountTranslate, ErrorNumbersBecomeHostErrors) {
    const std::pair<int, int> cases[] = {
        {0, 0},        {216, ENOENT}, {218, EEXIST}, {248, ENOSPC}, {214, EACCES}, {217, EFBIG},
        {215, EINVAL}, {187, EINVAL}, {192, EISDIR}, {253, EBUSY},
        // A general failure, a damaged disk, and numbers the disk does not use.
        {1, EIO},      {249, EIO},    {241, EIO},    {211, EIO},    {2, EIO},      {-3, EIO},
    };
    for (const auto& [disk, host] : cases) EXPECT_EQ(host_errno(disk), host) << "error " << disk;
}

TEST(MountTranslate, NamesTheDiskCanHold) {
    const std::pair<std::string, int> cases[] = {
        {"a", 0},          {"Read.Me_2", 0},      {std::string(29, 'x'), 0},  {std::string(30, 'x'), ENAMETOOLONG},
        {"a-b", 0},        {"$x$", 0},            {"x-", 0},                  {"-ab", EINVAL},
        {"", EINVAL},      {".", EINVAL},         {"..", EINVAL},
        {"a b", EINVAL},   {"caf\xc3\xa9", EINVAL}, {"x/y", EINVAL},          {std::string(40, '-'), ENAMETOOLONG},
    };
    for (const auto& [name, fault] : cases) EXPECT_EQ(name_fault(name), fault) << "'" << name << "'";
}

TEST(MountTranslate, LookupsOfNamesNoDiskHolds) {
    const std::pair<std::string, int> cases[] = {
        {"", 0},           {"A/b/c.txt", 0},          {"A/.fuse_hidden00000001", 0},
        {"A/b-c", 0},      {"$a/-b", 0},              {"a b/c", 0},  // a disk may hold what no new name may
        {"A/caf\xc3\xa9", ENOENT},                    {"A/" + std::string(29, 'y') + "/c", 0},
        {"A/" + std::string(30, 'y') + "/c", ENAMETOOLONG},
    };
    for (const auto& [path, fault] : cases) EXPECT_EQ(lookup_fault(path), fault) << "'" << path << "'";
    EXPECT_EQ(in_image("/"), "");
    EXPECT_EQ(in_image("/A/b"), "A/b");
    EXPECT_EQ(in_image("//A/b/"), "A/b");
}

TEST(MountTranslate, AttributesAndPermissionBitsBothWays) {
    // Attributes, the mode shown, and the attributes that mode gives back.
    const std::tuple<rbf::u_char, mode_t, rbf::u_char> cases[] = {
        {0x00, S_IFREG | 0000, 0x00},  {0x03, S_IFREG | 0600, 0x03},  {0x1B, S_IFREG | 0666, 0x1B},
        {0x0B, S_IFREG | 0644, 0x0B},  {0x3F, S_IFREG | 0777, 0x3F},  {0xBF, S_IFDIR | 0777, 0x3F},
        {0xC7, S_IFDIR | 0700, 0x07},  {0x2D, S_IFREG | 0555, 0x2D},
    };
    for (const auto& [att, mode, back] : cases) {
        SCOPED_TRACE(static_cast<int>(att));
        EXPECT_EQ(mode_of(att), mode);
        EXPECT_EQ(attributes_of(mode), back);
    }
    // The group's bits are not kept; the others' are the public ones.
    EXPECT_EQ(attributes_of(0640), rbf::ATT_READ | rbf::ATT_WRITE);
    EXPECT_EQ(attributes_of(0604), rbf::ATT_READ | rbf::ATT_WRITE | rbf::ATT_PREAD);
}

// A mounted file's extended attributes: the names listxattr gives, each
// value getxattr gives, and the size protocol of both.
TEST(MountTranslate, ExtendedAttributesOfAFile) {
    rbf::os9_stat st;
    st.attributes = 0xBF;
    st.owner = 12;
    st.created[0] = 125, st.created[1] = 7, st.created[2] = 1;
    EXPECT_EQ(xattr_names(st), std::string("user.os9.attr\0user.os9.owner\0user.os9.created\0", 46));
    const std::pair<std::string, std::string> values[] = {
        {"user.os9.attr", "d-ewrewr"}, {"user.os9.owner", "12"}, {"user.os9.created", "2025-07-01"}};
    for (const auto& [name, want] : values) {
        std::string got;
        EXPECT_EQ(xattr_value(st, name, &got), 0) << name;
        EXPECT_EQ(got, want) << name;
    }
    std::string none;
    for (const char* name : {"user.os9", "user.os9.attrs", ""})
        EXPECT_EQ(xattr_value(st, name, &none), ENODATA) << name;
    // A creation date no clock can show is neither listed nor given.
    st.created[1] = 0;
    EXPECT_EQ(xattr_names(st), std::string("user.os9.attr\0user.os9.owner\0", 29));
    EXPECT_EQ(xattr_value(st, "user.os9.created", &none), ENODATA);

    char buf[8];
    EXPECT_EQ(xattr_reply("--e--e-r", buf, 0), 8);  // the length only
    EXPECT_EQ(xattr_reply("--e--e-r", buf, 7), -ERANGE);
    EXPECT_EQ(xattr_reply("--e--e-r", buf, 8), 8);
    EXPECT_EQ(std::string(buf, 8), "--e--e-r");
}

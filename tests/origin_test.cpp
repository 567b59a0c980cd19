// Owners and creation dates: what _os9_put_file gives a new file, and
// _os9_set_owner / _os9_set_created, which change those bytes of an FD and
// nothing else of the image.
#include <gtest/gtest.h>

#include <ctime>
#include <optional>

#include "test_support.h"

namespace {

using dvtest::bytes;
using dvtest::ImageBuilder;
using dvtest::MemImage;

using date3 = std::array<unsigned char, 3>;

int fd_of(const rbf::image_ref& image, const std::string& in) {
    rbf::os9_stat st;
    EXPECT_EQ(rbf::_os9_stat_path(image, in, &st), 0) << in;
    return static_cast<int>(st.fd_lsn);
}

unsigned owner_at(const bytes& img, int fd) { return img[fd * 256u + 1] << 8 | img[fd * 256u + 2]; }
date3 created_at(const bytes& img, int fd) { return {img[fd * 256u + 13], img[fd * 256u + 14], img[fd * 256u + 15]}; }

date3 today() {
    const bytes d = dvtest::local_date(std::time(nullptr));
    return {d[0], d[1], d[2]};
}

struct PutCase {
    const char* what;
    std::optional<std::uint16_t> owner;
    std::optional<date3> created;
    bool over_old;  // replaces OLD (owner 77) keeping what it had
    unsigned want_owner;
    std::optional<date3> want_created;  // none: today
};

const PutCase kPuts[] = {
    {"neither: owner 0, made today", std::nullopt, std::nullopt, false, 0, std::nullopt},
    {"an owner", 258, std::nullopt, false, 258, std::nullopt},
    {"a creation date", std::nullopt, date3{86, 3, 4}, false, 0, date3{86, 3, 4}},
    {"both, at the ends of their ranges", 65535, date3{255, 12, 31}, false, 65535, date3{255, 12, 31}},
    {"a replaced file's owner passes on", 5, date3{90, 1, 2}, true, 77, date3{90, 1, 2}},
};

TEST(Origin, PutGivesTheNewFileItsOwnerAndCreationDate) {
    ImageBuilder b;
    const int old = b.add_file(b.root(), "OLD", std::string("old\r"));
    bytes start = b.image();
    start[old * 256u + 2] = 77;
    for (const PutCase& c : kPuts) {
        SCOPED_TRACE(c.what);
        MemImage m(start);
        rbf::put_options o;
        o.owner = c.owner;
        o.created = c.created;
        o.replace = o.keep_replaced = c.over_old;
        const std::string name = c.over_old ? "OLD" : "NEW";
        bool given = false;
        ASSERT_EQ(rbf::_os9_put_file(m.image(), name, o,
                                     [&](unsigned char* buf, std::size_t, std::size_t* got) {
                                         *got = given ? 0 : 1;
                                         buf[0] = 'x';
                                         given = true;
                                         return rbf::E_SUCCESS;
                                     }),
                  0);
        const bytes img = m.get();
        const int fd = fd_of(m.image(), name);
        EXPECT_EQ(owner_at(img, fd), c.want_owner);
        EXPECT_EQ(created_at(img, fd), c.want_created.value_or(today()));
        EXPECT_EQ(dvtest::check_tree(img), std::vector<std::string>{});
    }
}

TEST(Origin, SettersChangeOnlyTheirBytes) {
    ImageBuilder b;
    b.add_dir(b.root(), "DIR");
    b.add_file(b.root(), "F", std::string("f\r"), 0x00);  // no attribute asks for it to be written
    for (const char* in : {"F", "DIR", "."}) {
        SCOPED_TRACE(in);
        MemImage m(b.image());
        const int fd = fd_of(m.image(), in);
        bytes want = m.get();
        ASSERT_EQ(rbf::_os9_set_owner(m.image(), in, 0x1234), 0);
        want[fd * 256u + 1] = 0x12, want[fd * 256u + 2] = 0x34;
        EXPECT_EQ(m.get(), want);
        ASSERT_EQ(rbf::_os9_set_created(m.image(), in, date3{99, 12, 31}), 0);
        want[fd * 256u + 13] = 99, want[fd * 256u + 14] = 12, want[fd * 256u + 15] = 31;
        EXPECT_EQ(m.get(), want);
    }
    MemImage m(b.image());
    EXPECT_EQ(rbf::_os9_set_owner(m.image(), "MISSING", 1), 216);
    EXPECT_EQ(rbf::_os9_set_created(m.image(), "DIR/MISSING", date3{1, 1, 1}), 216);
    EXPECT_EQ(m.get(), b.image());
}

}  // namespace

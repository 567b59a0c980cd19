// _os9_set_owner and _os9_set_created change those bytes of an FD and
// nothing else of the image, whatever the file's attributes say.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

TEST(Origin, SettersChangeOnlyTheirBytes) {
    dvtest::ImageBuilder b;
    b.add_dir(b.root(), "DIR");
    b.add_file(b.root(), "F", std::string("f\r"), 0x00);  // no attribute lets it be written
    for (const char* in : {"F", "DIR", "."}) {
        SCOPED_TRACE(in);
        dvtest::MemImage m(b.image());
        rbf::os9_stat st;
        ASSERT_EQ(rbf::_os9_stat_path(m.image(), in, &st), 0);
        const std::size_t fd = st.fd_lsn * 256u;
        dvtest::bytes want = m.get();
        ASSERT_EQ(rbf::_os9_set_owner(m.image(), in, 0x1234), 0);
        want[fd + 1] = 0x12, want[fd + 2] = 0x34;
        EXPECT_EQ(m.get(), want);
        ASSERT_EQ(rbf::_os9_set_created(m.image(), in, {99, 12, 31}), 0);
        want[fd + 13] = 99, want[fd + 14] = 12, want[fd + 15] = 31;
        EXPECT_EQ(m.get(), want);
    }
    dvtest::MemImage m(b.image());
    EXPECT_EQ(rbf::_os9_set_owner(m.image(), "MISSING", 1), 216);
    EXPECT_EQ(rbf::_os9_set_created(m.image(), "DIR/MISSING", {1, 1, 1}), 216);
    EXPECT_EQ(m.get(), b.image());
}

}  // namespace

// Renaming inside a directory: the clashes that keep the entry as it was.
#include <gtest/gtest.h>

#include <string>

#include "image_builder.h"
#include "os9disk.h"
#include "test_support.h"

namespace {

using dvtest::ImageBuilder;
using dvtest::MemImage;

TEST(Rename, ClashesAreRefusedAndACaseChangeIsNone) {
    struct Case {
        const char* what;
        bool twice;  // the directory holds "a" twice (damaged)
        const char* from;
        const char* to;
        rbf::error_code ec;
    } cases[] = {
        {"new name", false, "a", "c", 0},
        {"letter case of itself", false, "a", "A", 0},
        {"name of another entry", false, "a", "B", rbf::E_CEF},
        {"missing", false, "x", "y", rbf::E_PNNF},
        {"letter case, the name held twice", true, "a", "A", rbf::E_CEF},
        {"other name, the old one held twice", true, "a", "c", 0},
    };
    for (const Case& c : cases) {
        ImageBuilder b;
        const int a = b.add_file(b.root(), "a", std::string("1"));
        b.add_file(b.root(), "b", std::string("2"));
        if (c.twice) b.add_entry(b.root(), "a", a);
        MemImage m(b.image());
        EXPECT_EQ(rbf::_os9_rename(m.image(), c.from, c.to), c.ec) << c.what;
        if (c.ec != 0) {
            EXPECT_EQ(m.get(), b.image()) << c.what;
        }
    }
}

}  // namespace

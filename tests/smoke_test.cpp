#include <gtest/gtest.h>

#include "image_builder.h"
#include "os9path.h"
#include "tree_check.h"

TEST(Smoke, BuilderImageIsConsistent) {
    dvtest::ImageBuilder b;
    int dir = b.add_dir(b.root(), "DIR");
    b.add_file(dir, "readme", std::string("hello\rworld\r"));
    EXPECT_TRUE(dvtest::check_tree(b.image()).empty());
}

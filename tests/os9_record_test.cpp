// The text of the user.os9.* extended attributes: which texts read back are
// taken (anything else is left out, whoever wrote it), and every record
// written reads back as it was.
#include <gtest/gtest.h>

#include "misc/os9_record.h"

namespace {

using dv::os9_record;

struct Reading {
    const char* name;
    std::string text;
    os9_record want;  // what the reading adds to an empty record; empty: refused
};

os9_record att(rbf::u_char a) { return {a, std::nullopt, std::nullopt}; }
os9_record own(std::uint16_t o) { return {std::nullopt, o, std::nullopt}; }
os9_record made(rbf::u_char y, rbf::u_char m, rbf::u_char d) {
    return {std::nullopt, std::nullopt, std::array<rbf::u_char, 3>{y, m, d}};
}

// One row for each way a text is taken or refused.
const Reading kReadings[] = {
    {"user.os9.attr", "--e--e-r", att(0x25)},     {"user.os9.attr", "dsewrewr", att(0xFF)},
    {"user.os9.attr", "--e--e-r\n", {}},          {"user.os9.attr", "--r--e-e", {}},  // a letter out of its place
    {"user.os9.owner", "0", own(0)},              {"user.os9.owner", "65535", own(65535)},
    {"user.os9.owner", "00042", own(42)},         {"user.os9.owner", "65536", {}},
    {"user.os9.owner", "000042", {}},             {"user.os9.owner", "-1", {}},
    {"user.os9.owner", "", {}},                   {"user.os9.created", "1900-01-01", made(0, 1, 1)},
    {"user.os9.created", "2155-12-31", made(255, 12, 31)}, {"user.os9.created", "1899-12-31", {}},
    {"user.os9.created", "2156-01-01", {}},       {"user.os9.created", "1986-13-04", {}},
    {"user.os9.created", "1986-03-00", {}},       {"user.os9.created", "1986-3-4", {}},
    {"user.os9.created", "1986/03/04", {}},       {"user.os9.other", "1", {}},
};

TEST(Os9Record, TextsReadBack) {
    for (const Reading& r : kReadings) {
        SCOPED_TRACE(std::string(r.name) + " = '" + r.text + "'");
        os9_record got;
        EXPECT_EQ(dv::read_record_text(r.name, r.text, &got), !r.want.empty());
        EXPECT_EQ(got.attributes, r.want.attributes);
        EXPECT_EQ(got.owner, r.want.owner);
        EXPECT_EQ(got.created, r.want.created);
    }
}

TEST(Os9Record, EveryRecordWrittenReadsBack) {
    for (int a = 0; a < 256; ++a) {
        for (const auto& [owner, year] : {std::pair{0, 0}, std::pair{65535, 255}}) {
            rbf::os9_stat st;
            st.attributes = static_cast<rbf::u_char>(a);
            st.owner = static_cast<std::uint32_t>(owner);
            st.created[0] = static_cast<rbf::u_char>(year), st.created[1] = 12, st.created[2] = 31;
            const os9_record r = dv::record_of(st);
            os9_record back;
            for (const auto& [name, text] : dv::record_texts(r)) EXPECT_TRUE(dv::read_record_text(name, text, &back));
            EXPECT_EQ(back.attributes, r.attributes);
            EXPECT_EQ(back.owner, r.owner);
            EXPECT_EQ(back.created, r.created);
        }
    }
}

}  // namespace

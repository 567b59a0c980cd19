// The text an OS-9 record travels as in host extended attributes: what is
// written, and which texts read back are taken (anything else is left
// out, whoever wrote it).
#include <gtest/gtest.h>

#include <string>

#include "misc/os9_record.h"

namespace {

using dv::os9_record;

TEST(Os9Record, TextsOfARecord) {
    rbf::os9_stat st;
    st.attributes = 0x25;
    st.owner = 65535;
    st.created[0] = 86, st.created[1] = 3, st.created[2] = 4;
    const auto texts = dv::record_texts(dv::record_of(st));
    const std::vector<std::pair<std::string, std::string>> want = {
        {"user.os9.attr", "--e--e-r"}, {"user.os9.owner", "65535"}, {"user.os9.created", "1986-03-04"}};
    EXPECT_EQ(texts, want);
    // A creation date no clock wrote ($A5 filled sectors) is not shown.
    st.created[0] = st.created[1] = st.created[2] = 0xA5;
    EXPECT_FALSE(dv::record_of(st).created);
    EXPECT_EQ(dv::record_texts(dv::record_of(st)).size(), 2u);
}

struct Reading {
    const char* name;
    std::string text;
    bool taken;
    os9_record want;  // what the reading adds to an empty record
};

os9_record att(rbf::u_char a) { return {a, std::nullopt, std::nullopt}; }
os9_record own(std::uint16_t o) { return {std::nullopt, o, std::nullopt}; }
os9_record made(int year, int month, int day) {
    return {std::nullopt, std::nullopt,
            std::array<rbf::u_char, 3>{static_cast<rbf::u_char>(year - 1900), static_cast<rbf::u_char>(month),
                                       static_cast<rbf::u_char>(day)}};
}

const Reading kReadings[] = {
    {"user.os9.attr", "--e--e-r", true, att(0x25)},
    {"user.os9.attr", "dsewrewr", true, att(0xFF)},
    {"user.os9.attr", "--------", true, att(0x00)},
    {"user.os9.attr", "--e--e-", false, {}},
    {"user.os9.attr", "--e--e-r\n", false, {}},
    {"user.os9.attr", "--E--e-r", false, {}},
    {"user.os9.attr", "--r--e-e", false, {}},  // a letter out of its place
    {"user.os9.attr", std::string("--e--e-\0", 8), false, {}},
    {"user.os9.attr", "", false, {}},
    {"user.os9.owner", "0", true, own(0)},
    {"user.os9.owner", "65535", true, own(65535)},
    {"user.os9.owner", "00042", true, own(42)},
    {"user.os9.owner", "65536", false, {}},
    {"user.os9.owner", "000042", false, {}},
    {"user.os9.owner", "-1", false, {}},
    {"user.os9.owner", "+1", false, {}},
    {"user.os9.owner", " 1", false, {}},
    {"user.os9.owner", "12a", false, {}},
    {"user.os9.owner", "$12", false, {}},
    {"user.os9.owner", "", false, {}},
    {"user.os9.created", "1986-03-04", true, made(1986, 3, 4)},
    {"user.os9.created", "1900-01-01", true, made(1900, 1, 1)},
    {"user.os9.created", "2155-12-31", true, made(2155, 12, 31)},
    {"user.os9.created", "1899-12-31", false, {}},
    {"user.os9.created", "2156-01-01", false, {}},
    {"user.os9.created", "1986-13-04", false, {}},
    {"user.os9.created", "1986-00-04", false, {}},
    {"user.os9.created", "1986-03-00", false, {}},
    {"user.os9.created", "1986-03-32", false, {}},
    {"user.os9.created", "1986-3-4", false, {}},
    {"user.os9.created", "1986/03/04", false, {}},
    {"user.os9.created", "1986-03-04 ", false, {}},
    {"user.os9.other", "1", false, {}},
    {"user.os9", "--e--e-r", false, {}},
};

TEST(Os9Record, TextsReadBack) {
    for (const Reading& r : kReadings) {
        SCOPED_TRACE(std::string(r.name) + " = '" + r.text + "'");
        os9_record got;
        EXPECT_EQ(dv::read_record_text(r.name, r.text, &got), r.taken);
        EXPECT_EQ(got.attributes, r.want.attributes);
        EXPECT_EQ(got.owner, r.want.owner);
        EXPECT_EQ(got.created, r.want.created);
    }
}

// What is written reads back as it was, for every attribute byte and the
// owners and dates at the ends of their ranges.
TEST(Os9Record, EveryRecordWrittenReadsBack) {
    for (int a = 0; a < 256; ++a) {
        for (const auto& [owner, year] : {std::pair{0, 0}, std::pair{1, 86}, std::pair{65535, 255}}) {
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

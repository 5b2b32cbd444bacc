#include "link/func.h"

#include <gtest/gtest.h>

namespace zp {
namespace {

TEST(ByteToHex, UpperCaseTwoDigits) {
    const std::pair<uint8_t, const char*> cases[] = {{0x00, "00"}, {0x05, "05"}, {0x31, "31"},
                                                     {0xA0, "A0"}, {0xAB, "AB"}, {0xFF, "FF"}};
    for (const auto& [b, text] : cases) {
        EXPECT_EQ(ByteToHex(b), text) << int(b);
    }
}

TEST(FormatSigned4, Table) {
    const std::pair<int16_t, const char*> cases[] = {
        {0, "0000"},
        {5, "0005"},
        {9999, "9999"},
        {10000, "-000"},
        {10999, "-999"},
        {-5, "-005"},
        {-999, "-999"},
        {-1000, "-000"},
        {-1234, "-234"},
        {-32768, "-768"},
        {1954, "1954"},
        {250, "0250"},
        // Our choice above the four-character range: the lead stays the minus sign.
        {11000, "-000"},
        {12345, "-345"},
        {32767, "-767"},
    };
    for (const auto& [v, text] : cases) {
        EXPECT_EQ(FormatSigned4(v), text) << v;
    }
}

TEST(FormatSigned4, AlwaysFourCharactersFromTheTable) {
    for (int v = -32768; v <= 32767; ++v) {
        const std::string t = FormatSigned4(static_cast<int16_t>(v));
        ASSERT_EQ(t.size(), 4u) << v;
        for (char c : t) {
            ASSERT_NE(std::string("0123456789-").find(c), std::string::npos) << v;
        }
    }
}

TEST(ParseSigned4, Table) {
    const std::pair<const char*, int32_t> cases[] = {
        {"0123", 123},   {"9999", 9999}, {"12345", 1234}, {"-005", 65531}, {"-999", 64537},
        {"-000", 65536}, {"0000", 0},    {"12a4", 0},     {"+123", 0},     {" 123", 0},
        {"-1-2", 0},     {"-12", 0},     {"", 0},         {"123", 0},      {"-12a", 0},
    };
    for (const auto& [t, v] : cases) {
        EXPECT_EQ(ParseSigned4(t), v) << '"' << t << '"';
    }
}

TEST(ParseSigned4, RoundTripsEveryFourCharacterText) {
    for (int v = 0; v <= 9999; ++v) {
        const std::string t = FormatSigned4(static_cast<int16_t>(v));
        ASSERT_EQ(FormatSigned4(static_cast<int16_t>(ParseSigned4(t))), t);
    }
    for (int v = 1; v <= 999; ++v) {
        const std::string t = FormatSigned4(static_cast<int16_t>(-v));
        ASSERT_EQ(FormatSigned4(static_cast<int16_t>(ParseSigned4(t))), t);
    }
}

// The lens and position pages step a field by one, taken to 16 bits.
TEST(Signed4Step, Table) {
    struct Row {
        const char* field;
        const char* minus;
        const char* plus;
    };
    const Row rows[] = {
        {"0000", "-001", "0001"}, {"-001", "-002", "0000"}, {"-999", "-000", "-998"},
        {"-000", "-001", "0001"}, {"9999", "9998", "-000"},
    };
    for (const Row& r : rows) {
        const int32_t v = ParseSigned4(r.field);
        EXPECT_EQ(FormatSigned4(static_cast<int16_t>(static_cast<uint16_t>(v - 1))), r.minus)
            << r.field;
        EXPECT_EQ(FormatSigned4(static_cast<int16_t>(static_cast<uint16_t>(v + 1))), r.plus)
            << r.field;
    }
}

}  // namespace
}  // namespace zp

#include "formats/DdpControlCipher.h"
#include "formats/DdpRecords.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(DdpRecords, RefuseFieldTablesAndContentsThatBreakTheRecordLength)
{
    struct Case
    {
        const char* label;
        std::vector<DdpRecords::Field> fields;
        bool ok;
    };
    const std::vector<Case> cases{
        {"exact", {{0, 2, "a", "AB"}, {2, 3, "b", "CDE"}}, true},
        {"gap", {{0, 2, "a", "AB"}, {3, 2, "b", "CD"}}, false},
        {"overlap", {{0, 3, "a", "ABC"}, {2, 3, "b", "CDE"}}, false},
        {"short of the end", {{0, 2, "a", "AB"}, {2, 2, "b", "CD"}}, false},
        {"content too wide", {{0, 2, "a", "ABC"}, {2, 3, "b", "CDE"}}, false},
        {"content too narrow", {{0, 2, "a", "A"}, {2, 3, "b", "CDE"}}, false},
        {"not ASCII", {{0, 2, "a", juce::String::fromUTF8("\xc3\xa9")}, {2, 3, "b", "CDE"}}, false},
    };
    for (const auto& c : cases)
    {
        juce::MemoryBlock out("x", 1);
        const auto result = DdpRecords::append(out, "TEST", 5, c.fields);
        EXPECT_EQ(result.wasOk(), c.ok) << c.label;
        EXPECT_EQ(out.getSize(), c.ok ? 6u : 1u) << c.label;
    }

    juce::MemoryBlock out;
    const auto tooLong = DdpRecords::appendPqEntry(out, {"100", "01", 0, "01", {}, {}});
    EXPECT_TRUE(tooLong.failed());
    EXPECT_TRUE(tooLong.getErrorMessage().contains("\"100\"")) << tooLong.getErrorMessage();
    EXPECT_EQ(out.getSize(), 0u);
}

TEST(DdpControlCipher, StandardBlowfishOnLittleEndianWordsLeavingTheTailPlain)
{
    // Schneier's vector: key "abcdefghijklmnopqrstuvwxyz", plaintext 0x424c4f57 0x46495348
    // enciphers to 0x324ed0fe 0xf413a203; here each word is stored little-endian.
    const juce::String key = "abcdefghijklmnopqrstuvwxyz";
    const juce::BlowFish cipher(key.toRawUTF8(), key.length());
    const unsigned char plain[] = {0x57, 0x4f, 0x4c, 0x42, 0x48, 0x53, 0x49, 0x46};
    const unsigned char expected[] = {0xfe, 0xd0, 0x4e, 0x32, 0x03, 0xa2, 0x13, 0xf4};

    for (size_t tail = 0; tail <= 7; ++tail)
    {
        SCOPED_TRACE("tail of " + std::to_string(tail));
        juce::MemoryBlock data(plain, sizeof(plain));
        const std::string tailText = std::string("1234567").substr(0, tail);
        data.append(tailText.data(), tail);

        DdpControlCipher::encipher(data, cipher);
        ASSERT_EQ(data.getSize(), 8 + tail);
        EXPECT_EQ(0, std::memcmp(data.getData(), expected, 8));
        EXPECT_EQ(std::string(static_cast<const char*>(data.getData()) + 8, tail), tailText);

        DdpControlCipher::decipher(data, cipher);
        EXPECT_EQ(0, std::memcmp(data.getData(), plain, 8));
        EXPECT_EQ(std::string(static_cast<const char*>(data.getData()) + 8, tail), tailText);
    }
}

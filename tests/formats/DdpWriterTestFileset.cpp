#include "DdpWriterTestSupport.h"

using namespace ddptest;

namespace
{
// One expected field of a fixed-width record.
struct Expected
{
    int offset;
    int width;
    std::string value;
};
using Table = std::vector<Expected>;

std::string sp(int n)
{
    return std::string(static_cast<size_t>(n), ' ');
}

std::string right(const std::string& text, int width)
{
    return sp(width - static_cast<int>(text.size())) + text;
}

std::string two(int value)
{
    char text[8];
    std::snprintf(text, sizeof(text), "%02d", value);
    return text;
}

std::string eight(long value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%08ld", value);
    return text;
}

// Checks a record against its table; the table itself must tile the record.
void expectRecord(const std::string& record, const Table& table, const std::string& label)
{
    SCOPED_TRACE(label);
    int end = 0;
    for (const auto& field : table)
    {
        ASSERT_EQ(field.offset, end) << "table gap or overlap";
        ASSERT_EQ(static_cast<int>(field.value.size()), field.width)
            << "table value width at " << field.offset;
        end += field.width;
    }
    ASSERT_EQ(static_cast<int>(record.size()), end);
    for (const auto& field : table)
        EXPECT_EQ(record.substr(static_cast<size_t>(field.offset), static_cast<size_t>(field.width)),
                  field.value)
            << "field at offset " << field.offset;
}

// A PQ descriptor entry; start in frames.
Table pqEntry(const std::string& track, const std::string& index, int start, const std::string& control,
              const std::string& isrc = {}, const std::string& mcn = {})
{
    return {{0, 4, "VVVS"},
            {4, 2, track},
            {6, 2, index},
            {8, 2, sp(2)},
            {10, 2, two(start / 4500)},
            {12, 2, two(start % 4500 / 75)},
            {14, 2, two(start % 75)},
            {16, 2, control},
            {18, 2, sp(2)},
            {20, 12, right(isrc, 12)},
            {32, 13, right(mcn, 13)},
            {45, 19, sp(19)}};
}

struct Packet
{
    std::string type, length, start, subcode, mode, storage, scrambling, pregap2, track, identifier, session;
};

Table mapPacket(const Packet& p)
{
    return {{0, 4, "VVVM"},        {4, 2, p.type},         {6, 8, sp(8)},      {14, 8, p.length},
            {22, 8, p.start},      {30, 8, p.subcode},     {38, 2, p.mode},    {40, 1, p.storage},
            {41, 1, p.scrambling}, {42, 4, sp(4)},         {46, 4, p.pregap2}, {50, 4, sp(4)},
            {54, 1, sp(1)},        {55, 2, p.track},       {57, 2, sp(2)},     {59, 12, sp(12)},
            {71, 3, "017"},        {74, 17, p.identifier}, {91, 1, p.session}, {92, 4, sp(4)},
            {96, 8, sp(8)},        {104, 9, sp(9)},        {113, 15, sp(15)}};
}

Packet cdTextPacket(long bytes)
{
    return {"S0", eight(bytes), sp(8), "CDTEXT  ", sp(2), " ", " ", sp(4), "00", "CDTEXT.BIN       ", " "};
}

Packet pqPacket(long bytes)
{
    return {"S0", eight(bytes), sp(8), "PQ DESCR", sp(2), " ", " ", sp(4), sp(2), "PQDESCR          ", " "};
}

Packet audioPacket(const std::string& image, long frames)
{
    return {"D0", eight(frames), "00000000", sp(8), "DA",
            "7",  "0",           "0150",     sp(2), image + sp(17 - (int)image.size()),
            " "};
}

Table identifier(const std::string& mcn, const std::string& book)
{
    return {{0, 8, "DDP 2.00"}, {8, 13, right(mcn, 13)}, {21, 8, sp(8)}, {29, 8, sp(8)}, {37, 1, sp(1)},
            {38, 48, sp(48)},   {86, 1, book},           {87, 2, "CD"},  {89, 1, sp(1)}, {90, 1, sp(1)},
            {91, 1, sp(1)},     {92, 1, sp(1)},          {93, 1, sp(1)}, {94, 2, sp(2)}, {96, 32, sp(32)}};
}

std::vector<std::string> records(const std::string& text, size_t length)
{
    std::vector<std::string> result;
    for (size_t pos = 0; pos < text.size(); pos += length)
        result.push_back(text.substr(pos, length));
    return result;
}

juce::BlowFish testCipher()
{
    const char key[] = "writer test key";
    return juce::BlowFish(key, sizeof(key) - 1);
}

// The Base64 text of a file's MD5 digest, computed by md5sum.
juce::String md5Base64(const juce::File& file)
{
    juce::String output;
    runCommand("md5sum '" + file.getFullPathName() + "'", &output);
    juce::MemoryBlock digest;
    digest.loadFromHexString(output.substring(0, 32));
    return juce::Base64::toBase64(digest.getData(), digest.getSize());
}

// A copy of the fileset with the control files deciphered, as the upload sends them.
juce::File plainCopy(const juce::File& folder, const juce::BlowFish& cipher)
{
    const auto copy = makeTestFolder(folder.getFileName() + "-plain");
    for (const auto& file : folder.findChildFiles(juce::File::findFiles, false))
    {
        auto bytes = readBytes(file);
        if (juce::StringArray{"PQDESCR", "DDPMS", "DDPID"}.contains(file.getFileName()))
            bytes = decipher(bytes, cipher);
        copy.getChildFile(file.getFileName()).replaceWithData(bytes.data(), bytes.size());
    }
    return copy;
}
} // namespace

// A one-track disc: 3 s and 100 sample frames of audio (225 frames, 100 left over), after the
// 150-frame first pregap; the disc ends on the padded frame 376.
class OneTrackDisc : public testing::Test
{
protected:
    void SetUp() override
    {
        sources = makeTestFolder("sources");
        audio = noise16(2 * (225 * 588 + 100), 7);
        source = makeSource16(sources, "one", audio);
        disc.indexItems.add(fileItem(1, 1, source, 225 * 588 + 100));
        disc.firstPregap->isrc = "DEABC2400001";
        disc.indexItems[0]->isrc = "X1"; // right-aligned
        disc.indexItems[0]->title = "One";
    }

    CDItem disc;
    juce::BlowFish cipher = testCipher();
    juce::File sources, source;
    std::vector<juce::int64> audio;
};

TEST_F(OneTrackDisc, ImageAndEveryRecordFieldByField)
{
    for (const std::string mcn : {"", "4006381333931"})
    {
        SCOPED_TRACE("MCN '" + mcn + "'");
        disc.mcn = mcn;
        const auto out = makeTestFolder("out" + mcn);
        runWriter(disc, out, cipher);
        ASSERT_TRUE(disc.writeSucceeded) << disc.errorMessage;

        ExpectedImage expected;
        expected.silence(150 * 588);
        expected.stereo(audio);
        expected.padToFrame();
        EXPECT_EQ(out.getChildFile("IMAGE.DAT").getSize(), (150 + 225 + 1) * 2352);
        EXPECT_EQ(firstDifference(readImage(out.getChildFile("IMAGE.DAT")), expected.samples), -1);

        const auto pq = decipher(readBytes(out.getChildFile("PQDESCR")), cipher);
        ASSERT_EQ(pq.size(), 320u);
        const auto entries = records(pq, 64);
        expectRecord(entries[0], pqEntry("00", "00", 0, "01", {}, mcn), "lead-in");
        expectRecord(entries[1], pqEntry("01", "00", 0, "01", "DEABC2400001"), "01/00");
        expectRecord(entries[2], pqEntry("01", "01", 150, "01", "X1"), "01/01");
        expectRecord(entries[3], pqEntry("AA", "01", 376, "01"), "audio lead-out");
        expectRecord(entries[4], pqEntry("AA", "01", 376, "01"), "final lead-out");

        const auto map = decipher(readBytes(out.getChildFile("DDPMS")), cipher);
        ASSERT_EQ(map.size(), 256u);
        expectRecord(map.substr(0, 128), mapPacket(pqPacket(320)), "PQ packet");
        expectRecord(map.substr(128), mapPacket(audioPacket("IMAGE.DAT", 376)), "audio packet");

        expectRecord(decipher(readBytes(out.getChildFile("DDPID")), cipher), identifier(mcn, " "), "DDPID");

        // Stored enciphered: whole blocks differ from the text.
        EXPECT_NE(readBytes(out.getChildFile("PQDESCR")).substr(0, 8), pq.substr(0, 8));
        EXPECT_FALSE(out.getChildFile("CDTEXT.BIN").exists());
    }
}

TEST_F(OneTrackDisc, ChecksumListAndFileChecksumsOfPlainControlFilesAndWholeFiles)
{
    for (const bool cdText : {false, true})
    {
        SCOPED_TRACE(cdText ? "with CD-Text" : "without CD-Text");
        const auto out = makeTestFolder(cdText ? "cdtext" : "plain");
        disc.fileChecksums.clear();
        disc.fileChecksums.set("stale", "kept");
        runWriter(disc, out, cipher, cdText);
        ASSERT_TRUE(disc.writeSucceeded) << disc.errorMessage;

        juce::StringArray names{"DDPID", "DDPMS", "PQDESCR", "IMAGE.DAT"};
        if (cdText)
        {
            names.add("CDTEXT.BIN");
            const auto map = decipher(readBytes(out.getChildFile("DDPMS")), cipher);
            ASSERT_EQ(map.size(), 384u);
            expectRecord(map.substr(0, 128),
                         mapPacket(cdTextPacket(out.getChildFile("CDTEXT.BIN").getSize())), "CD-Text packet");
            expectRecord(map.substr(128, 128), mapPacket(pqPacket(320)), "PQ packet");
        }

        const auto plain = plainCopy(out, cipher);
        juce::String expectedList;
        for (const auto& name : names)
        {
            juce::String line;
            runCommand("cd '" + plain.getFullPathName() + "' && md5sum -b " + name, &line);
            expectedList << line.trimEnd() << "\r\n";
            EXPECT_EQ(disc.fileChecksums[name.toLowerCase()], md5Base64(plain.getChildFile(name))) << name;
            EXPECT_EQ(disc.fileChecksums[name.toLowerCase()].length(), 24);
        }
        EXPECT_EQ(readBytes(out.getChildFile("MD5-Checksum.md5")), expectedList.toStdString());
        EXPECT_EQ(disc.fileChecksums.size(), names.size() + 1);
        EXPECT_EQ(disc.fileChecksums["stale"], "kept");

        juce::String output;
        EXPECT_EQ(runCommand("cd '" + plain.getFullPathName() + "' && md5sum -c --strict MD5-Checksum.md5",
                             &output),
                  0)
            << output;
    }
}

TEST(DdpWriter, EnhancedCdWritesTheDataSessionAndItsRecords)
{
    const auto sources = makeTestFolder("sources");
    const auto audio = noise16(2 * 300 * 588, 3);
    const auto wav = makeSource16(sources, "audio", audio);

    const auto tree = makeTestFolder("isotree");
    tree.getChildFile("README.TXT").replaceWithText("Enhanced CD data session\n", false, false, "\n");
    juce::String output;
    ASSERT_EQ(runCommand("genisoimage -quiet -V DATA -o '" + sources.getFullPathName() + "/data.iso' '" +
                             tree.getFullPathName() + "'",
                         &output),
              0)
        << output;
    const auto iso = sources.getChildFile("data.iso");
    const int isoSectors = static_cast<int>(iso.getSize() / 2048);

    CDItem disc;
    disc.indexItems.add(fileItem(1, 1, wav, 300 * 588));
    disc.audioLeadOut->length.frames = 6750;
    disc.dataLeadIn->length.frames = 4500;
    disc.dataItems.add(item(2, 1, isoSectors, iso));
    const auto cipher = testCipher();
    const auto out = makeTestFolder("out");
    runWriter(disc, out, cipher);
    ASSERT_TRUE(disc.writeSucceeded) << disc.errorMessage;

    const int audioEnd = 150 + 300, dataStart = audioEnd + 6750 + 4500;
    ASSERT_EQ(disc.dataItems[0]->start.frames, dataStart);
    EXPECT_FALSE(out.getChildFile("IMAGE.DAT").exists());
    EXPECT_EQ(out.getChildFile("IMAGE01.DAT").getSize(), audioEnd * 2352);
    EXPECT_EQ(out.getChildFile("IMAGE02.DAT").getSize(), iso.getSize());

    const auto entries = records(decipher(readBytes(out.getChildFile("PQDESCR")), cipher), 64);
    ASSERT_EQ(entries.size(), 8u);
    expectRecord(entries[0], pqEntry("00", "00", 0, "01"), "lead-in");
    expectRecord(entries[1], pqEntry("01", "00", 0, "01"), "01/00");
    expectRecord(entries[2], pqEntry("01", "01", 150, "01"), "01/01");
    expectRecord(entries[3], pqEntry("AA", "01", audioEnd, "01"), "audio lead-out");
    expectRecord(entries[4], pqEntry("00", "00", audioEnd + 6750, "41"), "data lead-in");
    expectRecord(entries[5], pqEntry("02", "01", dataStart, "41"), "02/01");
    expectRecord(entries[6], pqEntry("AA", "01", dataStart + isoSectors, "41"), "data lead-out");
    expectRecord(entries[7], pqEntry("AA", "01", dataStart + isoSectors, "41"), "final lead-out");

    const auto map = decipher(readBytes(out.getChildFile("DDPMS")), cipher);
    ASSERT_EQ(map.size(), 384u);
    expectRecord(map.substr(128, 128), mapPacket(audioPacket("IMAGE01.DAT", audioEnd)), "audio packet");
    expectRecord(map.substr(256),
                 mapPacket({"D0", eight(isoSectors), eight(dataStart), sp(8), "10", "0", "0", " 150", sp(2),
                            "IMAGE02.DAT      ", "S"}),
                 "data packet");
    expectRecord(decipher(readBytes(out.getChildFile("DDPID")), cipher), identifier({}, "O"), "DDPID");

    // The data session is rebased to its place on the disc: read from there, its file is intact.
    const auto extracted = sources.getChildFile("readme.out");
    ASSERT_EQ(runCommand("isoinfo -i '" + out.getFullPathName() + "/IMAGE02.DAT' -N " +
                             juce::String(dataStart) + " -x '/README.TXT;1' > '" +
                             extracted.getFullPathName() + "'",
                         &output),
              0)
        << output;
    EXPECT_EQ(extracted.loadFileAsString(), "Enhanced CD data session\n");

    const auto list = juce::StringArray::fromLines(out.getChildFile("MD5-Checksum.md5").loadFileAsString());
    EXPECT_TRUE(list[3].endsWith(" *IMAGE01.DAT"));
    EXPECT_TRUE(list[4].endsWith(" *IMAGE02.DAT"));
    const auto plain = plainCopy(out, cipher);
    EXPECT_EQ(
        runCommand("cd '" + plain.getFullPathName() + "' && md5sum -c --strict MD5-Checksum.md5", &output), 0)
        << output;
    EXPECT_EQ(disc.fileChecksums["image02.dat"], md5Base64(out.getChildFile("IMAGE02.DAT")));
}

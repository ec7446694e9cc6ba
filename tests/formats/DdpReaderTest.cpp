#include "DdpWriterTestSupport.h"

#include "formats/DdpControlCipher.h"
#include "formats/DdpReader.h"
#include "formats/DdpRecords.h"
#include "model/CDItem.h"
#include "model/Renumbering.h"
#include "support/AudioFixtures.h"
#include "support/ScriptedAlerts.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <functional>

// Filesets are written by the writer job of CDItem, read back and compared with the disc that was
// written. Broken filesets are made from good ones: a control file is deciphered, bytes are
// changed and it is enciphered again.
namespace
{
using juce::File;
using juce::String;
using PqField = DdpRecords::PqField;
using MapField = DdpRecords::MapField;
using IdField = DdpRecords::IdField;

constexpr int pqEntry = DdpRecords::pqEntryLength;
constexpr int mapPacket = DdpRecords::mapPacketLength;

juce::BlowFish makeCipher(const String& key)
{
    return juce::BlowFish(key.toRawUTF8(), static_cast<int>(key.getNumBytesAsUTF8()));
}

// A written fileset whose control files a test may change.
struct Fileset
{
    File folder;
    const juce::BlowFish& cipher;

    File file(const String& name) const { return folder.getChildFile(name); }

    std::string plain(const String& name) const
    {
        juce::MemoryBlock data;
        file(name).loadFileAsData(data);
        DdpControlCipher::decipher(data, cipher);
        return data.toString().toStdString();
    }

    void store(const String& name, const std::string& text) const
    {
        juce::MemoryBlock data(text.data(), text.size());
        DdpControlCipher::encipher(data, cipher);
        ASSERT_TRUE(file(name).replaceWithData(data.getData(), data.getSize()));
    }

    void edit(const String& name, const std::function<void(std::string&)>& change) const
    {
        auto text = plain(name);
        change(text);
        store(name, text);
    }

    // Overwrites the field of record `record` (records of recordLength bytes) with text.
    void put(const String& name, int recordLength, int record, DdpRecords::Span span,
             const std::string& text) const
    {
        ASSERT_EQ(static_cast<int>(text.size()), span.width);
        edit(name, [&](std::string& s)
             { s.replace(static_cast<size_t>(record * recordLength + span.offset), text.size(), text); });
    }
};

// What a disc row looks like on the disc, for comparing a disc written with the disc read back.
struct Row
{
    int track;
    int index;
    int start;
    int span;
    String isrc;
    bool operator==(const Row& o) const
    {
        return track == o.track && index == o.index && start == o.start && span == o.span && isrc == o.isrc;
    }
};

std::ostream& operator<<(std::ostream& out, const Row& r)
{
    return out << r.track << "/" << r.index << " at " << r.start << " for " << r.span << " \"" << r.isrc
               << "\"";
}

Row row(const IndexItem& item)
{
    return {item.trackNumber, item.indexNumber, item.start.frames, item.indexOffset + item.length.frames,
            item.isrc};
}

std::vector<Row> rows(const IndexItem::List& items)
{
    std::vector<Row> result;
    for (const auto* item : items)
        result.push_back(row(*item));
    return result;
}

// Row 0 and the audio rows.
std::vector<Row> audioRows(const CDItem& disc)
{
    auto result = rows(disc.indexItems);
    result.insert(result.begin(), row(*disc.firstPregap));
    return result;
}

// 16-bit stereo sample frames of a file: from a WAV through the framework, or raw from an image.
std::vector<juce::int16> wavSamples(const File& wav, juce::int64 fromFrame, int frames)
{
    juce::WavAudioFormat format;
    std::unique_ptr<juce::AudioFormatReader> reader(
        format.createReaderFor(wav.createInputStream().release(), true));
    juce::AudioBuffer<float> buffer(2, frames);
    reader->read(&buffer, 0, frames, fromFrame, true, true);
    std::vector<juce::int16> result;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < 2; ++c)
            result.push_back(static_cast<juce::int16>(juce::roundToInt(buffer.getSample(c, i) * 32768.0f)));
    return result;
}

std::vector<juce::int16> imageSamples(const File& image, juce::int64 fromFrame, int frames)
{
    const auto all = ddptest::readImage(image);
    const auto from = all.begin() + static_cast<long>(fromFrame * 2);
    return {from, from + frames * 2};
}

class DdpReaderTest : public ::testing::Test
{
protected:
    DdpReaderTest() : cipher(makeCipher("the key of this run")) {}

    // Three tracks from files: track 2 has an index 2 point and a length that is not a whole number
    // of frames, tracks 2 and 3 have pauses and index offsets; ISRCs, MCN and CD-Text are set.
    void makeThreeTrackDisc()
    {
        a = makeAudioFile(sources, "a.wav", 588 * 300);
        b = makeAudioFile(sources, "b.wav", 588 * 400 + 100);
        c = makeAudioFile(sources, "c.wav", 588 * 250);
        import({a, b, c});

        auto* trackTwo = disc.indexItems[2].get();
        ASSERT_EQ(trackTwo->trackNumber, 2);
        ASSERT_EQ(trackTwo->indexNumber, 1);
        IndexItem::Ptr indexTwo = new IndexItem(*trackTwo);
        indexTwo->indexNumber = 2;
        indexTwo->indexOffset = 0;
        indexTwo->length.frames = trackTwo->length.frames - 120;
        indexTwo->sourceOffset.frames = 120;
        trackTwo->length.frames = 120;
        trackTwo->remainderSamples = 0;
        disc.indexItems.insert(3, indexTwo);

        disc.firstPregap->isrc = "DEA123400001";
        disc.indexItems[1]->isrc = "DEA123400002";
        disc.indexItems[4]->isrc = "DEA123400003";
        disc.mcn = "4006381333931";
        disc.discTitle = "Reader disc";
        disc.discPerformer = "The Readers";
        disc.indexItems[0]->title = "One";
        disc.indexItems[2]->title = "Two";
        disc.indexItems[5]->title = "Three";
        renumberDisc(disc);
    }

    void import(const std::vector<File>& files)
    {
        int row = disc.getNumRows() + 1;
        String rejected;
        for (const auto& file : files)
            ASSERT_NE(disc.importAudioFile(file.getFullPathName(), row, rejected, 150, 10), 0)
                << file.getFileName();
    }

    // Appends a data session holding an ISO 9660 image made by genisoimage.
    void addDataSession()
    {
        const auto tree = makeTestFolder("iso-tree");
        tree.getChildFile("readme.txt").replaceWithText(String::repeatedString("data session\n", 5000));
        iso = makeTestFolder("iso").getChildFile("data.iso");
        String output;
        ASSERT_EQ(runCommand("genisoimage -quiet -J -o " + iso.getFullPathName().quoted() + " " +
                                 tree.getFullPathName().quoted(),
                             &output),
                  0)
            << output;

        IndexItem::Ptr pause = new IndexItem();
        pause->indexNumber = 0;
        pause->length.frames = 150;
        IndexItem::Ptr data = new IndexItem();
        data->indexNumber = 1;
        data->folder = iso.getParentDirectory().getFullPathName();
        data->fileName = iso.getFileName();
        data->length.frames = static_cast<int>(iso.getSize() / 2048);
        disc.dataItems.add(pause);
        disc.dataItems.add(data);
        disc.audioLeadOut->length.frames = 6750;
        disc.dataLeadIn->length.frames = 4500;
        renumberDisc(disc);
    }

    Fileset write()
    {
        const auto folder = makeTestFolder("fileset-" + String(++filesets));
        ddptest::runWriter(disc, folder, cipher, disc.hasCdText());
        EXPECT_TRUE(disc.writeSucceeded) << disc.errorMessage;
        return {folder, cipher};
    }

    bool read(const Fileset& fileset, juce::BlowFish& key)
    {
        const bool ok = back.readDdpFileset(fileset.folder.getFullPathName(), key);
        renumberDisc(back);
        return ok;
    }

    bool read(const Fileset& fileset) { return read(fileset, cipher); }

    juce::BlowFish cipher;
    File sources = makeTestFolder("sources");
    File a, b, c, iso;
    CDItem disc;
    CDItem back;
    int filesets = 0;
};
} // namespace

TEST_F(DdpReaderTest, ThreeTrackDiscReadsBackIntoTheSameRowsIsrcsMcnAndCdText)
{
    makeThreeTrackDisc();
    const auto fileset = write();
    ScriptedAlerts alerts;

    ASSERT_TRUE(read(fileset));
    EXPECT_TRUE(alerts.records.empty()) << alerts.messages().joinIntoString("\n");

    // Track 1's 150-frame pause is the first pregap again, not an item of its own.
    EXPECT_EQ(audioRows(back), audioRows(disc));
    EXPECT_EQ(back.leadOut->start.frames, disc.leadOut->start.frames);
    EXPECT_EQ(back.mcn, "4006381333931");
    EXPECT_EQ(back.cipher, &cipher);
    EXPECT_TRUE(back.dataItems.isEmpty());

    EXPECT_EQ(back.discTitle, "Reader disc");
    EXPECT_EQ(back.discPerformer, "The Readers");
    juce::StringArray titles;
    for (auto* item : back.indexItems)
        if (item->indexNumber == 1)
            titles.add(item->title);
    EXPECT_EQ(titles.joinIntoString("|"), "One|Two|Three");

    // Every item names the image and points at its own audio there.
    const auto image = fileset.file("IMAGE.DAT");
    for (auto* item : back.indexItems)
    {
        EXPECT_EQ(item->folder, fileset.folder.getFullPathName());
        EXPECT_EQ(item->fileName, "IMAGE.DAT");
        EXPECT_EQ(item->indexOffset, 0);
        EXPECT_EQ(item->remainderSamples, 0);
        EXPECT_EQ(item->sourceOffset.frames, item->start.frames);
    }
    const auto* trackTwo = back.indexItems[2].get();
    const auto* indexTwo = back.indexItems[3].get();
    ASSERT_EQ(trackTwo->trackNumber, 2);
    const auto offset = disc.indexItems[2]->indexOffset;
    EXPECT_EQ(imageSamples(image, (trackTwo->sourceOffset.frames + offset) * 588, 2000),
              wavSamples(b, 0, 2000));
    EXPECT_EQ(imageSamples(image, indexTwo->sourceOffset.frames * 588, 2000), wavSamples(b, 120 * 588, 2000));
}

TEST_F(DdpReaderTest, EnhancedCdReadsBackItsDataSessionAndGaps)
{
    makeThreeTrackDisc();
    addDataSession();
    const auto fileset = write();
    ScriptedAlerts alerts;

    ASSERT_TRUE(read(fileset));
    EXPECT_TRUE(alerts.records.empty()) << alerts.messages().joinIntoString("\n");

    EXPECT_EQ(audioRows(back), audioRows(disc));
    EXPECT_EQ(rows(back.dataItems), rows(disc.dataItems));
    EXPECT_EQ(back.audioLeadOut->length.frames, 6750);
    EXPECT_EQ(back.dataLeadIn->length.frames, 4500);
    EXPECT_EQ(back.leadOut->start.frames, disc.leadOut->start.frames);
    for (auto* item : back.indexItems)
        EXPECT_EQ(item->fileName, "IMAGE01.DAT");

    ASSERT_EQ(back.dataItems.size(), 2);
    EXPECT_EQ(back.dataItems[0]->fileName, "IMAGE02.DAT");
    EXPECT_EQ(back.dataItems[0]->sourceOffset.frames, 0);
    EXPECT_EQ(back.dataItems[1]->fileName, "IMAGE02.DAT");
    EXPECT_EQ(back.dataItems[1]->sourceOffset.frames, 150);
}

TEST_F(DdpReaderTest, FirstPauseLongerThanThePregapKeepsTheRestAsAnIndexZeroItem)
{
    makeThreeTrackDisc();
    disc.firstPregap->length.frames = 200;
    renumberDisc(disc);
    const auto fileset = write();
    ScriptedAlerts alerts;

    ASSERT_TRUE(read(fileset));
    EXPECT_TRUE(alerts.records.empty()) << alerts.messages().joinIntoString("\n");
    EXPECT_EQ(back.firstPregap->length.frames, 150);
    EXPECT_EQ(back.firstPregap->isrc, "DEA123400001");
    const auto* pause = back.indexItems[0].get();
    EXPECT_EQ(pause->trackNumber, 1);
    EXPECT_EQ(pause->indexNumber, 0);
    EXPECT_EQ(pause->length.frames, 50);
    EXPECT_EQ(pause->sourceOffset.frames, 150);
    EXPECT_EQ(pause->fileName, "IMAGE.DAT");
    EXPECT_EQ(back.indexItems[1]->start.frames, 200);
    EXPECT_EQ(back.leadOut->start.frames, disc.leadOut->start.frames);
}

TEST_F(DdpReaderTest, LowerCaseFileNamesAreFoundAndNamedAsTheyAre)
{
    makeThreeTrackDisc();
    const auto fileset = write();
    for (const auto& file : fileset.folder.findChildFiles(File::findFiles, false))
        ASSERT_TRUE(file.moveFileTo(file.getSiblingFile(file.getFileName().toLowerCase())));
    ScriptedAlerts alerts;

    ASSERT_TRUE(read(fileset));
    EXPECT_TRUE(alerts.records.empty()) << alerts.messages().joinIntoString("\n");
    EXPECT_EQ(audioRows(back), audioRows(disc));
    EXPECT_EQ(back.indexItems[0]->fileName, "image.dat");
    EXPECT_EQ(back.discTitle, "Reader disc");
}

TEST_F(DdpReaderTest, OneImagePerTrackMapsEachTrackIntoItsImage)
{
    makeThreeTrackDisc();
    const auto fileset = write();

    // Cut the image at the first entry of every track and give each piece its own map packet.
    juce::MemoryBlock whole;
    fileset.file("IMAGE.DAT").loadFileAsData(whole);
    std::vector<int> trackStarts{0};
    for (auto* item : disc.indexItems)
        if (item->trackNumber > static_cast<int>(trackStarts.size()))
            trackStarts.push_back(item->start.frames);
    trackStarts.push_back(disc.audioLeadOut->start.frames);
    fileset.file("IMAGE.DAT").deleteFile();

    auto map = fileset.plain("DDPMS");
    map.resize(2 * mapPacket); // the CD-Text and PQ packets
    for (int t = 1; t <= 3; ++t)
    {
        const auto name = "TRACK0" + String(t) + ".DAT";
        const auto from = static_cast<size_t>(trackStarts[static_cast<size_t>(t - 1)]) * 2352;
        const auto to = static_cast<size_t>(trackStarts[static_cast<size_t>(t)]) * 2352;
        fileset.file(name).replaceWithData(static_cast<const char*>(whole.getData()) + from, to - from);
        juce::MemoryBlock packet;
        ASSERT_TRUE(
            DdpRecords::appendAudioPacket(packet, name, static_cast<juce::int64>((to - from) / 2352)));
        auto text = packet.toString().toStdString();
        text.replace(MapField::streamStart.offset, 8,
                     DdpRecords::number(trackStarts[static_cast<size_t>(t - 1)], 8).toStdString());
        map += text;
    }
    fileset.store("DDPMS", map);
    ScriptedAlerts alerts;

    ASSERT_TRUE(read(fileset));
    EXPECT_TRUE(alerts.records.empty()) << alerts.messages().joinIntoString("\n");
    EXPECT_EQ(audioRows(back), audioRows(disc));
    for (auto* item : back.indexItems)
    {
        EXPECT_EQ(item->fileName, "TRACK0" + String(item->trackNumber) + ".DAT");
        EXPECT_EQ(item->sourceOffset.frames,
                  item->start.frames - trackStarts[static_cast<size_t>(item->trackNumber - 1)]);
    }
}

TEST_F(DdpReaderTest, FilesetOfAnotherRunIsRefusedAtTheIdentifier)
{
    makeThreeTrackDisc();
    const auto fileset = write();
    auto otherRun = makeCipher("the key of another run");
    ScriptedAlerts alerts;

    EXPECT_FALSE(read(fileset, otherRun));
    ASSERT_EQ(alerts.records.size(), 1u);
    EXPECT_EQ(alerts.records[0].title, "Error!");
    EXPECT_EQ(alerts.records[0].message, "This is not a valid DDP 1.00, 1.01 or 2.00 fileset.");
    EXPECT_TRUE(back.indexItems.isEmpty());
}

namespace
{
// A three-track fileset has the PQ entries lead-in, 01/00, 01/01, 02/00, 02/01, 02/02, 03/00,
// 03/01 and two lead-outs, and the map packets CD-Text, PQ and audio. With the data session the
// entries after the first lead-out are the data lead-in, 04/00, 04/01, the data lead-out and the
// final lead-out, and a data packet follows the audio packet.
struct Case
{
    const char* label;
    bool enhanced;
    std::function<void(const Fileset&)> alter;
    bool result;
    std::vector<std::pair<const char*, const char*>> boxes; // title, message
};

void pq(const Fileset& f, int entry, DdpRecords::Span span, const std::string& text)
{
    f.put("PQDESCR", pqEntry, entry, span, text);
}

void map(const Fileset& f, int packet, DdpRecords::Span span, const std::string& text)
{
    f.put("DDPMS", mapPacket, packet, span, text);
}

void id(const Fileset& f, DdpRecords::Span span, const std::string& text)
{
    f.put("DDPID", DdpRecords::identifierLength, 0, span, text);
}

const char* const error = "Error!";
const char* const warning = "Warning!";

const std::vector<Case>& cases()
{
    static const std::vector<Case> all{
        {"level DDP 1.00", false, [](auto& f) { id(f, IdField::level, "DDP 1.00"); }, true, {}},
        {"level DDP 1.01", false, [](auto& f) { id(f, IdField::level, "DDP 1.01"); }, true, {}},
        {"level DDP 2.01",
         false,
         [](auto& f) { id(f, IdField::level, "DDP 2.01"); },
         false,
         {{error, "This is not a valid DDP 1.00, 1.01 or 2.00 fileset."}}},
        {"identifier missing",
         false,
         [](auto& f) { f.file("DDPID").deleteFile(); },
         false,
         {{error, "File not found: DDPID."}}},
        {"map missing",
         false,
         [](auto& f) { f.file("DDPMS").deleteFile(); },
         false,
         {{error, "File not found: DDPMS."}}},
        {"image one sector short",
         false,
         [](auto& f)
         {
             juce::FileOutputStream image(f.file("IMAGE.DAT"));
             image.setPosition(image.getPosition() - 2352);
             image.truncate();
         },
         true,
         {{warning, "File IMAGE.DAT has a different length than as specified in the DDPMS file."}}},
        {"PQ length differs from the map",
         false,
         [](auto& f) { map(f, 1, MapField::streamLength, "00000001"); },
         true,
         {{warning, "File PQDESCR has a different length than as specified in the DDPMS file."}}},
        {"CD-Text length differs from the map",
         false,
         [](auto& f) { map(f, 0, MapField::streamLength, "00000001"); },
         true,
         {{warning, "File CDTEXT.BIN has a different length than as specified in the DDPMS file."}}},
        {"data stream in the audio session",
         false,
         [](auto& f) { map(f, 2, MapField::cdMode, "10"); },
         false,
         {{error, "Data image found on same session as audio image."}}},
        {"CD mode XA",
         false,
         [](auto& f) { map(f, 2, MapField::cdMode, "XA"); },
         false,
         {{error, "CD Mode XA not supported."}}},
        {"unknown subcode",
         false,
         [](auto& f) { map(f, 1, MapField::subcodeDescriptor, "RW DESCR"); },
         false,
         {{error, "Invalid SUB identifier RW DESCR in DDPMS file."}}},
        {"no image stream",
         false,
         [](auto& f) { map(f, 2, MapField::streamType, "X0"); },
         false,
         {{error, "No data image found in DDPMS file."}}},
        {"first image is data",
         false,
         [](auto& f)
         {
             map(f, 2, MapField::cdMode, "10");
             map(f, 2, MapField::newSession, "S");
         },
         false,
         {{error, "First session is not an audio session."}}},
        {"image missing",
         false,
         [](auto& f) { f.file("IMAGE.DAT").deleteFile(); },
         false,
         {{error, "Invalid or non-existing image file IMAGE.DAT."}}},
        {"image named outside the folder",
         false,
         [](auto& f)
         {
             f.file("IMAGE.DAT").copyFileTo(f.folder.getSiblingFile("IMAGE.DAT"));
             map(f, 2, MapField::streamIdentifier, "../IMAGE.DAT     ");
         },
         false,
         {{error, "Invalid or non-existing image file ../IMAGE.DAT."}}},
        {"PQ missing",
         false,
         [](auto& f) { f.file("PQDESCR").deleteFile(); },
         false,
         {{error, "Invalid or non-existing PQ file PQDESCR."}}},
        {"CD-Text missing",
         false,
         [](auto& f) { f.file("CDTEXT.BIN").deleteFile(); },
         false,
         {{error, "Invalid or non-existing CD-Text file CDTEXT.BIN."}}},
        {"no lead-out",
         false,
         [](auto& f)
         {
             pq(f, 8, PqField::track, "04");
             pq(f, 9, PqField::track, "04");
         },
         false,
         {{error, "No leadout (AA) packet found in PQ descriptor file PQDESCR."}}},
        {"more tracks than images",
         false,
         [](auto& f) { f.edit("DDPMS", [](std::string& s) { s += s.substr(2 * mapPacket, mapPacket); }); },
         false,
         {{error, "There are more audio tracks than audio image files."}}},
        {"more images than tracks",
         false,
         [](auto& f)
         {
             f.edit("DDPMS",
                    [](std::string& s)
                    {
                        const auto audio = s.substr(2 * mapPacket, mapPacket);
                        s += audio + audio + audio;
                    });
         },
         false,
         {{error, "There are more audio image files than audio tracks."}}},
        {"identifier MCN differs from the PQ lead-in (the PQ's is kept)",
         false,
         [](auto& f) { id(f, IdField::upcEan, "0000000000000"); },
         true,
         {{warning,
           "Different MCN/UPC found in DDPID and PQDESCR, the value found in the PQDESCR will be used."}}},
        {"no lead-in entry",
         false,
         [](auto& f) { f.edit("PQDESCR", [](std::string& s) { s.erase(0, pqEntry); }); },
         false,
         {{warning, "File PQDESCR has a different length than as specified in the DDPMS file."},
          {error, "No leadin (00) packet found in PQ descriptor file PQDESCR."}}},
        {"no entry for track 2",
         false,
         [](auto& f)
         {
             for (int entry : {3, 4, 5})
                 pq(f, entry, PqField::track, "03");
         },
         false,
         {{error, "No entry for track 2 found in PQ descriptor file PQDESCR."}}},
        {"entries out of time order",
         false,
         [](auto& f) { pq(f, 4, PqField::minutes, "50"); },
         false,
         {{error, "The entries of PQ descriptor file PQDESCR are not in time order."}}},
        {"minutes not digits",
         false,
         [](auto& f) { pq(f, 4, PqField::minutes, "0x"); },
         false,
         {{error, "Invalid entry at offset 256 in PQ descriptor file PQDESCR."}}},
        {"frames beyond 74",
         false,
         [](auto& f) { pq(f, 4, PqField::frames, "75"); },
         false,
         {{error, "Invalid entry at offset 256 in PQ descriptor file PQDESCR."}}},
        {"index not digits",
         false,
         [](auto& f) { pq(f, 5, PqField::index, " 2"); },
         false,
         {{error, "Invalid entry at offset 320 in PQ descriptor file PQDESCR."}}},
        {"lead-out time not digits",
         false,
         [](auto& f) { pq(f, 8, PqField::seconds, "  "); },
         false,
         {{error, "Invalid entry at offset 512 in PQ descriptor file PQDESCR."}}},
        {"lead-out beyond the image",
         false,
         [](auto& f) { pq(f, 8, PqField::minutes, "50"); },
         false,
         {{error, "Track 3 does not fit in image file IMAGE.DAT."}}},
        {"data stream without a new session",
         true,
         [](auto& f) { map(f, 3, MapField::newSession, " "); },
         false,
         {{error, "Data image found on same session as audio image."}}},
        {"no data lead-in",
         true,
         [](auto& f) { pq(f, 9, PqField::track, "04"); },
         false,
         {{error, "No leadin (00) packet found in data session Enhanced CD."}}},
        {"no data lead-out",
         true,
         [](auto& f)
         {
             pq(f, 12, PqField::track, "05");
             pq(f, 13, PqField::track, "05");
         },
         false,
         {{error, "No leadout (AA) packet found in data session Enhanced CD."}}},
        {"data track not the last audio track + 1",
         true,
         [](auto& f)
         {
             pq(f, 10, PqField::track, "05");
             pq(f, 11, PqField::track, "05");
         },
         false,
         {{error, "Invalid number of data tracks found in data session."}}},
        {"a second data track",
         true,
         [](auto& f) { pq(f, 10, PqField::track, "05"); },
         false,
         {{error, "Invalid number of data tracks found in data session."}}},
        {"data image not ISO 9660",
         true,
         [](auto& f)
         {
             juce::MemoryBlock zeros(static_cast<size_t>(f.file("IMAGE02.DAT").getSize()), true);
             f.file("IMAGE02.DAT").replaceWithData(zeros.getData(), zeros.getSize());
         },
         false,
         {{error, "IMAGE02.DAT is not a valid ISO file."}}},
        {"data lead-in before the audio lead-out",
         true,
         [](auto& f)
         {
             pq(f, 9, PqField::minutes, "00");
             pq(f, 9, PqField::seconds, "01");
         },
         false,
         {{error, "The entries of PQ descriptor file PQDESCR are not in time order."}}},
    };
    return all;
}
} // namespace

TEST_F(DdpReaderTest, EveryRefusalAndNoticeWithItsText)
{
    makeThreeTrackDisc();
    const auto plainFileset = write();
    addDataSession();
    const auto enhancedFileset = write();

    for (const auto& c : cases())
    {
        SCOPED_TRACE(c.label);
        const auto& source = c.enhanced ? enhancedFileset : plainFileset;
        const Fileset fileset{makeTestFolder("case").getChildFile("fileset"), cipher};
        ASSERT_TRUE(source.folder.copyDirectoryTo(fileset.folder));
        c.alter(fileset);

        ScriptedAlerts alerts;
        back.clear();
        EXPECT_EQ(read(fileset), c.result);

        std::vector<std::pair<String, String>> expected, shown;
        for (const auto& [title, message] : c.boxes)
            expected.emplace_back(title, message);
        for (const auto& r : alerts.records)
        {
            EXPECT_EQ(r.icon, juce::MessageBoxIconType::WarningIcon);
            EXPECT_EQ(r.buttons, juce::StringArray("OK"));
            shown.emplace_back(r.title, r.message);
        }
        EXPECT_EQ(shown, expected);

        if (c.result)
            EXPECT_EQ(back.indexItems.size(), disc.indexItems.size());
        else
            EXPECT_TRUE(back.indexItems.isEmpty() && back.dataItems.isEmpty());
    }
}

TEST_F(DdpReaderTest, TruncatedAndGarbledControlFilesEndInAnErrorOrAFaithfulDisc)
{
    makeThreeTrackDisc();
    addDataSession();
    const auto source = write();
    const juce::StringArray names{"DDPID", "DDPMS", "PQDESCR"};
    const std::string fieldCharacters = "0123456789 AVSD";
    juce::Random random(20261211);

    for (int round = 0; round < 150; ++round)
    {
        const Fileset fileset{makeTestFolder("garbled").getChildFile("fileset"), cipher};
        ASSERT_TRUE(source.folder.copyDirectoryTo(fileset.folder));
        const auto name = names[random.nextInt(names.size())];
        const auto file = fileset.file(name);
        juce::MemoryBlock raw;
        file.loadFileAsData(raw);
        const auto size = static_cast<int>(raw.getSize());

        String change;
        switch (random.nextInt(3))
        {
        case 0: // cut short on disk: the last block stays enciphered
            raw.setSize(static_cast<size_t>(random.nextInt(size)));
            file.replaceWithData(raw.getData(), raw.getSize());
            change << "cut to " << static_cast<int>(raw.getSize());
            break;
        case 1: // damaged enciphered bytes garble whole blocks
            for (int n = 1 + random.nextInt(3); --n >= 0;)
            {
                const auto at = random.nextInt(size);
                raw[at] = static_cast<char>(random.nextInt(256));
                change << "raw " << at << " ";
            }
            file.replaceWithData(raw.getData(), raw.getSize());
            break;
        default: // plain bytes replaced by characters that fields hold
            fileset.edit(name,
                         [&](std::string& text)
                         {
                             for (int n = 1 + random.nextInt(4); --n >= 0;)
                             {
                                 const auto at = static_cast<size_t>(random.nextInt(size));
                                 text[at] = fieldCharacters[static_cast<size_t>(
                                     random.nextInt(static_cast<int>(fieldCharacters.size())))];
                                 change << "plain " << static_cast<int>(at) << "='"
                                        << String::charToString(static_cast<juce::juce_wchar>(text[at]))
                                        << "' ";
                             }
                         });
        }
        SCOPED_TRACE((name + ": " + change).toStdString());

        ScriptedAlerts alerts;
        if (!read(fileset))
        {
            ASSERT_FALSE(alerts.records.empty());
            EXPECT_EQ(alerts.records.back().title, "Error!");
            EXPECT_TRUE(back.indexItems.isEmpty() && back.dataItems.isEmpty());
            continue;
        }

        // Read anyway: every item is silence or a stretch of an image file of the fileset. Unless a
        // file was reported as having another length than the map gives, the stretch lies inside it.
        const bool lengthNotice = alerts.messages().joinIntoString("\n").contains("different length");
        for (const auto* list : {&back.indexItems, &back.dataItems})
            for (const auto* item : *list)
            {
                EXPECT_GE(item->length.frames, 0);
                EXPECT_GE(item->sourceOffset.frames, 0);
                if (item->fileName.isEmpty())
                    continue;
                const auto image = fileset.file(item->fileName);
                ASSERT_TRUE(image.existsAsFile()) << item->fileName;
                const auto sector = list == &back.dataItems ? 2048 : 2352;
                if (!lengthNotice)
                    EXPECT_LE(item->sourceOffset.frames + item->length.frames, image.getSize() / sector);
            }
    }
}

#include "formats/CdText.h"
#include "model/CDItem.h"
#include "support/ScriptedAlerts.h"
#include "support/TestEnvironment.h"

#include <cdio/cdtext.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

namespace
{
using Bytes = std::vector<std::uint8_t>;

// The CRC of the polynomial x^16 + x^12 + x^5 + 1 fed bit by bit, most significant bit first.
std::uint16_t referenceCrc(const std::uint8_t* data, size_t size)
{
    unsigned r = 0;
    for (size_t i = 0; i < size; ++i)
    {
        for (int bit = 7; bit >= 0; --bit)
        {
            const bool in = ((data[i] >> bit) & 1) != 0;
            const bool top = (r & 0x8000) != 0;
            r = (r << 1) & 0xFFFF;
            if (in != top)
                r ^= 0x1021;
        }
    }
    return static_cast<std::uint16_t>(r);
}

void seal(std::uint8_t* pack)
{
    const auto crc = static_cast<std::uint16_t>(~referenceCrc(pack, 16));
    pack[16] = static_cast<std::uint8_t>(crc >> 8);
    pack[17] = static_cast<std::uint8_t>(crc & 0xFF);
}

bool crcIsValid(const std::uint8_t* pack)
{
    const auto crc = static_cast<std::uint16_t>(~referenceCrc(pack, 16));
    return pack[16] == (crc >> 8) && pack[17] == (crc & 0xFF);
}

Bytes text(const char* s)
{
    return Bytes(s, s + std::strlen(s));
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One pack, its 12 data bytes padded with zeros and sealed with the reference checksum.
Bytes makePack(int type, int track, int sequence, int position, const Bytes& data = {},
               bool doubleByte = false)
{
    Bytes p(18, 0);
    p[0] = static_cast<std::uint8_t>(type);
    p[1] = static_cast<std::uint8_t>(track);
    p[2] = static_cast<std::uint8_t>(sequence);
    p[3] = static_cast<std::uint8_t>(position | (doubleByte ? 0x80 : 0));
    std::copy(data.begin(), data.begin() + static_cast<long>(std::min<size_t>(data.size(), 12)),
              p.begin() + 4);
    seal(p.data());
    return p;
}

// The three packs that close a block, with only what the reader looks at.
Bytes sizeInformation(int sequence, int characterCode, int language = 9)
{
    return makePack(0x8F, 0, sequence, 0, {static_cast<std::uint8_t>(characterCode), 1, 1}) +
           makePack(0x8F, 1, sequence + 1, 0,
                    {0, 0, 0, 0, 0, 0, 0, 3, static_cast<std::uint8_t>(sequence + 2)}) +
           makePack(0x8F, 2, sequence + 2, 0, {0, 0, 0, 0, static_cast<std::uint8_t>(language)});
}

const std::uint8_t* packAt(const Bytes& file, size_t i)
{
    return file.data() + i * 18;
}

size_t packCount(const Bytes& file)
{
    return file.size() / 18;
}

// The packs of one type, in file order.
std::vector<Bytes> packsOfType(const Bytes& file, int type)
{
    std::vector<Bytes> result;
    for (size_t i = 0; i < packCount(file); ++i)
        if (packAt(file, i)[0] == type)
            result.emplace_back(packAt(file, i), packAt(file, i) + 18);
    return result;
}

IndexItem::Ptr addItem(CDItem& disc, int track, int index, const juce::String& title = {})
{
    IndexItem::Ptr item = new IndexItem();
    item->trackNumber = track;
    item->indexNumber = index;
    item->title = title;
    disc.indexItems.add(item);
    return item;
}

juce::String utf8(const char* s)
{
    return juce::String(juce::CharPointer_UTF8(s));
}

// Three tracks with pauses and an index 2, every CD-Text field filled (the index 2 item's text is
// not CD-Text), ISO 8859-1 letters, and a track title that spans packs.
void fillFullDisc(CDItem& disc)
{
    disc.discTitle = utf8("Caf\xC3\xA9 Songs");
    disc.discPerformer = utf8("Ensemble \xC3\x9C"
                              "berall");
    disc.discSongwriter = "Disc Songwriter";
    disc.discComposer = "Disc Composer";
    disc.discArranger = "Disc Arranger";
    disc.discMessage = utf8("Message \xC2\xA9 2024");
    disc.discIdentification = "CAT-0815";
    disc.genreCode = 8;
    disc.languageCode = 8;

    addItem(disc, 1, 1);
    addItem(disc, 2, 0);
    addItem(disc, 2, 1);
    addItem(disc, 3, 0);
    addItem(disc, 3, 1);
    addItem(disc, 3, 2, "not CD-Text");

    for (auto* item : disc.indexItems)
    {
        if (item->indexNumber != 1)
            continue;
        const auto n = juce::String(item->trackNumber);
        item->title = item->trackNumber == 2 ? "A rather long title for track two" : "Title " + n;
        item->performer = "Performer " + n;
        item->songwriter = "Songwriter " + n;
        item->composer = "Composer " + n;
        item->arranger = "Arranger " + n;
        item->message = "Message " + n;
    }
}

// Clears what the reader sets, so that a load shows what it took over.
void blankCdText(CDItem& disc)
{
    disc.discTitle = disc.discPerformer = disc.discSongwriter = disc.discComposer = disc.discArranger =
        disc.discMessage = disc.discIdentification = "old";
    disc.genreCode = 1;
    disc.languageCode = 5;
    for (auto* item : disc.indexItems)
        if (item->indexNumber == 1)
            item->title = item->performer = item->songwriter = item->composer = item->arranger =
                item->message = "old";
}

juce::StringArray cdTextOf(const CDItem& disc)
{
    juce::StringArray s{disc.discTitle,
                        disc.discPerformer,
                        disc.discSongwriter,
                        disc.discComposer,
                        disc.discArranger,
                        disc.discMessage,
                        disc.discIdentification,
                        "genre " + juce::String(disc.genreCode),
                        "language " + juce::String(disc.languageCode)};
    for (const auto* item : disc.indexItems)
        s.addArray(juce::StringArray{juce::String(item->trackNumber) + "/" + juce::String(item->indexNumber),
                                     item->title, item->performer, item->songwriter, item->composer,
                                     item->arranger, item->message});
    return s;
}

class CdTextFiles : public testing::Test
{
protected:
    juce::File folder = makeTestFolder("cdtext");
    juce::File file = folder.getChildFile("CDTEXT.BIN");

    Bytes save(const CDItem& disc)
    {
        juce::String error;
        EXPECT_TRUE(disc.saveCdTextFile(file.getFullPathName(), error)) << error;
        EXPECT_TRUE(error.isEmpty());
        return readBytes();
    }

    Bytes readBytes() const
    {
        juce::MemoryBlock data;
        file.loadFileAsData(data);
        const auto* p = static_cast<const std::uint8_t*>(data.getData());
        return Bytes(p, p + data.getSize());
    }

    void writeBytes(const Bytes& bytes) const
    {
        file.deleteFile();
        ASSERT_TRUE(file.replaceWithData(bytes.data(), bytes.size()) || bytes.empty());
        if (bytes.empty())
            ASSERT_TRUE(file.create());
    }

    void load(CDItem& disc) const { disc.loadCdTextFile(file.getFullPathName()); }
};

class CdTextWriter : public CdTextFiles
{
};
class CdTextReader : public CdTextFiles
{
};
} // namespace

TEST(CdTextCrc, MatchesTheBitwisePolynomial)
{
    // The published check value of this CRC (no reflection, register starting at 0).
    const auto check = text("123456789");
    ASSERT_EQ(referenceCrc(check.data(), check.size()), 0x31C3);

    const std::uint8_t zeros[16] = {};
    EXPECT_EQ(cdTextCrc(zeros), 0);

    juce::Random random(4711);
    for (int n = 0; n < 500; ++n)
    {
        std::uint8_t pack[16];
        for (auto& b : pack)
            b = static_cast<std::uint8_t>(random.nextInt(256));
        ASSERT_EQ(cdTextCrc(pack), referenceCrc(pack, 16)) << "pack " << n;
    }
}

TEST(CdTextNames, GenreAndLanguageTables)
{
    const std::vector<std::pair<int, const char*>> genres{{-1, ""},
                                                          {0, "Not used"},
                                                          {6, "Contemporary Christian"},
                                                          {24, "Rhythm & Blues"},
                                                          {28, "World Music"},
                                                          {29, "Reserved"},
                                                          {30, ""}};
    for (const auto& [code, name] : genres)
        EXPECT_EQ(cdTextGenreName(code), name) << "genre " << code;

    const std::vector<std::pair<int, const char*>> languages{
        {-1, ""},          {0, "Not used"},  {9, "English"}, {43, "Walloon"},
        {44, "Reserved"},  {68, "Reserved"}, {69, "Zulu"},   {80, "Sranan_tongo"},
        {105, "Japanese"}, {127, "Amharic"}, {128, ""}};
    for (const auto& [code, name] : languages)
        EXPECT_EQ(cdTextLanguageName(code), name) << "language " << code;
}

TEST_F(CdTextWriter, OneTrackTitledAGivesFivePacks)
{
    CDItem disc;
    addItem(disc, 1, 1, "A");

    const auto expected = makePack(0x80, 0, 0, 0, {0, 'A', 0}) + makePack(0x81, 0, 1, 0) +
                          makePack(0x8F, 0, 2, 0, {0x00, 1, 1, 0, 1, 1, 0, 0, 0, 0, 0, 0}) +
                          makePack(0x8F, 1, 3, 0, {0, 0, 0, 0, 0, 0, 0, 3, 4, 0, 0, 0}) +
                          makePack(0x8F, 2, 4, 0, {0, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(save(disc), expected);
}

TEST_F(CdTextWriter, TrackNumbersAndCharacterPositions)
{
    struct Case
    {
        const char* label;
        const char* discTitle;
        juce::StringArray trackTitles;
        std::vector<std::pair<int, int>> trackAndPosition; // of each title pack
    };
    const std::vector<Case> cases{
        {"12-character disc title", "ABCDEFGHIJKL", {"t"}, {{0, 0}, {0, 12}}},
        {"30-character disc title", "ABCDEFGHIJKLMNOPQRSTUVWXYZ1234", {"t"}, {{0, 0}, {0, 12}, {0, 15}}},
        {"terminators move the track on", "Disc", {"0123456789", "abcdefgh"}, {{0, 0}, {1, 7}, {2, 8}}},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        CDItem disc;
        disc.discTitle = c.discTitle;
        Bytes expectedText = text(c.discTitle) + Bytes{0};
        for (int t = 0; t < c.trackTitles.size(); ++t)
        {
            addItem(disc, t + 1, 1, c.trackTitles[t]);
            expectedText = expectedText + text(c.trackTitles[t].toRawUTF8()) + Bytes{0};
        }
        expectedText.resize((expectedText.size() + 11) / 12 * 12, 0);

        const auto titles = packsOfType(save(disc), 0x80);
        ASSERT_EQ(titles.size(), c.trackAndPosition.size());
        Bytes carried;
        for (size_t i = 0; i < titles.size(); ++i)
        {
            EXPECT_EQ(titles[i][1], c.trackAndPosition[i].first) << "pack " << i;
            EXPECT_EQ(titles[i][2], i) << "pack " << i;
            EXPECT_EQ(titles[i][3], c.trackAndPosition[i].second) << "pack " << i;
            carried.insert(carried.end(), titles[i].begin() + 4, titles[i].begin() + 16);
        }
        EXPECT_EQ(carried, expectedText);
    }
}

TEST_F(CdTextWriter, CharactersOutsideIso88591BecomeQuestionMarks)
{
    CDItem disc;
    disc.discTitle = utf8("\xE2\x80\x9CQuote\xE2\x80\x9D");                  // curly quotation marks
    addItem(disc, 1, 1, utf8("\xC3\xA9\xE2\x82\xAC\t\x7F\xC2\x85\xC3\xBF")); // é € TAB DEL U+0085 ÿ
    // The disc identification keeps the low byte of every character.
    disc.discIdentification = utf8("\xC5\x81#\xC3\x89\xC2\x85"); // Ł # É U+0085

    const auto file = save(disc);
    const auto title = packsOfType(file, 0x80);
    const auto identification = packsOfType(file, 0x86);
    ASSERT_EQ(title.size(), 2u);
    ASSERT_EQ(identification.size(), 1u);

    const Bytes expectedTitle = text("?Quote?") + Bytes{0, 0xE9, '?', '?', '?', '?', 0xFF, 0};
    EXPECT_EQ(Bytes(title[0].begin() + 4, title[0].begin() + 16),
              Bytes(expectedTitle.begin(), expectedTitle.begin() + 12));
    EXPECT_EQ(Bytes(title[1].begin() + 4, title[1].begin() + 7),
              Bytes(expectedTitle.begin() + 12, expectedTitle.end()));
    EXPECT_EQ(Bytes(identification[0].begin() + 4, identification[0].begin() + 9),
              (Bytes{0x41, '#', 0xC9, 0x85, 0}));
}

TEST_F(CdTextWriter, OptionalTypesOnlyWithTextThenSizeInformation)
{
    CDItem disc;
    disc.discTitle = "T";
    disc.discMessage = "Hello";
    disc.discIdentification = "ID";
    disc.genreCode = 8;
    disc.languageCode = 9;
    addItem(disc, 1, 1, "One");
    addItem(disc, 2, 0);
    addItem(disc, 2, 1)->songwriter = "Writer";
    addItem(disc, 2, 2)->composer = "not CD-Text";

    const auto file = save(disc);
    ASSERT_EQ(packCount(file), 9u);
    ASSERT_EQ(file.size(), 9u * 18);

    const std::vector<int> types{0x80, 0x81, 0x82, 0x85, 0x86, 0x87, 0x8F, 0x8F, 0x8F};
    for (size_t i = 0; i < types.size(); ++i)
    {
        const auto* p = packAt(file, i);
        EXPECT_EQ(p[0], types[i]) << "pack " << i;
        EXPECT_EQ(p[2], i) << "pack " << i;
        EXPECT_TRUE(crcIsValid(p)) << "pack " << i;
    }

    EXPECT_EQ(Bytes(packAt(file, 2) + 4, packAt(file, 2) + 16),
              (Bytes{0, 0} + text("Writer") + Bytes{0, 0, 0, 0}));
    EXPECT_EQ(Bytes(packAt(file, 4), packAt(file, 4) + 9), (Bytes{0x86, 0, 4, 0, 'I', 'D', 0, 0, 0}));
    EXPECT_EQ(Bytes(packAt(file, 5), packAt(file, 5) + 16),
              (Bytes{0x87, 0, 5, 0, 0, 8, 'D', 'a', 'n', 'c', 'e', 0, 0, 0, 0, 0}));

    // first and last track, pack counts of 0x80 to 0x87; the 0x8F count and last sequence number;
    // the language of block 0
    EXPECT_EQ(Bytes(packAt(file, 6) + 4, packAt(file, 6) + 16), (Bytes{0, 1, 2, 0, 1, 1, 1, 0, 0, 1, 1, 1}));
    EXPECT_EQ(Bytes(packAt(file, 7) + 4, packAt(file, 7) + 16), (Bytes{0, 0, 0, 0, 0, 0, 0, 3, 8, 0, 0, 0}));
    EXPECT_EQ(Bytes(packAt(file, 8) + 4, packAt(file, 8) + 16), (Bytes{0, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(CdTextWriter, GenreCodeBytesAreNeitherCharactersNorTerminators)
{
    CDItem disc;
    addItem(disc, 1, 1, "A");
    disc.genreCode = 6; // "Contemporary Christian": 2 code bytes, 22 characters, terminator

    const auto genre = packsOfType(save(disc), 0x87);
    ASSERT_EQ(genre.size(), 3u);
    const std::vector<int> positions{0, 10, 15};
    for (size_t i = 0; i < genre.size(); ++i)
    {
        EXPECT_EQ(genre[i][1], 0) << "pack " << i;
        EXPECT_EQ(genre[i][3], positions[i]) << "pack " << i;
    }
    EXPECT_EQ(Bytes(genre[0].begin() + 4, genre[0].begin() + 16), (Bytes{0, 6} + text("Contempora")));
}

TEST_F(CdTextWriter, ReplacesAnExistingFileOrFolder)
{
    CDItem disc;
    fillFullDisc(disc);
    const auto once = save(disc);
    EXPECT_EQ(save(disc), once); // not appended to the earlier file

    file.deleteFile();
    ASSERT_TRUE(file.getChildFile("inner").create());
    EXPECT_EQ(save(disc), once);
    EXPECT_TRUE(file.existsAsFile());
}

TEST_F(CdTextWriter, ReportsAFileThatCannotBeCreated)
{
    CDItem disc;
    addItem(disc, 1, 1, "A");
    const auto notAFolder = folder.getChildFile("plain");
    ASSERT_TRUE(notAFolder.create());

    juce::String error;
    EXPECT_FALSE(disc.saveCdTextFile(notAFolder.getChildFile("CDTEXT.BIN").getFullPathName(), error));
    EXPECT_EQ(error, "Error creating file.");
}

TEST_F(CdTextWriter, EmptyDiscWritesNothing)
{
    CDItem disc;
    disc.discTitle = "Nothing to carry it";
    juce::String error;
    EXPECT_TRUE(disc.saveCdTextFile(file.getFullPathName(), error));
    EXPECT_FALSE(file.exists());
}

TEST_F(CdTextWriter, RefusesCdTextLongerThanOneBlock)
{
    // One track without text: one performer pack; a disc title of k characters needs
    // (k + 2) / 12 title packs, rounded up.
    CDItem disc;
    addItem(disc, 1, 1);

    disc.discTitle = juce::String::repeatedString("x", 3010); // 251 + 1 text packs: the most there can be
    EXPECT_EQ(packCount(save(disc)), 255u);
    {
        ScriptedAlerts alerts;
        CDItem back;
        addItem(back, 1, 1);
        load(back);
        EXPECT_EQ(back.discTitle, disc.discTitle);
        EXPECT_TRUE(alerts.records.empty());
    }

    disc.discTitle += "x"; // 253 text packs: the sequence number would run past the block's end
    juce::String error;
    EXPECT_FALSE(disc.saveCdTextFile(file.getFullPathName(), error));
    EXPECT_EQ(error,
              "The CD text is too long: it needs 253 packs, but one CD text block holds at most 252 packs. "
              "Please shorten the CD text.");
    EXPECT_FALSE(file.exists()) << "the earlier file must not pass for this disc's CD-Text";
}

TEST_F(CdTextWriter, LibcdioReadsWhatWeWrite)
{
    CDItem disc;
    fillFullDisc(disc);
    auto bytes = save(disc);

    auto* cdtext = cdtext_init();
    ASSERT_NE(cdtext, nullptr);
    ASSERT_EQ(cdtext_data_init(cdtext, bytes.data(), bytes.size()), 0);

    const auto field = [&](cdtext_field_t f, int track)
    {
        const auto* s = cdtext_get_const(cdtext, f, static_cast<track_t>(track));
        return s == nullptr ? juce::String("(none)") : utf8(s);
    };

    const std::vector<std::pair<cdtext_field_t, juce::String IndexItem::*>> fields{
        {CDTEXT_FIELD_TITLE, &IndexItem::title},           {CDTEXT_FIELD_PERFORMER, &IndexItem::performer},
        {CDTEXT_FIELD_SONGWRITER, &IndexItem::songwriter}, {CDTEXT_FIELD_COMPOSER, &IndexItem::composer},
        {CDTEXT_FIELD_ARRANGER, &IndexItem::arranger},     {CDTEXT_FIELD_MESSAGE, &IndexItem::message}};
    const juce::StringArray discFields{disc.discTitle,    disc.discPerformer, disc.discSongwriter,
                                       disc.discComposer, disc.discArranger,  disc.discMessage};
    for (size_t f = 0; f < fields.size(); ++f)
    {
        EXPECT_EQ(field(fields[f].first, 0), discFields[static_cast<int>(f)]) << "disc field " << f;
        for (const auto* item : disc.indexItems)
            if (item->indexNumber == 1)
                EXPECT_EQ(field(fields[f].first, item->trackNumber), item->*fields[f].second)
                    << "field " << f << " of track " << item->trackNumber;
    }

    EXPECT_EQ(field(CDTEXT_FIELD_DISCID, 0), "CAT-0815");
    EXPECT_EQ(cdtext_get_genre(cdtext), 8);
    EXPECT_EQ(field(CDTEXT_FIELD_GENRE, 0), "Dance");
    EXPECT_EQ(cdtext_get_language(cdtext), 8);
    EXPECT_EQ(cdtext_get_first_track(cdtext), 1);
    EXPECT_EQ(cdtext_get_last_track(cdtext), 3);

    cdtext_destroy(cdtext);
}

TEST_F(CdTextReader, WrittenFileReadsBackIntoTheSameDisc)
{
    CDItem disc;
    fillFullDisc(disc);
    save(disc);

    ScriptedAlerts alerts;
    CDItem back;
    fillFullDisc(back);
    blankCdText(back);
    load(back);
    EXPECT_EQ(cdTextOf(back), cdTextOf(disc));
    EXPECT_TRUE(alerts.records.empty()) << alerts.messages().joinIntoString("\n");
}

TEST_F(CdTextReader, GenreAndLanguageCodesRoundTrip)
{
    struct Case
    {
        int genre, language, genreRead, languageRead;
    };
    // 29 is written as "Reserved" and read as no genre; a language without a name reads as 0.
    for (const auto& c : std::vector<Case>{{8, 9, 8, 9}, {28, 127, 28, 127}, {29, 44, 0, 44}, {0, 200, 0, 0}})
    {
        SCOPED_TRACE("genre " + std::to_string(c.genre) + ", language " + std::to_string(c.language));
        CDItem disc;
        addItem(disc, 1, 1, "A");
        disc.genreCode = c.genre;
        disc.languageCode = c.language;
        const auto genre = packsOfType(save(disc), 0x87);
        if (c.genre == 29)
            EXPECT_EQ(Bytes(genre.at(0).begin() + 4, genre.at(0).begin() + 16),
                      (Bytes{0, 29} + text("Reserved") + Bytes{0, 0}));

        ScriptedAlerts alerts;
        CDItem back;
        addItem(back, 1, 1);
        back.genreCode = 3;
        load(back);
        EXPECT_EQ(back.genreCode, c.genreRead);
        EXPECT_EQ(back.languageCode, c.languageRead);
        EXPECT_TRUE(alerts.records.empty());
    }
}

TEST_F(CdTextReader, RefusedFilesLeaveTheDiscUnchanged)
{
    Bytes bigBlock;
    for (int i = 0; i < 253; ++i)
        bigBlock = bigBlock + makePack(0x80, 0, i, 0, text("xxxxxxxxxxxx"));
    bigBlock = bigBlock + sizeInformation(253, 0x00); // 256 packs

    const juce::String firstHeader =
        "Invalid first header in CD text file, should be 0x80. The CD text will be ignored.";
    const juce::String noBlock = "No ASCII or ISO 8859-1 block found in CD Text file.";
    struct Case
    {
        const char* label;
        std::optional<Bytes> file;
        juce::String message;
    };
    const std::vector<Case> cases{
        {"missing file", std::nullopt, firstHeader},
        {"empty file", Bytes{}, firstHeader},
        {"first pack not a title", makePack(0x81, 0, 0, 0, text("P")) + sizeInformation(1, 0x00),
         firstHeader},
        {"only a double-byte code block", makePack(0x80, 0, 0, 0, text("T")) + sizeInformation(1, 0x80),
         noBlock},
        {"no size information", makePack(0x80, 0, 0, 0, text("T")), noBlock},
        {"256 packs in the block", bigBlock,
         "The CD text file is invalid, too much data specified. The CD text will "
         "be ignored."},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        file.deleteFile();
        if (c.file)
            writeBytes(*c.file);

        ScriptedAlerts alerts;
        CDItem disc;
        fillFullDisc(disc);
        const auto before = cdTextOf(disc);
        load(disc);
        EXPECT_EQ(cdTextOf(disc), before);
        ASSERT_EQ(alerts.records.size(), 1u);
        EXPECT_EQ(alerts.records[0].title, "Error!");
        EXPECT_EQ(alerts.records[0].message, c.message);
        EXPECT_EQ(alerts.records[0].buttons, juce::StringArray{"OK"});
    }
}

TEST_F(CdTextReader, FileEndingInsideTheSizeInformationKeepsItsText)
{
    CDItem original;
    fillFullDisc(original);
    auto bytes = save(original);
    bytes.resize(bytes.size() - 20); // the last size-information pack and 2 bytes of the one before
    writeBytes(bytes);

    ScriptedAlerts alerts;
    CDItem disc;
    fillFullDisc(disc);
    blankCdText(disc);
    load(disc);
    EXPECT_EQ(disc.languageCode, 5);
    disc.languageCode = original.languageCode;
    EXPECT_EQ(cdTextOf(disc), cdTextOf(original));
    EXPECT_TRUE(alerts.records.empty());
}

TEST_F(CdTextReader, Iso88591BlockWinsOverAsciiInEitherOrder)
{
    const auto blockTitled = [&](const char* title, int characterCode)
    {
        CDItem disc;
        disc.discTitle = title;
        addItem(disc, 1, 1, "Track");
        auto bytes = save(disc);
        auto* first = bytes.data() + bytes.size() - 3 * 18;
        first[4] = static_cast<std::uint8_t>(characterCode);
        seal(first);
        return bytes;
    };
    const auto iso = blockTitled("Latin", 0x00);
    const auto ascii = blockTitled("Ascii", 0x01);
    const auto shiftJis = blockTitled("Kanji", 0x80);

    struct Case
    {
        const char* label;
        Bytes file;
        const char* title;
    };
    for (const auto& c :
         std::vector<Case>{{"ASCII block first", ascii + iso, "Latin"},
                           {"ISO 8859-1 block first", iso + ascii, "Latin"},
                           {"ASCII block only, after another code", shiftJis + ascii, "Ascii"}})
    {
        SCOPED_TRACE(c.label);
        writeBytes(c.file);
        ScriptedAlerts alerts;
        CDItem disc;
        addItem(disc, 1, 1);
        load(disc);
        EXPECT_EQ(disc.discTitle, c.title);
        EXPECT_EQ(disc.indexItems[0]->title, "Track");
        EXPECT_TRUE(alerts.records.empty());
    }
}

TEST_F(CdTextReader, InvalidCharactersBecomeQuestionMarksWithOneWarning)
{
    struct Case
    {
        const char* label;
        int characterCode;
        juce::String track1, track2;
    };
    const std::vector<Case> cases{
        {"ISO 8859-1", 0x00, utf8("A?B??\xC3\xA9"), "?"},
        {"ASCII", 0x01, "A?B???", "?"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        writeBytes(makePack(0x80, 0, 0, 0, {0, 'A', 0x01, 'B', 0x7F, 0x85, 0xE9, 0, 0x80, 0}) +
                   makePack(0x81, 0, 1, 0, {0, 0x9F, 0}) + sizeInformation(2, c.characterCode));
        ScriptedAlerts alerts;
        CDItem disc;
        addItem(disc, 1, 1);
        addItem(disc, 2, 1);
        load(disc);
        EXPECT_EQ(disc.indexItems[0]->title, c.track1);
        EXPECT_EQ(disc.indexItems[1]->title, c.track2);
        EXPECT_EQ(disc.indexItems[0]->performer, "?");
        EXPECT_EQ(alerts.titles(), juce::StringArray{"Warning!"});
        EXPECT_EQ(
            alerts.messages(),
            juce::StringArray{
                "Invalid character(s) found in CD text! They will be replaced by a question mark (?)."});
    }
}

TEST_F(CdTextReader, ChecksumErrorsWarnOncePerTypeAndKeepTheText)
{
    CDItem original;
    fillFullDisc(original);
    auto bytes = save(original);
    ASSERT_GE(packsOfType(bytes, 0x80).size(), 3u); // a type with several bad packs still warns once
    for (size_t i = 0; i < packCount(bytes); ++i)
        bytes[i * 18 + 17] ^= 0xFF;
    writeBytes(bytes);

    ScriptedAlerts alerts;
    CDItem disc;
    fillFullDisc(disc);
    blankCdText(disc);
    load(disc);

    juce::StringArray expected;
    for (const auto* name : {"TITLE", "PERFORMER", "SONGWRITER", "COMPOSER", "ARRANGER", "MESSAGE",
                             "IDENTIFICATION", "GENRE", "LANGUAGE"})
        expected.add("CRC error in CD Text file, please verify the " + juce::String(name) + " data.");
    EXPECT_EQ(alerts.messages(), expected);
    EXPECT_FALSE(alerts.titles().contains("Error!"));

    // The text is taken over; the language of a damaged pack is not.
    EXPECT_EQ(disc.languageCode, 5);
    disc.languageCode = original.languageCode;
    EXPECT_EQ(cdTextOf(disc), cdTextOf(original));
}

TEST_F(CdTextReader, TabRepeatsThePreviousTrack)
{
    // Disc "D"; track 1 TAB "A" (no track before it: the TAB is dropped); tracks 2 and 3 TAB; 4 "B";
    // 5 TAB with leftovers; 6 "X" TAB "Y" (a TAB inside a string is dropped). The repeats of tracks
    // 2, 3 and 5 start inside a pack whose first string is the disc's.
    const Bytes titles{'D', 0, 9, 'A', 0, 9, 0, 9, 0, 'B', 0, 9, 'j', 'u', 'n', 'k', 0, 'X', 9, 'Y', 0};
    writeBytes(makePack(0x80, 0, 0, 0, Bytes(titles.begin(), titles.begin() + 12)) +
               makePack(0x80, 5, 1, 1, Bytes(titles.begin() + 12, titles.end())) + makePack(0x81, 0, 2, 0) +
               sizeInformation(3, 0x00));

    ScriptedAlerts alerts;
    CDItem disc;
    for (int track = 1; track <= 6; ++track)
    {
        if (track > 1)
            addItem(disc, track, 0, "pause");
        addItem(disc, track, 1);
    }
    load(disc);

    juce::StringArray read;
    for (const auto* item : disc.indexItems)
        read.add(item->title);
    EXPECT_EQ(disc.discTitle, "D");
    EXPECT_EQ(read, (juce::StringArray{"A", "pause", "A", "pause", "A", "pause", "B", "pause", "B", "pause",
                                       "XY"}));
    EXPECT_TRUE(alerts.records.empty());
}

TEST_F(CdTextReader, DoubleBytePackStopsTheReading)
{
    CDItem original;
    fillFullDisc(original);
    auto bytes = save(original);
    for (size_t i = 0; i < packCount(bytes); ++i)
    {
        auto* p = bytes.data() + i * 18;
        if (p[0] == 0x81)
        {
            p[3] |= 0x80;
            seal(p);
            break;
        }
    }
    writeBytes(bytes);

    ScriptedAlerts alerts;
    CDItem disc;
    fillFullDisc(disc);
    blankCdText(disc);
    load(disc);

    EXPECT_EQ(alerts.titles(), juce::StringArray{"Error!"});
    EXPECT_EQ(alerts.messages(), juce::StringArray{"Double Byte Character Code not supported."});
    // Titles were taken over before the performers stopped the reading; the rest stays.
    EXPECT_EQ(disc.discTitle, original.discTitle);
    EXPECT_EQ(disc.indexItems[2]->title, original.indexItems[2]->title);
    EXPECT_EQ(disc.discPerformer, "old");
    EXPECT_EQ(disc.indexItems[2]->performer, "old");
    EXPECT_EQ(disc.discIdentification, "old");
    EXPECT_EQ(disc.genreCode, 1);
    EXPECT_EQ(disc.languageCode, 5);
}

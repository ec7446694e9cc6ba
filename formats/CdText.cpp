#include "formats/CdText.h"

#include "app/Alerts.h"
#include "model/CDItem.h"

#include <array>
#include <iterator>
#include <optional>
#include <vector>

namespace
{
using Bytes = std::vector<std::uint8_t>;

constexpr int packSize = 18;
constexpr int packDataSize = 12;
constexpr int maxCharacterPosition = 15;

constexpr std::uint8_t packTypeFirstText = 0x80;
constexpr std::uint8_t packTypeIdentification = 0x86;
constexpr std::uint8_t packTypeGenre = 0x87;
constexpr std::uint8_t packTypeSizeInformation = 0x8F;
constexpr std::uint8_t doubleByteFlag = 0x80;
constexpr std::uint8_t characterCodeIso88591 = 0x00;
constexpr std::uint8_t characterCodeAscii = 0x01;
constexpr std::uint8_t tabByte = 0x09;

// Two code bytes lead the first genre pack's data; they are neither characters nor terminators.
constexpr int genreCodeBytes = 2;
constexpr int highestReadGenre = 28;

// The reader refuses a block of this many bytes (256 packs) or more.
constexpr juce::int64 refusedBlockSize = 4608;

// The text types that carry one string for the disc and one for every track start (index 1).
// Writer and reader both work from this table.
struct TextField
{
    std::uint8_t packType;
    juce::String CDItem::*discField;
    juce::String IndexItem::*itemField;
    bool alwaysWritten;
    const char* name; // as the reader's checksum warning names it
};

const std::array<TextField, 6> textFields{{
    {0x80, &CDItem::discTitle, &IndexItem::title, true, "TITLE"},
    {0x81, &CDItem::discPerformer, &IndexItem::performer, true, "PERFORMER"},
    {0x82, &CDItem::discSongwriter, &IndexItem::songwriter, false, "SONGWRITER"},
    {0x83, &CDItem::discComposer, &IndexItem::composer, false, "COMPOSER"},
    {0x84, &CDItem::discArranger, &IndexItem::arranger, false, "ARRANGER"},
    {0x85, &CDItem::discMessage, &IndexItem::message, false, "MESSAGE"},
}};

constexpr std::array<std::uint16_t, 256> makeCrcTable()
{
    std::array<std::uint16_t, 256> table{};
    for (int i = 0; i < 256; ++i)
    {
        auto r = static_cast<std::uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            r = static_cast<std::uint16_t>((r & 0x8000) != 0 ? (r << 1) ^ 0x1021 : r << 1);
        table[static_cast<size_t>(i)] = r;
    }
    return table;
}

constexpr auto crcTable = makeCrcTable();

const char* const genreNames[] = {
    "Not used",
    "Not defined",
    "Adult Contemporary",
    "Alternative Rock",
    "Childrens Music",
    "Classical",
    "Contemporary Christian",
    "Country",
    "Dance",
    "Easy Listening",
    "Erotic",
    "Folk",
    "Gospel",
    "Hip Hop",
    "Jazz",
    "Latin",
    "Musical",
    "New Age",
    "Opera",
    "Operetta",
    "Pop Music",
    "RAP",
    "Reggae",
    "Rock Music",
    "Rhythm & Blues",
    "Sound Effects",
    "Sound Track",
    "Spoken Word",
    "World Music",
    "Reserved",
};

// Codes 0 to 43; 44 to 68 are reserved; 69 to 127 follow in languagesFrom69.
const char* const languagesTo43[] = {
    "Not used", "Albanian",      "Breton",     "Catalan",   "Croatian",  "Welsh",   "Czech",     "Danish",
    "German",   "English",       "Spanish",    "Esperanto", "Estonian",  "Basque",  "Faroese",   "French",
    "Frisian",  "Irish",         "Gaelic",     "Galician",  "Icelandic", "Italian", "Lappish",   "Latin",
    "Latvian",  "Luxembourgian", "Lithuanian", "Hungarian", "Maltese",   "Dutch",   "Norwegian", "Occitan",
    "Polish",   "Portugese",     "Romanian",   "Romansh",   "Serbian",   "Slovak",  "Slovene",   "Finnish",
    "Swedish",  "Turkish",       "Flemish",    "Walloon",
};

const char* const languagesFrom69[] = {
    "Zulu",      "Vietnamese",     "Uzbek",      "Urdu",        "Ukrainian",    "Thai",        "Telugu",
    "Tatar",     "Tamil",          "Tadzhik",    "Swahili",     "Sranan_tongo", "Somali",      "Sinhalese",
    "Shona",     "Serbo_croatian", "Ruthenian",  "Russian",     "Quechua",      "Pushtu",      "Punjabi",
    "Persian",   "Papamiento",     "Oriya",      "Nepali",      "Ndebele",      "Marathi",     "Moldavian",
    "Malaysian", "Malagasay",      "Macedonian", "Laotian",     "Korean",       "Khmer",       "Kazakh",
    "Kannada",   "Japanese",       "Indonesian", "Hindi",       "Hebrew",       "Hausa",       "Gurani",
    "Gujarati",  "Greek",          "Georgian",   "Fulani",      "Dari",         "Churash",     "Chinese",
    "Burmese",   "Bulgarian",      "Bengali",    "Belorussian", "Bambora",      "Azerbaijani", "Assamese",
    "Armenian",  "Arabic",         "Amharic",
};

constexpr int firstReservedLanguage = 44;
constexpr int firstLanguageAfterReserved = 69;

static_assert(std::size(genreNames) == 30);
static_assert(std::size(languagesTo43) == firstReservedLanguage);
static_assert(std::size(languagesFrom69) == 128 - firstLanguageAfterReserved);

bool isIso88591Printable(juce::juce_wchar c)
{
    return (c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xFF);
}

// Appends a string and its terminator. Characters outside ISO 8859-1 become "?", unless
// lowBitsOnly asks for the low byte of every code point as it stands.
void appendString(Bytes& text, const juce::String& string, bool lowBitsOnly = false)
{
    for (auto p = string.getCharPointer(); !p.isEmpty();)
    {
        const auto c = p.getAndAdvance();
        if (lowBitsOnly)
            text.push_back(static_cast<std::uint8_t>(c & 0xFF));
        else
            text.push_back(isIso88591Printable(c) ? static_cast<std::uint8_t>(c) : std::uint8_t('?'));
    }
    text.push_back(0);
}

// Builds the packs of one block in file order. Every pack, text or size information, is made by
// addPack, which numbers it and seals it with its checksum.
class PackBuilder
{
public:
    // Cuts a type's text (strings with their terminators) into packs, padding it with zero bytes.
    // Track numbers follow the terminators up to lastTrack (0 keeps every pack at track 0); the
    // first codeBytes bytes are binary and move neither the track nor the character position.
    void addText(std::uint8_t packType, Bytes text, int lastTrack, size_t codeBytes = 0)
    {
        text.resize((text.size() + packDataSize - 1) / packDataSize * packDataSize, 0);

        int track = 0;
        int position = 0;
        for (size_t start = 0; start < text.size(); start += packDataSize)
        {
            addPack(packType, track, position, text.data() + start);

            int terminators = 0;
            for (auto i = start; i < start + packDataSize; ++i)
            {
                if (i < codeBytes)
                    continue;
                if (text[i] == 0)
                {
                    ++terminators;
                    position = 0;
                }
                else
                {
                    position = juce::jmin(position + 1, maxCharacterPosition);
                }
            }
            track = juce::jmin(track + terminators, lastTrack);
        }
    }

    // The three packs that close the block.
    void addSizeInformation(int firstTrack, int lastTrack, int languageCode)
    {
        const auto lastSequence = static_cast<std::uint8_t>(sequence + 2);

        std::uint8_t first[packDataSize] = {characterCodeIso88591, static_cast<std::uint8_t>(firstTrack),
                                            static_cast<std::uint8_t>(lastTrack), 0};
        for (size_t type = 0; type < textPackCounts.size(); ++type)
            first[4 + type] = static_cast<std::uint8_t>(textPackCounts[type]);

        std::uint8_t second[packDataSize] = {};
        second[7] = 3; // packs of type 0x8F
        second[8] = lastSequence;

        std::uint8_t third[packDataSize] = {};
        third[4] = static_cast<std::uint8_t>(languageCode);

        addPack(packTypeSizeInformation, 0, 0, first);
        addPack(packTypeSizeInformation, 1, 0, second);
        addPack(packTypeSizeInformation, 2, 0, third);
    }

    int packCount() const { return sequence; }
    const Bytes& bytes() const { return file; }

private:
    void addPack(std::uint8_t packType, int track, int position, const std::uint8_t* data)
    {
        std::uint8_t pack[packSize] = {packType, static_cast<std::uint8_t>(track),
                                       static_cast<std::uint8_t>(sequence),
                                       static_cast<std::uint8_t>(position)};
        std::copy(data, data + packDataSize, pack + 4);
        const auto crc = static_cast<std::uint16_t>(~cdTextCrc(pack));
        pack[16] = static_cast<std::uint8_t>(crc >> 8);
        pack[17] = static_cast<std::uint8_t>(crc & 0xFF);
        file.insert(file.end(), pack, pack + packSize);

        ++sequence;
        if (packType >= packTypeFirstText && packType <= packTypeGenre)
            ++textPackCounts[static_cast<size_t>(packType - packTypeFirstText)];
    }

    Bytes file;
    int sequence = 0;
    std::array<int, 8> textPackCounts{};
};

bool packCrcMatches(const std::uint8_t* pack)
{
    const auto expected = static_cast<std::uint16_t>(~cdTextCrc(pack));
    return pack[16] == (expected >> 8) && pack[17] == (expected & 0xFF);
}

void warnCrc(const char* typeName)
{
    Alerts::warning("CRC error in CD Text file, please verify the " + juce::String(typeName) + " data.");
}

// Where the chosen block lies in the file, in bytes; end is where its size-information packs end.
struct BlockLocation
{
    juce::int64 start = 0;
    juce::int64 end = 0;
    bool iso88591 = false;
};

// The first ISO 8859-1 block, else the first ASCII block. A block ends 54 bytes after the first of
// its size-information packs; blocks in other character codes are passed over.
std::optional<BlockLocation> findBlock(juce::InputStream& in)
{
    std::optional<BlockLocation> ascii;
    juce::int64 blockStart = 0;
    std::uint8_t pack[packSize];

    in.setPosition(0);
    while (in.read(pack, packSize) == packSize)
    {
        if (pack[0] != packTypeSizeInformation)
            continue;

        const auto sizeInformationStart = in.getPosition() - packSize;
        const BlockLocation block{blockStart, sizeInformationStart + 3 * packSize,
                                  pack[4] == characterCodeIso88591};
        if (pack[4] == characterCodeIso88591)
            return block;
        if (pack[4] == characterCodeAscii && !ascii)
            ascii = block;

        blockStart = block.end;
        if (!in.setPosition(blockStart))
            break;
    }
    return ascii;
}

// Reads the chosen block's packs into the disc model on the message thread.
class BlockReader
{
public:
    BlockReader(CDItem& discToFill, Bytes blockBytes, bool iso88591)
        : disc(discToFill), block(std::move(blockBytes)), iso(iso88591)
    {
    }

    void read()
    {
        for (const auto& field : textFields)
        {
            TypeText text;
            if (!readType(field.packType, field.name, true, text))
                return;
            disc.*field.discField = text.stringOfTrack(0);
            for (auto* item : disc.indexItems)
                if (item->indexNumber == 1)
                    item->*field.itemField = text.stringOfTrack(item->trackNumber);
        }

        TypeText identification;
        if (!readType(packTypeIdentification, "IDENTIFICATION", false, identification))
            return;
        juce::StringArray lines;
        for (const auto& s : identification.strings)
            lines.add(s);
        disc.discIdentification = lines.joinIntoString("\n").trimCharactersAtEnd("\n");

        TypeText genre;
        if (!readType(packTypeGenre, "GENRE", false, genre, genreCodeBytes))
            return;
        disc.genreCode = genre.genreCode > highestReadGenre ? 0 : genre.genreCode;

        readLanguage();
    }

private:
    struct TypeText
    {
        int firstTrack = 0;
        std::vector<juce::String> strings; // string k belongs to track firstTrack + k
        std::vector<bool> repeats;         // string k stands for the string of the track before
        int genreCode = 0;

        void add(const juce::String& s, bool repeat)
        {
            strings.push_back(s);
            repeats.push_back(repeat);
        }

        // Resolves repeats in track order, so that a run of them takes the last real string.
        void resolveRepeats()
        {
            for (size_t k = 0; k < strings.size(); ++k)
                if (repeats[k])
                    strings[k] = k > 0 ? strings[k - 1] : juce::String();
        }

        juce::String stringOfTrack(int track) const
        {
            const auto k = track - firstTrack;
            return k >= 0 && k < static_cast<int>(strings.size()) ? strings[static_cast<size_t>(k)]
                                                                  : juce::String();
        }
    };

    int numPacks() const { return static_cast<int>(block.size()) / packSize; }
    const std::uint8_t* pack(int i) const { return block.data() + i * packSize; }

    bool isValid(std::uint8_t c) const { return (c >= 0x20 && c <= 0x7E) || (iso && c >= 0xA0); }

    // Collects the strings of one pack type. A TAB that starts the string of a track above 1
    // repeats the previous track's string (when trackRepeats); any other TAB is dropped. False when
    // a double-byte pack stops the reading.
    bool readType(std::uint8_t packType, const char* name, bool trackRepeats, TypeText& text,
                  int codeBytes = 0)
    {
        bool firstPack = true;
        bool crcWarned = false;
        bool repeat = false;
        juce::String current;

        for (int i = 0; i < numPacks(); ++i)
        {
            const auto* p = pack(i);
            if (p[0] != packType)
                continue;

            if ((p[3] & doubleByteFlag) != 0)
            {
                Alerts::error("Double Byte Character Code not supported.");
                return false;
            }

            int first = 0;
            if (firstPack)
            {
                text.firstTrack = p[1];
                text.genreCode = p[5];
                first = codeBytes;
                firstPack = false;
            }

            for (int j = first; j < packDataSize; ++j)
            {
                const auto c = p[4 + j];
                if (c == 0)
                {
                    text.add(current, repeat);
                    current = {};
                    repeat = false;
                }
                else if (repeat)
                {
                    continue; // the rest of a repeat marker carries nothing
                }
                else if (c == tabByte)
                {
                    const auto track = text.firstTrack + static_cast<int>(text.strings.size());
                    repeat = trackRepeats && current.isEmpty() && track > 1;
                }
                else if (isValid(c))
                {
                    current += static_cast<juce::juce_wchar>(c);
                }
                else
                {
                    current += '?';
                    warnInvalidCharactersOnce();
                }
            }

            if (!crcWarned && !packCrcMatches(p))
            {
                crcWarned = true;
                warnCrc(name);
            }
        }

        // A last string without its terminator still counts.
        if (repeat || current.isNotEmpty())
            text.add(current, repeat);

        text.resolveRepeats();
        return true;
    }

    void readLanguage()
    {
        int firstSizeInformation = 0;
        while (firstSizeInformation < numPacks() && pack(firstSizeInformation)[0] != packTypeSizeInformation)
            ++firstSizeInformation;

        const auto third = firstSizeInformation + 2;
        if (third >= numPacks() || pack(third)[0] != packTypeSizeInformation)
            return;

        const auto* p = pack(third);
        if (!packCrcMatches(p))
        {
            warnCrc("LANGUAGE");
            return;
        }
        const int code = p[8];
        disc.languageCode = cdTextLanguageName(code).isNotEmpty() ? code : 0;
    }

    void warnInvalidCharactersOnce()
    {
        if (invalidCharactersWarned)
            return;
        invalidCharactersWarned = true;
        Alerts::warning(
            "Invalid character(s) found in CD text! They will be replaced by a question mark (?).");
    }

    CDItem& disc;
    const Bytes block;
    const bool iso;
    bool invalidCharactersWarned = false;
};
} // namespace

std::uint16_t cdTextCrc(const std::uint8_t* packBytes16)
{
    std::uint16_t crc = 0;
    for (int i = 0; i < 16; ++i)
        crc = static_cast<std::uint16_t>((crc << 8) ^ crcTable[((crc >> 8) ^ packBytes16[i]) & 0xFF]);
    return crc;
}

juce::String cdTextGenreName(int genreCode)
{
    if (genreCode < 0 || genreCode >= static_cast<int>(std::size(genreNames)))
        return {};
    return genreNames[genreCode];
}

juce::String cdTextLanguageName(int languageCode)
{
    if (languageCode < 0 || languageCode > 127)
        return {};
    if (languageCode < firstReservedLanguage)
        return languagesTo43[languageCode];
    if (languageCode < firstLanguageAfterReserved)
        return "Reserved";
    return languagesFrom69[languageCode - firstLanguageAfterReserved];
}

bool CDItem::saveCdTextFile(const juce::String& path, juce::String& errorText) const
{
    if (indexItems.isEmpty())
        return true;

    const auto lastTrack = juce::jmax(0, indexItems.getLast()->trackNumber);
    PackBuilder packs;

    for (const auto& field : textFields)
    {
        Bytes text;
        bool anyText = (this->*field.discField).isNotEmpty();
        appendString(text, this->*field.discField);
        for (const auto* item : indexItems)
        {
            if (item->indexNumber != 1)
                continue;
            anyText = anyText || (item->*field.itemField).isNotEmpty();
            appendString(text, item->*field.itemField);
        }
        if (field.alwaysWritten || anyText)
            packs.addText(field.packType, std::move(text), lastTrack);
    }

    if (discIdentification.isNotEmpty())
    {
        Bytes text;
        appendString(text, discIdentification, true);
        packs.addText(packTypeIdentification, std::move(text), 0);
    }

    if (genreCode != 0)
    {
        Bytes text{0, static_cast<std::uint8_t>(genreCode & 0xFF)};
        appendString(text, cdTextGenreName(genreCode));
        packs.addText(packTypeGenre, std::move(text), 0, genreCodeBytes);
    }

    // A failed save leaves no file at path, so nothing stale is taken for this disc's CD-Text.
    const juce::File file(path);
    if (file.exists() && !file.deleteRecursively())
    {
        errorText = "Error creating file.";
        return false;
    }

    if (packs.packCount() > cdTextMaxTextPacks)
    {
        errorText = "The CD text is too long: it needs " + juce::String(packs.packCount()) +
                    " packs, but one CD text block holds at most " + juce::String(cdTextMaxTextPacks) +
                    " packs. Please shorten the CD text.";
        return false;
    }

    packs.addSizeInformation(indexItems.getFirst()->trackNumber, lastTrack, languageCode);

    bool written = false;
    {
        juce::FileOutputStream out(file, 32768);
        if (!out.openedOk())
        {
            errorText = "Error creating file.";
            return false;
        }
        written = out.write(packs.bytes().data(), packs.bytes().size());
        out.flush();
        written = written && out.getStatus().wasOk();
    }

    if (!written)
    {
        file.deleteFile();
        errorText = "Error writing data.";
        return false;
    }
    return true;
}

void CDItem::loadCdTextFile(const juce::String& path)
{
    juce::FileInputStream fileStream{juce::File(path)};
    if (!fileStream.openedOk() || static_cast<std::uint8_t>(fileStream.readByte()) != packTypeFirstText)
    {
        Alerts::error("Invalid first header in CD text file, should be 0x80. The CD text will be ignored.");
        return;
    }

    juce::BufferedInputStream in(fileStream, 32768);
    const auto location = findBlock(in);
    if (!location)
    {
        Alerts::error("No ASCII or ISO 8859-1 block found in CD Text file.");
        return;
    }

    if (location->end - location->start >= refusedBlockSize)
    {
        Alerts::error("The CD text file is invalid, too much data specified. The CD text will be ignored.");
        return;
    }

    // A file that ends inside the size-information packs gives a shorter block of whole packs.
    const auto wholePacksEnd = fileStream.getTotalLength() / packSize * packSize;
    const auto blockSize = juce::jmin(location->end, wholePacksEnd) - location->start;
    Bytes block(static_cast<size_t>(blockSize));
    in.setPosition(location->start);
    if (in.read(block.data(), static_cast<int>(blockSize)) != static_cast<int>(blockSize))
        return;

    BlockReader(*this, std::move(block), location->iso88591).read();
}

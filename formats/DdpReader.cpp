#include "formats/DdpReader.h"

#include "app/Alerts.h"
#include "formats/DdpControlCipher.h"
#include "formats/DdpRecords.h"
#include "formats/ISOfile.h"
#include "model/CDItem.h"

#include <optional>

namespace
{
using Span = DdpRecords::Span;
using PqField = DdpRecords::PqField;
using MapField = DdpRecords::MapField;
using IdField = DdpRecords::IdField;

// A control file as deciphered bytes. Every field read takes only the bytes the file holds: a field
// that runs past the end yields the part that is there, and a number or time in it is refused.
class ControlFile
{
public:
    ControlFile(const juce::File& file, const juce::BlowFish* cipher)
    {
        file.loadFileAsData(bytes);
        if (cipher != nullptr)
            DdpControlCipher::decipher(bytes, *cipher);
    }

    size_t size() const { return bytes.getSize(); }

    // ISO 8859-1 text of the field; control characters become '?' so that they survive in messages.
    juce::String text(size_t recordStart, Span span) const
    {
        juce::String result;
        const auto [from, to] = clip(recordStart, span);
        for (auto i = from; i < to; ++i)
        {
            const auto c = byteAt(i);
            result += static_cast<juce::juce_wchar>(c < 0x20 || c == 0x7f ? '?' : c);
        }
        return result;
    }

    bool startsWith(size_t recordStart, const juce::String& prefix) const
    {
        return text(recordStart, {0, prefix.length()}) == prefix;
    }

    // Leading spaces, then the leading decimal digits; 0 when there are none.
    int number(size_t recordStart, Span span) const
    {
        const auto [from, to] = clip(recordStart, span);
        auto i = from;
        while (i < to && byteAt(i) == ' ')
            ++i;
        int value = 0; // at most 8 digits: no overflow
        for (; i < to && juce::CharacterFunctions::isDigit(static_cast<char>(byteAt(i))); ++i)
            value = value * 10 + (byteAt(i) - '0');
        return value;
    }

    // The field's value when all of its bytes are present and decimal digits.
    std::optional<int> digits(size_t recordStart, Span span) const
    {
        const auto [from, to] = clip(recordStart, span);
        if (to - from != static_cast<size_t>(span.width))
            return std::nullopt;
        int value = 0;
        for (auto i = from; i < to; ++i)
        {
            if (!juce::CharacterFunctions::isDigit(static_cast<char>(byteAt(i))))
                return std::nullopt;
            value = value * 10 + (byteAt(i) - '0');
        }
        return value;
    }

private:
    std::pair<size_t, size_t> clip(size_t recordStart, Span span) const
    {
        const auto from = juce::jmin(size(), recordStart + static_cast<size_t>(span.offset));
        return {from, juce::jmin(size(), recordStart + static_cast<size_t>(span.end()))};
    }

    juce::uint8 byteAt(size_t i) const { return static_cast<const juce::uint8*>(bytes.getData())[i]; }

    juce::MemoryBlock bytes;
};

// One map stream: its name as the map gives it, the file found for it, its length in its own
// units (sectors of the image, bytes of the PQ and CD-Text streams) and its start on the disc.
struct Stream
{
    juce::String name;
    juce::File file;
    juce::int64 length = 0;
    int start = 0;
    bool isData = false;
};

struct PqEntry
{
    int trackNumber = 0; // -1 for a lead-out ("AA")
    int indexNumber = 0;
    int time = 0; // disc position in frames
    juce::String isrc;
    juce::String catalogueNumber;
};

class Reader
{
public:
    Reader(CDItem& target, const juce::String& filesetFolder) : disc(target), folder(filesetFolder) {}

    bool read(const juce::BlowFish* cipher)
    {
        if (!readIdentifier(cipher) || !readMap(cipher) || !checkFilesPresent())
            return false;

        const ControlFile pq(pqStream.file, cipher);
        if (!readAudioSession(pq) || (dataImage.has_value() && !readDataSession(pq)))
            return false;

        foldFirstPregap();
        disc.mcn = mcn;
        disc.firstPregap->isrc = firstPregapIsrc;
        disc.indexItems = indexItems;
        disc.dataItems = dataItems;
        disc.audioLeadOut->length.frames = audioLeadOutLength;
        disc.dataLeadIn->length.frames = dataLeadInLength;

        if (cdTextStream.has_value())
            disc.loadCdTextFile(cdTextStream->file.getFullPathName());
        return true;
    }

private:
    static bool fail(const juce::String& message)
    {
        Alerts::error(message);
        return false;
    }

    static void noticeLength(const juce::String& name)
    {
        Alerts::warning("File " + name + " has a different length than as specified in the DDPMS file.");
    }

    bool readIdentifier(const juce::BlowFish* cipher)
    {
        const auto file = DdpReader::locate(folder, "DDPID");
        if (!file.existsAsFile())
            return fail("File not found: DDPID.");

        const ControlFile id(file, cipher);
        const auto level = id.text(0, IdField::level);
        if (level != "DDP 1.00" && level != "DDP 1.01" && level != "DDP 2.00")
            return fail("This is not a valid DDP 1.00, 1.01 or 2.00 fileset.");
        identifierMcn = id.text(0, IdField::upcEan).trim();
        return true;
    }

    bool readMap(const juce::BlowFish* cipher)
    {
        const auto file = DdpReader::locate(folder, "DDPMS");
        if (!file.existsAsFile())
            return fail("File not found: DDPMS.");

        const ControlFile map(file, cipher);
        bool firstImageSeen = false;
        bool firstImageIsAudio = false;

        for (size_t p = 0; p + static_cast<size_t>(MapField::streamType.offset) < map.size();
             p += DdpRecords::mapPacketLength)
        {
            const auto type = map.text(p, MapField::streamType);
            if (type != "D0" && type != "S0")
                continue;

            const auto subcode = map.text(p, MapField::subcodeDescriptor);
            const auto mode = map.text(p, MapField::cdMode);
            Stream stream;
            stream.name = map.text(p, MapField::streamIdentifier).trim();
            stream.file = DdpReader::locate(folder, stream.name);
            stream.length = map.number(p, MapField::streamLength);
            stream.start = map.number(p, MapField::streamStart);

            if (subcode == "        ")
            {
                if (!firstImageSeen)
                {
                    firstImageSeen = true;
                    firstImageIsAudio = mode == "DA";
                }

                int bytesPerSector = cdtime::bytesPerFrame;
                if (mode == "10")
                {
                    if (map.text(p, MapField::newSession) != "S")
                        return fail("Data image found on same session as audio image.");
                    stream.isData = true;
                    bytesPerSector = dataBytesPerSector(map.text(p, MapField::sourceStorageMode));
                }
                else if (mode != "DA")
                {
                    return fail("CD Mode " + mode + " not supported.");
                }

                if (stream.file.existsAsFile() && stream.file.getSize() / bytesPerSector != stream.length)
                    noticeLength(stream.name);
                images.push_back(stream);
                if (stream.isData)
                    dataImage = stream;
                else
                    audioImages.push_back(stream);
            }
            else if (subcode == "PQ DESCR" || subcode == "CDTEXT  ")
            {
                if (stream.file.existsAsFile() && stream.file.getSize() != stream.length)
                    noticeLength(stream.name);
                if (subcode == "PQ DESCR")
                    pqStream = stream;
                else
                    cdTextStream = stream;
            }
            else
            {
                return fail("Invalid SUB identifier " + subcode + " in DDPMS file.");
            }
        }

        if (!firstImageSeen)
            return fail("No data image found in DDPMS file.");
        if (!firstImageIsAudio)
            return fail("First session is not an audio session.");
        return true;
    }

    static int dataBytesPerSector(const juce::String& sourceStorageMode)
    {
        if (sourceStorageMode == "0")
            return 2048;
        if (sourceStorageMode == "1")
            return 2332;
        if (sourceStorageMode == "2")
            return 2336;
        if (sourceStorageMode == "3")
            return 2340;
        return cdtime::bytesPerFrame;
    }

    bool checkFilesPresent()
    {
        for (const auto& image : images)
            if (!image.file.existsAsFile())
                return fail("Invalid or non-existing image file " + image.name + ".");
        if (!pqStream.file.existsAsFile())
            return fail("Invalid or non-existing PQ file " + pqStream.name + ".");
        if (cdTextStream.has_value() && !cdTextStream->file.existsAsFile())
            return fail("Invalid or non-existing CD-Text file " + cdTextStream->name + ".");
        mcn = identifierMcn;
        return true;
    }

    static size_t entryStart(int entry) { return static_cast<size_t>(entry) * DdpRecords::pqEntryLength; }

    static juce::String entryPrefix(int trackNumber) { return "VVVS" + DdpRecords::number(trackNumber, 2); }

    // The entry's fields, or an error box when any of them is not what the writer puts there.
    std::optional<PqEntry> parseEntry(const ControlFile& pq, int entry) const
    {
        const auto at = entryStart(entry);
        const auto track = pq.text(at, PqField::track);
        const auto trackNumber = track == "AA" ? std::optional<int>(-1) : pq.digits(at, PqField::track);
        const auto index = pq.digits(at, PqField::index);
        const auto minutes = pq.digits(at, PqField::minutes);
        const auto seconds = pq.digits(at, PqField::seconds);
        const auto frames = pq.digits(at, PqField::frames);

        if (!pq.startsWith(at, "VVVS") || !trackNumber || !index || !minutes || !seconds || !frames ||
            *seconds >= 60 || *frames >= cdtime::framesPerSecond)
        {
            fail("Invalid entry at offset " + juce::String(static_cast<juce::int64>(at)) +
                 " in PQ descriptor file " + pqStream.name + ".");
            return std::nullopt;
        }

        PqEntry e;
        e.trackNumber = *trackNumber;
        e.indexNumber = *index;
        e.time = *minutes * cdtime::framesPerMinute + *seconds * cdtime::framesPerSecond + *frames;
        e.isrc = pq.text(at, PqField::isrc).trim();
        e.catalogueNumber = pq.text(at, PqField::catalogueNumber).trim();
        return e;
    }

    int findLeadOut(const ControlFile& pq, int fromEntry) const
    {
        for (auto entry = fromEntry; entryStart(entry + 1) <= pq.size(); ++entry)
            if (pq.startsWith(entryStart(entry), "VVVSAA"))
                return entry;
        return -1;
    }

    // Turns the consecutive entries of one track, walking backwards from `entry`, into items
    // inserted at the front of items. `next` is the position where the latest item ends; both are
    // moved to the track's first entry. taken counts the items made.
    bool walkTrack(const ControlFile& pq, int trackNumber, const Stream& image, int& entry, int& next,
                   IndexItem::List& items, int& taken, bool keepCatalogue)
    {
        taken = 0;
        for (; entry >= 0 && pq.startsWith(entryStart(entry), entryPrefix(trackNumber)); --entry)
        {
            const auto e = parseEntry(pq, entry);
            if (!e)
                return false;
            if (e->time > next)
                return fail(outOfOrderMessage());

            IndexItem::Ptr item = new IndexItem();
            item->trackNumber = trackNumber;
            item->indexNumber = e->indexNumber;
            item->length.frames = next - e->time;
            item->isrc = e->isrc;

            const auto offset = e->time - image.start;
            if (offset >= 0)
            {
                if (offset + static_cast<juce::int64>(item->length.frames) > image.length)
                    return fail("Track " + juce::String(trackNumber) + " does not fit in image file " +
                                image.name + ".");
                item->folder = folder.getFullPathName();
                item->fileName = image.file.getFileName();
                item->sourceOffset.frames = offset;
            }

            if (keepCatalogue && e->catalogueNumber.isNotEmpty())
                pqMcn = e->catalogueNumber;
            items.insert(0, item);
            next = e->time;
            ++taken;
        }
        return true;
    }

    juce::String outOfOrderMessage() const
    {
        return "The entries of PQ descriptor file " + pqStream.name + " are not in time order.";
    }

    bool readAudioSession(const ControlFile& pq)
    {
        audioLeadOutEntry = findLeadOut(pq, 0);
        if (audioLeadOutEntry < 0)
            return fail("No leadout (AA) packet found in PQ descriptor file " + pqStream.name + ".");
        const auto leadOut = parseEntry(pq, audioLeadOutEntry);
        if (!leadOut)
            return false;
        audioLeadOutTime = leadOut->time;

        // A lead-out without entries in front of it, or with a lead-in right there, has no tracks.
        lastTrack = 0;
        if (audioLeadOutEntry > 0)
        {
            const auto last = parseEntry(pq, audioLeadOutEntry - 1);
            if (!last)
                return false;
            lastTrack = last->trackNumber;
        }

        // Counting audio images apart from the data image keeps every audio track in an audio image,
        // wherever the map puts the data stream.
        const auto audioCount = static_cast<int>(audioImages.size());
        if (audioCount < lastTrack && audioCount != 1)
            return fail("There are more audio tracks than audio image files.");
        if (lastTrack < audioCount)
            return fail("There are more audio image files than audio tracks.");

        auto entry = audioLeadOutEntry - 1;
        auto next = audioLeadOutTime;
        for (auto t = lastTrack; t >= 1; --t)
        {
            const auto& image =
                audioCount == 1 ? audioImages.front() : audioImages[static_cast<size_t>(t - 1)];
            int taken = 0;
            if (!walkTrack(pq, t, image, entry, next, indexItems, taken, true))
                return false;
            if (taken == 0)
                return fail("No entry for track " + juce::String(t) + " found in PQ descriptor file " +
                            pqStream.name + ".");
        }

        if (entry < 0 || !pq.startsWith(entryStart(entry), entryPrefix(0)))
            return fail("No leadin (00) packet found in PQ descriptor file " + pqStream.name + ".");
        const auto leadInCatalogue = pq.text(entryStart(entry), PqField::catalogueNumber).trim();
        if (leadInCatalogue.isNotEmpty())
            pqMcn = leadInCatalogue;

        if (pqMcn.isNotEmpty())
        {
            if (mcn.isNotEmpty() && mcn != pqMcn)
                Alerts::warning("Different MCN/UPC found in DDPID and " + pqStream.name +
                                ", the value found in the " + pqStream.name + " will be used.");
            mcn = pqMcn;
        }
        return true;
    }

    bool readDataSession(const ControlFile& pq)
    {
        const auto leadInEntry = audioLeadOutEntry + 1;
        if (entryStart(leadInEntry + 1) > pq.size() ||
            !pq.startsWith(entryStart(leadInEntry), entryPrefix(0)))
            return fail("No leadin (00) packet found in data session Enhanced CD.");
        const auto leadIn = parseEntry(pq, leadInEntry);
        if (!leadIn)
            return false;
        if (leadIn->time < audioLeadOutTime)
            return fail(outOfOrderMessage());
        audioLeadOutLength = leadIn->time - audioLeadOutTime;

        const auto leadOutEntry = findLeadOut(pq, leadInEntry + 1);
        if (leadOutEntry < 0)
            return fail("No leadout (AA) packet found in data session Enhanced CD.");
        const auto leadOut = parseEntry(pq, leadOutEntry);
        if (!leadOut)
            return false;

        const auto dataTrack = lastTrack + 1;
        if (!pq.startsWith(entryStart(leadOutEntry - 1), entryPrefix(dataTrack)))
            return fail("Invalid number of data tracks found in data session.");

        if (ISOfile(dataImage->file.getFullPathName()).findPrimaryVolumeDescriptor() < 0)
            return fail(dataImage->name + " is not a valid ISO file.");

        auto entry = leadOutEntry - 1;
        auto next = leadOut->time;
        int taken = 0;
        if (!walkTrack(pq, dataTrack, *dataImage, entry, next, dataItems, taken, false))
            return false;
        // Anything between the data lead-in and the data track is a second data track.
        if (entry != leadInEntry)
            return fail("Invalid number of data tracks found in data session.");
        if (next < leadIn->time)
            return fail(outOfOrderMessage());
        dataLeadInLength = next - leadIn->time;
        return true;
    }

    // Track 1's pause entry becomes the disc's first pregap again; a longer pause keeps the rest as
    // an index 0 item whose audio starts after the first pregap's 150 frames.
    void foldFirstPregap()
    {
        const auto pregapFrames = disc.firstPregap->length.frames;
        auto* first = indexItems.getFirst().get();
        firstPregapIsrc = first->isrc;
        if (first->indexNumber != 0)
            return;
        if (first->length.frames <= pregapFrames)
        {
            indexItems.remove(0);
            return;
        }
        first->length.frames -= pregapFrames;
        if (first->fileName.isNotEmpty())
            first->sourceOffset.frames += pregapFrames;
    }

    CDItem& disc;
    const juce::File folder;

    juce::String identifierMcn;
    std::vector<Stream> images; // every image stream, in map order
    std::vector<Stream> audioImages;
    std::optional<Stream> dataImage;
    Stream pqStream;
    std::optional<Stream> cdTextStream;

    int audioLeadOutEntry = -1;
    int audioLeadOutTime = 0;
    int lastTrack = 0;
    juce::String pqMcn;

    // What the disc receives once the whole fileset is accepted.
    juce::String mcn;
    juce::String firstPregapIsrc;
    IndexItem::List indexItems;
    IndexItem::List dataItems;
    int audioLeadOutLength = 0;
    int dataLeadInLength = 0;
};
} // namespace

bool DdpReader::read(CDItem& disc, const juce::String& folder, const juce::BlowFish* cipher)
{
    disc.clear();
    disc.cipher = cipher;
    return Reader(disc, folder).read(cipher);
}

juce::File DdpReader::locate(const juce::File& folder, const juce::String& name)
{
    if (name.isEmpty() || name.containsAnyOf("/\\") || name == "." || name == "..")
        return {};

    const juce::File exact(folder.getFullPathName() + "/" + name);
    if (exact.existsAsFile())
        return exact;

    juce::File found;
    for (const auto& file : folder.findChildFiles(juce::File::findFiles, false))
        if (file.getFileName().equalsIgnoreCase(name) &&
            (found == juce::File() || file.getFileName() > found.getFileName()))
            found = file;
    return found;
}

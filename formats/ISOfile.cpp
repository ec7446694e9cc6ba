#include "formats/ISOfile.h"

#include "formats/Iso9660Layout.h"

#include <array>
#include <map>
#include <set>

using namespace iso9660;

namespace
{
using Sector = std::array<juce::uint8, (size_t)sectorSize>;

constexpr int extractPieceBytes = 1 << 20;
constexpr int outputBufferBytes = 32768;

// Reads byte ranges of the image through a one-sector cache. A range that does not lie wholly
// inside the file is refused, so that nothing an image claims can send a read elsewhere.
class ImageReader
{
public:
    explicit ImageReader(const juce::File& file)
        : stream(file), length(file.existsAsFile() && stream.openedOk() ? stream.getTotalLength() : -1)
    {
    }

    bool openedOk() const { return length >= 0; }
    juce::int64 size() const { return length; }

    bool read(juce::int64 position, void* dest, juce::int64 count)
    {
        if (!openedOk() || position < 0 || count < 0 || position > length || count > length - position)
            return false;
        auto* out = static_cast<juce::uint8*>(dest);
        while (count > 0)
        {
            const juce::int64 sector = position / sectorSize;
            if (!loadSector(sector))
                return false;
            const juce::int64 offset = position - sector * sectorSize;
            const juce::int64 chunk = juce::jmin(count, sectorSize - offset);
            std::memcpy(out, cache.data() + offset, (size_t)chunk);
            out += chunk;
            position += chunk;
            count -= chunk;
        }
        return true;
    }

    // Up to count bytes straight from the file; 0 at its end.
    int readRaw(juce::int64 position, void* dest, int count)
    {
        if (!openedOk() || !stream.setPosition(position))
            return 0;
        return juce::jmax(0, stream.read(dest, count));
    }

private:
    bool loadSector(juce::int64 sector)
    {
        if (sector == cachedSector)
            return true;
        cachedSector = -1;
        const juce::int64 start = sector * sectorSize;
        const int bytes = (int)juce::jmin(sectorSize, length - start);
        if (!stream.setPosition(start) || stream.read(cache.data(), bytes) != bytes)
            return false;
        cachedSector = sector;
        return true;
    }

    juce::FileInputStream stream;
    juce::int64 length;
    juce::int64 cachedSector = -1;
    Sector cache{};
};

bool isDescriptor(const juce::uint8* sector)
{
    return std::memcmp(sector + descriptor::standardIdentifier.offset, descriptor::standardIdentifierText,
                       (size_t)descriptor::standardIdentifier.size) == 0;
}

juce::int64 findPrimaryDescriptor(ImageReader& image)
{
    std::array<juce::uint8, 6> head{};
    for (juce::int64 position = 0; position < image.size(); position += sectorSize)
        if (image.read(position, head.data(), (juce::int64)head.size()) &&
            head[0] == descriptor::primaryType && isDescriptor(head.data()))
            return position;
    return -1;
}

const Field rootExtent = nested(descriptor::rootDirectoryRecord, directoryRecord::extent);

// The root directory is the first sector, from the descriptor on, whose first record names the
// root's extent (its "." entry). Its file position against its address gives the disc address of
// the volume's first byte.
juce::int64 findImageStart(ImageReader& image, juce::int64 pvd)
{
    if (pvd < 1)
        return -1;
    Sector descriptorSector;
    if (!image.read(pvd, descriptorSector.data(), sectorSize))
        return -1;
    const juce::uint32 rootAddress = readNumber(descriptorSector.data(), rootExtent);

    const Field& extent = directoryRecord::extent;
    std::array<juce::uint8, (size_t)(extent.offset + extent.size)> head{};
    for (juce::int64 position = pvd; image.read(position, head.data(), (juce::int64)head.size());
         position += sectorSize)
        if (readNumber(head.data(), extent) == rootAddress)
            return (juce::int64)rootAddress * sectorSize + pvd - position - systemAreaSize;
    return -1;
}

// Collects every address field of the image with its rebased value, reading only, and writes
// them all only when the whole tree was walked without finding anything inconsistent.
class Relocation
{
public:
    Relocation(ImageReader& imageToRead, juce::int64 firstSectorPosition, juce::int64 deltaBytes)
        : image(imageToRead), fileBase(firstSectorPosition), delta(deltaBytes)
    {
    }

    bool plan(juce::int64 pvd)
    {
        struct Tables
        {
            std::array<juce::uint32, 4> locations{};
            juce::uint32 size = 0;
        };
        const std::array<Field, 4> tableFields{descriptor::typeLPathTable, descriptor::optionalTypeLPathTable,
                                               descriptor::typeMPathTable,
                                               descriptor::optionalTypeMPathTable};
        std::map<juce::uint8, Tables> tablesByType;

        for (juce::int64 position = pvd;; position += sectorSize)
        {
            Sector sector;
            if (!image.read(position, sector.data(), sectorSize) || !isDescriptor(sector.data()))
                return false; // the set must end with a terminator
            const juce::uint8 type = sector[0];
            if (type == descriptor::terminatorType)
                break;
            if (type != descriptor::primaryType && type != descriptor::supplementaryType)
                continue;

            Tables tables;
            tables.size = readNumber(sector.data(), descriptor::pathTableSize);
            for (size_t i = 0; i < tableFields.size(); ++i)
            {
                tables.locations[i] = readNumber(sector.data(), tableFields[i]);
                const bool optional = i == 1 || i == 3;
                if ((!optional || tables.locations[i] != 0) &&
                    !rebase(position, tableFields[i], tables.locations[i]))
                    return false;
            }
            if (!rebase(position, rootExtent, readNumber(sector.data(), rootExtent)))
                return false;
            tablesByType[type] = tables;
        }

        for (const juce::uint8 type : {descriptor::primaryType, descriptor::supplementaryType})
        {
            const auto found = tablesByType.find(type);
            if (found == tablesByType.end())
                continue;
            const Tables& tables = found->second;
            for (size_t i = 0; i < tables.locations.size(); ++i)
                if (tables.locations[i] != 0 &&
                    !walkPathTable(tables.locations[i], tables.size,
                                   i < 2 ? pathTableEntry::extentL : pathTableEntry::extentM, i == 0))
                    return false;
        }

        // Two different fields sharing bytes means the records overlap: nothing sane to write.
        juce::int64 previousEnd = 0;
        for (const auto& [position, patch] : patches)
        {
            if (position < previousEnd)
                return false;
            previousEnd = position + patch.field.size;
        }
        return true;
    }

    void apply(const juce::File& file) const
    {
        juce::FileOutputStream out(file, outputBufferBytes); // an existing file is opened unchanged
        if (!out.openedOk())
            return;
        for (const auto& [position, patch] : patches)
        {
            std::array<juce::uint8, 8> bytes{};
            writeNumber(bytes.data(), patch.field, patch.value);
            if (!out.setPosition(position) || !out.write(bytes.data(), (size_t)patch.field.size))
                return;
        }
        out.flush();
    }

private:
    struct Patch
    {
        Field field; // offset 0: the map key is the field's own file position
        juce::uint32 value;
    };

    juce::int64 filePosition(juce::uint32 address) const
    {
        return (juce::int64)address * sectorSize + fileBase;
    }

    bool rebase(juce::int64 recordPosition, Field field, juce::uint32 address)
    {
        const juce::int64 moved = ((juce::int64)address * sectorSize - delta) / sectorSize;
        if (moved < 0 || moved > (juce::int64)std::numeric_limits<juce::uint32>::max())
            return false;
        const Patch patch{{0, field.size, field.order}, (juce::uint32)moved};
        const auto [existing, inserted] = patches.emplace(recordPosition + field.offset, patch);
        // The same field reached twice (two tables at one location, a directory listed twice) is
        // rebased once.
        return inserted ||
               (existing->second.field.size == field.size && existing->second.field.order == field.order);
    }

    bool walkPathTable(juce::uint32 location, juce::uint32 tableSize, Field entryExtent, bool walkDirectories)
    {
        const juce::int64 start = filePosition(location);
        const juce::int64 end = start + tableSize;
        if (start < 0 || end > image.size())
            return false;

        std::array<juce::uint8, (size_t)pathTableEntry::fixedLength> entry{};
        for (juce::int64 position = start; position < end;)
        {
            if (!image.read(position, entry.data(), 1))
                return false;
            const int identifierLength = entry[0];
            if (identifierLength == 0)
                break;
            if (position + pathTableEntry::fixedLength + identifierLength > end ||
                !image.read(position, entry.data(), (juce::int64)entry.size()))
                return false;
            const juce::uint32 address = readNumber(entry.data(), entryExtent);
            if (!rebase(position, entryExtent, address))
                return false;
            if (walkDirectories && !walkDirectory(address))
                return false;
            position += pathTableEntry::fixedLength + identifierLength + (identifierLength & 1);
        }
        return true;
    }

    bool walkDirectory(juce::uint32 address)
    {
        if (!walkedDirectories.insert(address).second)
            return true;

        const juce::int64 start = filePosition(address);
        const Field& length = directoryRecord::length;
        const Field& extent = directoryRecord::extent;
        std::array<juce::uint8,
                   (size_t)(directoryRecord::dataLength.offset + directoryRecord::dataLength.size)>
            first{};
        if (!image.read(start, first.data(), 1))
            return false;
        if (first[0] == 0)
            return true;
        if (!image.read(start, first.data(), (juce::int64)first.size()))
            return false;

        const juce::int64 dataLength = readNumber(first.data(), directoryRecord::dataLength);
        const juce::int64 limit = start + dataLength;
        // The first record is the directory's "." entry and names the directory itself.
        if (readNumber(first.data(), extent) != address || dataLength < first[0] || limit > image.size())
            return false;

        // A zero length byte pads the rest of a sector, except in the last sector, where it ends
        // the directory.
        const juce::int64 lastSector = limit - sectorSize;
        std::array<juce::uint8, (size_t)(extent.offset + extent.size)> record{};
        for (juce::int64 position = start; position < limit;)
        {
            if (!image.read(position, record.data(), length.size))
                return false;
            const int recordLength = record[0];
            if (recordLength == 0)
            {
                if (position >= lastSector)
                    break;
                position = (position / sectorSize + 1) * sectorSize;
                continue;
            }
            if (recordLength < directoryRecord::minimumLength ||
                position % sectorSize + recordLength > sectorSize || position + recordLength > limit ||
                !image.read(position, record.data(), (juce::int64)record.size()) ||
                !rebase(position, extent, readNumber(record.data(), extent)))
                return false;
            position += recordLength;
        }
        return true;
    }

    ImageReader& image;
    const juce::int64 fileBase; // file position of sector address 0
    const juce::int64 delta;
    std::map<juce::int64, Patch> patches; // by file position of the field
    std::set<juce::uint32> walkedDirectories;
};
} // namespace

juce::int64 ISOfile::findPrimaryVolumeDescriptor() const
{
    ImageReader image{juce::File(path)};
    return findPrimaryDescriptor(image);
}

juce::int64 ISOfile::getImageStart() const
{
    ImageReader image{juce::File(path)};
    return findImageStart(image, findPrimaryDescriptor(image));
}

void ISOfile::extractVolume(const juce::String& destinationPath, juce::int64 fromByte) const
{
    ImageReader image{juce::File(path)};
    const Field& volumeSize = descriptor::volumeSpaceSize;
    std::array<juce::uint8, (size_t)(volumeSize.offset + volumeSize.size)> head{};
    if (fromByte < 0 || !image.read(fromByte + systemAreaSize, head.data(), (juce::int64)head.size()))
        return;
    const juce::int64 end = fromByte + (juce::int64)readNumber(head.data(), volumeSize) * sectorSize;

    juce::FileOutputStream out(juce::File(destinationPath), outputBufferBytes);
    if (!out.openedOk())
        return;
    juce::HeapBlock<char> piece(extractPieceBytes);
    for (juce::int64 position = fromByte; position < end;)
    {
        const int got = image.readRaw(position, piece.get(),
                                      (int)juce::jmin((juce::int64)extractPieceBytes, end - position));
        if (got <= 0 || !out.write(piece.get(), (size_t)got))
            break;
        position += got;
    }
    out.flush();
}

void ISOfile::relocate(juce::int64 deltaBytes) const
{
    const juce::File file(path);
    ImageReader image(file);
    const juce::int64 pvd = findPrimaryDescriptor(image);
    if (pvd < 0)
        return;
    // Without the root directory the file positions of the addresses are unknown.
    const juce::int64 imageStart = findImageStart(image, pvd);
    if (imageStart < 0)
        return;

    Relocation relocation(image, pvd - systemAreaSize - imageStart, deltaBytes);
    if (relocation.plan(pvd))
        relocation.apply(file);
}

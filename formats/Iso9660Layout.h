#pragma once

#include <juce_core/juce_core.h>

// The ISO 9660 records that ISOfile reads and rewrites, as fields at fixed byte offsets from the
// start of their record. Every offset ISOfile uses is here.
namespace iso9660
{
constexpr juce::int64 sectorSize = 2048;
constexpr juce::int64 systemAreaSize = 16 * sectorSize; // the first descriptor follows it

enum class ByteOrder
{
    none,   // single byte or character data
    little, // 32-bit little-endian
    big,    // 32-bit big-endian
    both    // 32-bit little-endian followed by the same value big-endian (8 bytes)
};

struct Field
{
    int offset;
    int size;
    ByteOrder order;
};

// Volume descriptor: one 2048-byte sector of the descriptor set that starts at systemAreaSize.
namespace descriptor
{
constexpr Field type{0, 1, ByteOrder::none};
constexpr Field standardIdentifier{1, 5, ByteOrder::none};
constexpr Field volumeSpaceSize{80, 8, ByteOrder::both};
constexpr Field pathTableSize{132, 8, ByteOrder::both};
constexpr Field typeLPathTable{140, 4, ByteOrder::little};
constexpr Field optionalTypeLPathTable{144, 4, ByteOrder::little};
constexpr Field typeMPathTable{148, 4, ByteOrder::big};
constexpr Field optionalTypeMPathTable{152, 4, ByteOrder::big};
constexpr int rootDirectoryRecord = 156; // a directory record (below) embedded in the descriptor

constexpr const char* standardIdentifierText = "CD001";
constexpr juce::uint8 primaryType = 1;
constexpr juce::uint8 supplementaryType = 2;
constexpr juce::uint8 terminatorType = 255;
} // namespace descriptor

// Directory record: a directory's extent is a sequence of these; none crosses a sector boundary,
// and a length byte of 0 pads the rest of a sector.
namespace directoryRecord
{
constexpr Field length{0, 1, ByteOrder::none};
constexpr Field extent{2, 8, ByteOrder::both};
constexpr Field dataLength{10, 8, ByteOrder::both};
constexpr int minimumLength = 34; // 33 fixed bytes and a one-byte identifier
} // namespace directoryRecord

// Path table entry: 8 fixed bytes, the identifier and a pad byte when the identifier's length is
// odd. Type-L tables hold little-endian numbers, type-M tables big-endian ones.
namespace pathTableEntry
{
constexpr Field identifierLength{0, 1, ByteOrder::none};
constexpr Field extentL{2, 4, ByteOrder::little};
constexpr Field extentM{2, 4, ByteOrder::big};
constexpr int fixedLength = 8;
} // namespace pathTableEntry

// A 32-bit number field read from its little-endian bytes, its big-endian bytes or, for a
// both-endian field, its big-endian half.
inline juce::uint32 readNumber(const juce::uint8* record, Field field)
{
    const juce::uint8* p = record + field.offset;
    switch (field.order)
    {
    case ByteOrder::little:
        return juce::ByteOrder::littleEndianInt(p);
    case ByteOrder::big:
        return juce::ByteOrder::bigEndianInt(p);
    case ByteOrder::both:
        return juce::ByteOrder::bigEndianInt(p + 4);
    case ByteOrder::none:
        break;
    }
    return p[0];
}

// Stores value in the field's own byte order (both halves of a both-endian field).
inline void writeNumber(juce::uint8* record, Field field, juce::uint32 value)
{
    juce::uint8* p = record + field.offset;
    auto little = [value](juce::uint8* q)
    {
        for (int i = 0; i < 4; ++i)
            q[i] = (juce::uint8)(value >> (8 * i));
    };
    auto big = [value](juce::uint8* q)
    {
        for (int i = 0; i < 4; ++i)
            q[i] = (juce::uint8)(value >> (8 * (3 - i)));
    };
    switch (field.order)
    {
    case ByteOrder::little:
        little(p);
        break;
    case ByteOrder::big:
        big(p);
        break;
    case ByteOrder::both:
        little(p);
        big(p + 4);
        break;
    case ByteOrder::none:
        p[0] = (juce::uint8)value;
        break;
    }
}

// A field of a record that is embedded in another one, e.g. the root directory record's extent
// inside a descriptor.
constexpr Field nested(int recordOffset, Field field)
{
    return {recordOffset + field.offset, field.size, field.order};
}
} // namespace iso9660

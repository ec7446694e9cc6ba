#pragma once

#include <juce_core/juce_core.h>

#include <vector>

// The fixed-width ASCII records of a DDP fileset: PQ descriptor entries (PQDESCR), map packets
// (DDPMS) and the identifier (DDPID). Every record is laid out from its field table by one
// function, which refuses a table whose fields do not tile the record exactly and any content
// that is not plain ASCII of exactly its field's width, so a record of the wrong length is never
// produced.
class DdpRecords
{
public:
    static constexpr int pqEntryLength = 64;
    static constexpr int mapPacketLength = 128;
    static constexpr int identifierLength = 128;
    static constexpr int isrcWidth = 12;
    static constexpr int catalogueNumberWidth = 13;

    // Where a field lies in its record, in bytes.
    struct Span
    {
        int offset;
        int width;
        constexpr int end() const { return offset + width; }
    };

    // The layout of the three records. The writer's field tables are built from these spans and
    // append() checks that they tile each record; the reader takes its fields from the same spans.
    struct PqField
    {
        static constexpr Span entryIdentifier{0, 4}, track{4, 2}, index{6, 2}, hours{8, 2}, minutes{10, 2},
            seconds{12, 2}, frames{14, 2}, control1{16, 2}, control2{18, 2}, isrc{20, isrcWidth},
            catalogueNumber{32, catalogueNumberWidth}, reserved{45, 19};
    };
    struct MapField
    {
        static constexpr Span packetIdentifier{0, 4}, streamType{4, 2}, streamPointer{6, 8},
            streamLength{14, 8}, streamStart{22, 8}, subcodeDescriptor{30, 8}, cdMode{38, 2},
            sourceStorageMode{40, 1}, scrambling{41, 1}, pregap1{42, 4}, pregap2{46, 4}, postgap{50, 4},
            mediaNumber{54, 1}, track{55, 2}, index{57, 2}, isrc{59, 12}, identifierLength{71, 3},
            streamIdentifier{74, 17}, newSession{91, 1}, nextTrackPregap{92, 4}, pauseAdd{96, 8},
            offset{104, 9}, padding{113, 15};
    };
    struct IdField
    {
        static constexpr Span level{0, 8}, upcEan{8, catalogueNumberWidth}, mapStreamStart{21, 8},
            reserved1{29, 8}, mediaNumber{37, 1}, masterIdentifier{38, 48}, book{86, 1}, type{87, 2},
            numberOfSides{89, 1}, side{90, 1}, numberOfLayers{91, 1}, layer{92, 1}, direction{93, 1},
            reserved2{94, 2}, userText{96, 32};
    };

    // One field of a record: its byte offset, its width in bytes, its name for error texts and the
    // text it holds.
    struct Field
    {
        Field(int fieldOffset, int fieldWidth, const char* fieldName, juce::String text)
            : offset(fieldOffset), width(fieldWidth), name(fieldName), content(std::move(text))
        {
        }
        Field(Span span, const char* fieldName, juce::String text)
            : Field(span.offset, span.width, fieldName, std::move(text))
        {
        }
        int offset;
        int width;
        const char* name;
        juce::String content;
    };

    // Appends the record described by fields to out. Fails, leaving out unchanged, when the
    // fields leave a gap, overlap or do not end at recordLength, or when a content is not
    // printable ASCII of exactly the field's width.
    static juce::Result append(juce::MemoryBlock& out, const char* recordName, int recordLength,
                               const std::vector<Field>& fields);

    // Field contents. The results are not cut: a value too wide for its field is left wide, so that
    // append() refuses it.
    static juce::String spaces(int width);
    static juce::String number(juce::int64 value, int digits);             // "%0*d"
    static juce::String rightAligned(const juce::String& text, int width); // spaces in front
    static juce::String leftAligned(const juce::String& text, int width);  // spaces after

    // True when text fits a field of the given width: printable ASCII, at most width characters.
    static bool fits(const juce::String& text, int width);

    // A PQ descriptor entry. track and index are the two-character texts ("00", "AA", "%02d");
    // start is the disc position in frames; control is "01" or "41".
    struct PqEntry
    {
        juce::String track;
        juce::String index;
        int start = 0;
        juce::String control;
        juce::String isrc;
        juce::String catalogueNumber;
    };
    static juce::Result appendPqEntry(juce::MemoryBlock& out, const PqEntry& entry);

    // The four kinds of map packet. Lengths are in the unit of their stream: bytes for the CD-Text
    // and PQ streams, 2352-byte frames for the audio image, 2048-byte sectors for the data image.
    static juce::Result appendCdTextPacket(juce::MemoryBlock& out, juce::int64 cdTextBytes);
    static juce::Result appendPqPacket(juce::MemoryBlock& out, juce::int64 pqBytes);
    static juce::Result appendAudioPacket(juce::MemoryBlock& out, const juce::String& imageName,
                                          juce::int64 frames);
    static juce::Result appendDataPacket(juce::MemoryBlock& out, juce::int64 sectors, int dataStart);

    // The identifier record; "O" in the book field when the disc has a data session.
    static juce::Result appendIdentifier(juce::MemoryBlock& out, const juce::String& mcn,
                                         bool hasDataSession);

private:
    // Every field starts as spaces; a packet kind sets its own.
    struct MapPacket
    {
        MapPacket();
        juce::String streamType;
        juce::String streamLength;
        juce::String streamStart;
        juce::String subcodeDescriptor;
        juce::String cdMode;
        juce::String sourceStorageMode;
        juce::String scrambling;
        juce::String pregap2;
        juce::String track;
        juce::String streamIdentifier;
        juce::String newSession;
    };
    static juce::Result appendMapPacket(juce::MemoryBlock& out, const MapPacket& packet);
};

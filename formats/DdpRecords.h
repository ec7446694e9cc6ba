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

    // One field of a record: its byte offset, its width in bytes, its name for error texts and the
    // text it holds.
    struct Field
    {
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

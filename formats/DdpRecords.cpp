#include "formats/DdpRecords.h"

#include "model/CDDuration.h"

#include <cstdio>

namespace
{
bool isPrintableAscii(const juce::String& text)
{
    for (auto p = text.getCharPointer(); !p.isEmpty(); ++p)
        if (*p < 0x20 || *p > 0x7e)
            return false;
    return true;
}
} // namespace

juce::Result DdpRecords::append(juce::MemoryBlock& out, const char* recordName, int recordLength,
                                const std::vector<Field>& fields)
{
    const auto fail = [recordName](const juce::String& why)
    { return juce::Result::fail("Cannot write " + juce::String(recordName) + ": " + why); };

    int end = 0;
    for (const auto& field : fields)
    {
        if (field.offset != end || field.width <= 0)
            return fail("the field " + juce::String(field.name) + " does not follow the previous one.");
        if (!isPrintableAscii(field.content))
            return fail("the " + juce::String(field.name) + " \"" + field.content +
                        "\" holds characters other than plain ASCII.");
        if (field.content.length() != field.width)
            return fail("the " + juce::String(field.name) + " \"" + field.content + "\" does not fit its " +
                        juce::String(field.width) + "-character field.");
        end += field.width;
    }
    if (end != recordLength)
        return fail("the fields cover " + juce::String(end) + " of " + juce::String(recordLength) +
                    " bytes.");

    for (const auto& field : fields)
        out.append(field.content.toRawUTF8(), static_cast<size_t>(field.width));
    return juce::Result::ok();
}

juce::String DdpRecords::spaces(int width)
{
    return juce::String::repeatedString(" ", width);
}

juce::String DdpRecords::number(juce::int64 value, int digits)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%0*lld", digits, static_cast<long long>(value));
    return text;
}

juce::String DdpRecords::rightAligned(const juce::String& text, int width)
{
    return spaces(juce::jmax(0, width - text.length())) + text;
}

juce::String DdpRecords::leftAligned(const juce::String& text, int width)
{
    return text + spaces(juce::jmax(0, width - text.length()));
}

bool DdpRecords::fits(const juce::String& text, int width)
{
    return text.length() <= width && isPrintableAscii(text);
}

juce::Result DdpRecords::appendPqEntry(juce::MemoryBlock& out, const PqEntry& e)
{
    const auto frames = cdtime::framesPerMinute;
    return append(out, "PQDESCR", pqEntryLength,
                  {
                      {0, 4, "entry identifier", "VVVS"},
                      {4, 2, "track", e.track},
                      {6, 2, "index", e.index},
                      {8, 2, "hours", spaces(2)},
                      {10, 2, "minutes", number(e.start / frames, 2)},
                      {12, 2, "seconds", number((e.start % frames) / cdtime::framesPerSecond, 2)},
                      {14, 2, "frames", number(e.start % cdtime::framesPerSecond, 2)},
                      {16, 2, "control 1", e.control},
                      {18, 2, "control 2", spaces(2)},
                      {20, 12, "ISRC", rightAligned(e.isrc, isrcWidth)},
                      {32, 13, "catalogue number", rightAligned(e.catalogueNumber, catalogueNumberWidth)},
                      {45, 19, "reserved field", spaces(19)},
                  });
}

juce::Result DdpRecords::appendMapPacket(juce::MemoryBlock& out, const MapPacket& p)
{
    return append(out, "DDPMS", mapPacketLength,
                  {
                      {0, 4, "packet identifier", "VVVM"},
                      {4, 2, "stream type", p.streamType},
                      {6, 8, "stream pointer", spaces(8)},
                      {14, 8, "stream length", p.streamLength},
                      {22, 8, "stream start", p.streamStart},
                      {30, 8, "subcode descriptor", p.subcodeDescriptor},
                      {38, 2, "CD mode", p.cdMode},
                      {40, 1, "source storage mode", p.sourceStorageMode},
                      {41, 1, "scrambling", p.scrambling},
                      {42, 4, "pregap part 1", spaces(4)},
                      {46, 4, "pregap part 2", p.pregap2},
                      {50, 4, "postgap", spaces(4)},
                      {54, 1, "media number", spaces(1)},
                      {55, 2, "track", p.track},
                      {57, 2, "index", spaces(2)},
                      {59, 12, "ISRC", spaces(12)},
                      {71, 3, "identifier length", "017"},
                      {74, 17, "stream identifier", leftAligned(p.streamIdentifier, 17)},
                      {91, 1, "new session", p.newSession},
                      {92, 4, "next track's pregap", spaces(4)},
                      {96, 8, "pause add", spaces(8)},
                      {104, 9, "offset", spaces(9)},
                      {113, 15, "padding", spaces(15)},
                  });
}

DdpRecords::MapPacket::MapPacket()
    : streamType(spaces(2)), streamLength(spaces(8)), streamStart(spaces(8)), subcodeDescriptor(spaces(8)),
      cdMode(spaces(2)), sourceStorageMode(spaces(1)), scrambling(spaces(1)), pregap2(spaces(4)),
      track(spaces(2)), streamIdentifier(spaces(17)), newSession(spaces(1))
{
}

juce::Result DdpRecords::appendCdTextPacket(juce::MemoryBlock& out, juce::int64 cdTextBytes)
{
    MapPacket p;
    p.streamType = "S0";
    p.streamLength = number(cdTextBytes, 8);
    p.subcodeDescriptor = "CDTEXT  ";
    p.track = "00";
    p.streamIdentifier = "CDTEXT.BIN";
    return appendMapPacket(out, p);
}

juce::Result DdpRecords::appendPqPacket(juce::MemoryBlock& out, juce::int64 pqBytes)
{
    MapPacket p;
    p.streamType = "S0";
    p.streamLength = number(pqBytes, 8);
    p.subcodeDescriptor = "PQ DESCR";
    p.streamIdentifier = "PQDESCR";
    return appendMapPacket(out, p);
}

juce::Result DdpRecords::appendAudioPacket(juce::MemoryBlock& out, const juce::String& imageName,
                                           juce::int64 frames)
{
    MapPacket p;
    p.streamType = "D0";
    p.streamLength = number(frames, 8);
    p.streamStart = "00000000";
    p.cdMode = "DA";
    p.sourceStorageMode = "7";
    p.scrambling = "0";
    p.pregap2 = "0150";
    p.streamIdentifier = imageName;
    return appendMapPacket(out, p);
}

juce::Result DdpRecords::appendDataPacket(juce::MemoryBlock& out, juce::int64 sectors, int dataStart)
{
    MapPacket p;
    p.streamType = "D0";
    p.streamLength = number(sectors, 8);
    p.streamStart = number(dataStart, 8);
    p.cdMode = "10";
    p.sourceStorageMode = "0";
    p.scrambling = "0";
    p.pregap2 = " 150"; // a space, unlike the audio packet's "0150"
    p.streamIdentifier = "IMAGE02.DAT";
    p.newSession = "S";
    return appendMapPacket(out, p);
}

juce::Result DdpRecords::appendIdentifier(juce::MemoryBlock& out, const juce::String& mcn,
                                          bool hasDataSession)
{
    return append(out, "DDPID", identifierLength,
                  {
                      {0, 8, "level", "DDP 2.00"},
                      {8, 13, "UPC/EAN", rightAligned(mcn, catalogueNumberWidth)},
                      {21, 8, "map stream start", spaces(8)},
                      {29, 8, "reserved field", spaces(8)},
                      {37, 1, "media number", spaces(1)},
                      {38, 48, "master identifier", spaces(48)},
                      {86, 1, "book", hasDataSession ? "O" : " "},
                      {87, 2, "type", "CD"},
                      {89, 1, "number of sides", spaces(1)},
                      {90, 1, "side", spaces(1)},
                      {91, 1, "number of layers", spaces(1)},
                      {92, 1, "layer", spaces(1)},
                      {93, 1, "direction", spaces(1)},
                      {94, 2, "reserved field", spaces(2)},
                      {96, 32, "user text", spaces(32)},
                  });
}

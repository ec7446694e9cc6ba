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
                      {PqField::entryIdentifier, "entry identifier", "VVVS"},
                      {PqField::track, "track", e.track},
                      {PqField::index, "index", e.index},
                      {PqField::hours, "hours", spaces(2)},
                      {PqField::minutes, "minutes", number(e.start / frames, 2)},
                      {PqField::seconds, "seconds", number((e.start % frames) / cdtime::framesPerSecond, 2)},
                      {PqField::frames, "frames", number(e.start % cdtime::framesPerSecond, 2)},
                      {PqField::control1, "control 1", e.control},
                      {PqField::control2, "control 2", spaces(2)},
                      {PqField::isrc, "ISRC", rightAligned(e.isrc, isrcWidth)},
                      {PqField::catalogueNumber, "catalogue number",
                       rightAligned(e.catalogueNumber, catalogueNumberWidth)},
                      {PqField::reserved, "reserved field", spaces(19)},
                  });
}

juce::Result DdpRecords::appendMapPacket(juce::MemoryBlock& out, const MapPacket& p)
{
    return append(out, "DDPMS", mapPacketLength,
                  {
                      {MapField::packetIdentifier, "packet identifier", "VVVM"},
                      {MapField::streamType, "stream type", p.streamType},
                      {MapField::streamPointer, "stream pointer", spaces(8)},
                      {MapField::streamLength, "stream length", p.streamLength},
                      {MapField::streamStart, "stream start", p.streamStart},
                      {MapField::subcodeDescriptor, "subcode descriptor", p.subcodeDescriptor},
                      {MapField::cdMode, "CD mode", p.cdMode},
                      {MapField::sourceStorageMode, "source storage mode", p.sourceStorageMode},
                      {MapField::scrambling, "scrambling", p.scrambling},
                      {MapField::pregap1, "pregap part 1", spaces(4)},
                      {MapField::pregap2, "pregap part 2", p.pregap2},
                      {MapField::postgap, "postgap", spaces(4)},
                      {MapField::mediaNumber, "media number", spaces(1)},
                      {MapField::track, "track", p.track},
                      {MapField::index, "index", spaces(2)},
                      {MapField::isrc, "ISRC", spaces(12)},
                      {MapField::identifierLength, "identifier length", "017"},
                      {MapField::streamIdentifier, "stream identifier", leftAligned(p.streamIdentifier, 17)},
                      {MapField::newSession, "new session", p.newSession},
                      {MapField::nextTrackPregap, "next track's pregap", spaces(4)},
                      {MapField::pauseAdd, "pause add", spaces(8)},
                      {MapField::offset, "offset", spaces(9)},
                      {MapField::padding, "padding", spaces(15)},
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
                      {IdField::level, "level", "DDP 2.00"},
                      {IdField::upcEan, "UPC/EAN", rightAligned(mcn, catalogueNumberWidth)},
                      {IdField::mapStreamStart, "map stream start", spaces(8)},
                      {IdField::reserved1, "reserved field", spaces(8)},
                      {IdField::mediaNumber, "media number", spaces(1)},
                      {IdField::masterIdentifier, "master identifier", spaces(48)},
                      {IdField::book, "book", hasDataSession ? "O" : " "},
                      {IdField::type, "type", "CD"},
                      {IdField::numberOfSides, "number of sides", spaces(1)},
                      {IdField::side, "side", spaces(1)},
                      {IdField::numberOfLayers, "number of layers", spaces(1)},
                      {IdField::layer, "layer", spaces(1)},
                      {IdField::direction, "direction", spaces(1)},
                      {IdField::reserved2, "reserved field", spaces(2)},
                      {IdField::userText, "user text", spaces(32)},
                  });
}

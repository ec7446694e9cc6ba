#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>

// CD-Text pack files: 18-byte packs of one block in ISO 8859-1. The file writer and reader are
// members of CDItem (CDItem::saveCdTextFile, CDItem::loadCdTextFile, bodies in CdText.cpp).

// CRC-16 of a pack's first 16 bytes (polynomial 0x1021, register starting at 0, no reflection).
// A pack stores the ones' complement of it, high byte first.
std::uint16_t cdTextCrc(const std::uint8_t* packBytes16);

// Name of a CD-Text genre code (0 to 29) or of a language code (0 to 127); empty for any other.
juce::String cdTextGenreName(int genreCode);
juce::String cdTextLanguageName(int languageCode);

// The most text packs (types 0x80 to 0x87) one block can carry. With the three size-information
// packs the block then holds 255 packs: the one-byte sequence number stays below its wrap, and the
// block stays under the 256 packs that the reader refuses, so everything written reads back.
constexpr int cdTextMaxTextPacks = 252;

#pragma once

#include <juce_cryptography/juce_cryptography.h>

// The enciphering of the DDP control files (PQDESCR, DDPMS, DDPID) with the per-run Blowfish
// cipher. Each whole 8-byte block, from the start, is two 32-bit little-endian words enciphered as
// the left and right half; the 1 to 7 bytes after the last whole block stay plain, so the result
// has the length of the text.
class DdpControlCipher
{
public:
    static void encipher(juce::MemoryBlock& data, const juce::BlowFish& cipher);
    static void decipher(juce::MemoryBlock& data, const juce::BlowFish& cipher);
    // In place; data starts on a block boundary of the enciphered text.
    static void decipher(void* data, size_t size, const juce::BlowFish& cipher);
};

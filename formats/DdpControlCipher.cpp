#include "formats/DdpControlCipher.h"

#include <cstring>

namespace
{
void storeLittleEndian(juce::uint32 value, char* bytes)
{
    value = juce::ByteOrder::swapIfBigEndian(value);
    std::memcpy(bytes, &value, sizeof(value));
}

template <typename Operation> void forEachWholeBlock(void* data, size_t size, Operation&& operation)
{
    auto* bytes = static_cast<char*>(data);
    for (size_t pos = 0; pos + 8 <= size; pos += 8)
    {
        auto left = juce::ByteOrder::littleEndianInt(bytes + pos);
        auto right = juce::ByteOrder::littleEndianInt(bytes + pos + 4);
        operation(left, right);
        storeLittleEndian(left, bytes + pos);
        storeLittleEndian(right, bytes + pos + 4);
    }
}
} // namespace

void DdpControlCipher::encipher(juce::MemoryBlock& data, const juce::BlowFish& cipher)
{
    forEachWholeBlock(data.getData(), data.getSize(),
                      [&cipher](juce::uint32& l, juce::uint32& r) { cipher.encrypt(l, r); });
}

void DdpControlCipher::decipher(juce::MemoryBlock& data, const juce::BlowFish& cipher)
{
    decipher(data.getData(), data.getSize(), cipher);
}

void DdpControlCipher::decipher(void* data, size_t size, const juce::BlowFish& cipher)
{
    forEachWholeBlock(data, size, [&cipher](juce::uint32& l, juce::uint32& r) { cipher.decrypt(l, r); });
}

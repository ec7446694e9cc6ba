#pragma once

#include <juce_core/juce_core.h>

// A file of the exported master, opened for one upload. The transfer's read callback supplies the
// request body from it: it stops at endPosition and deciphers the bytes when the file is stored
// enciphered with the per-run cipher. Both members are changed by the message thread only between
// requests.
class DecryptingFileInputStream : public juce::FileInputStream
{
public:
    explicit DecryptingFileInputStream(const juce::File& file) : juce::FileInputStream(file) {}
    ~DecryptingFileInputStream() override = default;

    bool decipher = false;
    // Byte position at which the current request's body ends; -1 for the end of the file.
    juce::int64 endPosition = -1;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(DecryptingFileInputStream)
};

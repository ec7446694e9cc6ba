#pragma once

#include "playback/MultipleAudioTransportSource.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <functional>
#include <vector>

namespace playertest
{
// A 16-bit WAV made by sox in the test's temporary folder: noise on the left, a sweep on the
// right (so that any shift by a sample shows), numSamples sample frames at rate.
juce::File makeWav(const juce::String& name, int numSamples, int rate, int channels = 2);

std::unique_ptr<juce::AudioFormatReader> openReader(const juce::File& file);

// Samples [from, to) of a file as the framework reads them, two channels.
juce::AudioBuffer<float> readFile(const juce::File& file, juce::int64 from, juce::int64 to);
juce::AudioBuffer<float> zeros(int numSamples);
juce::AudioBuffer<float> concat(const std::vector<juce::AudioBuffer<float>>& parts);

// A reader of `value` on two channels for `length` samples, zeros outside; value 0 is silence.
class ConstantReader : public juce::AudioFormatReader
{
public:
    ConstantReader(juce::int64 length, double rate, float value);
    bool readSamples(int* const* destChannels, int numDestChannels, int startOffsetInDestBuffer,
                     juce::int64 startSampleInFile, int numSamples) override;

private:
    float value;
};

// One entry of a test timeline: samples [from, to) of `file`, or, without a file, to - from
// samples of `value` at `rate`.
struct Piece
{
    juce::File file;
    juce::int64 from = 0;
    juce::int64 to = 0;
    double rate = 44100.0;
    float value = 0.0f;
};

Piece silence(juce::int64 numSamples, double rate = 44100.0);

// Adds each piece as the main component does: a reader source over the file (or a constant
// reader), read ahead by readAheadSize samples on `thread` (0: not read ahead), at the reader's
// rate. Returns the entries, which the player owns.
std::vector<PlayerEntry*> addPieces(MultipleAudioTransportSource& player, const std::vector<Piece>& pieces,
                                    int readAheadSize, juce::TimeSliceThread* thread);

// Waits until every read-ahead entry holds what is left of it (up to half its buffer), so that
// the next blocks need no waiting. Only while nothing pulls blocks.
void waitForReadAhead(const std::vector<PlayerEntry*>& entries);

// Pulls numSamples samples in device blocks of blockSize and returns them. Each device block is
// filled with a marker before the call, so samples the player leaves unwritten show up.
// beforeBlock runs before every block.
juce::AudioBuffer<float> pull(juce::AudioSource& source, int numSamples, int blockSize,
                              const std::function<void()>& beforeBlock = {});

constexpr float unwrittenMarker = 7.0f;

// The index of the first sample frame that differs (any channel), or -1.
int firstDifference(const juce::AudioBuffer<float>& actual, const juce::AudioBuffer<float>& expected,
                    float tolerance = 0.0f);
} // namespace playertest

#pragma once

#include "formats/GrowingFileDigest.h"
#include "formats/RawAudioFormat.h"

#include <juce_cryptography/juce_cryptography.h>

#include <vector>

class CDItem;
class IndexItem;

// Writes the disc of a CDItem as a DDP 2.00 fileset into the job's outputFolder: the audio image
// (IMAGE.DAT, or IMAGE01.DAT and the data image IMAGE02.DAT), PQDESCR, CDTEXT.BIN, DDPMS, DDPID and
// MD5-Checksum.md5, and records every file's MD5 digest in the job's fileChecksums.
//
// Runs on the job's worker thread. The model is read without locking: the modal progress window
// keeps everything else from editing it meanwhile. The outcome goes into the job's writeSucceeded
// and errorMessage.
class DdpWriter
{
public:
    explicit DdpWriter(CDItem& job);
    ~DdpWriter();

    void write();

    static constexpr int outputBufferSize = 32768;
    // Sample frames per read and write of source audio.
    static constexpr int blockFrames = 16384;

private:
    enum class Outcome
    {
        ok,
        failed,
        stopped
    };

    bool prepare();
    Outcome writeAudioImage();
    Outcome writeAudioPass(int track, int& carried);
    Outcome writeItemAudio(const IndexItem& item, juce::AudioFormatWriter& writer, int& carried,
                           bool lastRow);
    Outcome copySamples(juce::AudioFormatReader& reader, juce::int64 first, juce::int64 count,
                        juce::AudioFormatWriter& writer, const juce::String& sourceName);
    Outcome writeSilence(juce::int64 count, juce::AudioFormatWriter& writer);
    Outcome writeBlock(juce::AudioFormatWriter& writer, const int* const* channels, int frames);
    void ditherBlock(int frames, bool floatingPoint);
    bool writeDataImage();
    bool writeControlFile(const juce::String& name, const juce::MemoryBlock& plainText, juce::MD5& digest);
    bool writeCdTextFile();
    bool buildMapStream(juce::MemoryBlock& out);
    bool writeChecksumList();
    bool digestOfFile(const juce::File& file, juce::MD5& digest);
    void recordDigest(const juce::String& name, const juce::MD5& digest);
    bool fail(const juce::String& message);
    Outcome failed(const juce::String& message);

    juce::uint32 nextRandom();

    CDItem& job;
    juce::File folder;
    juce::String audioImageName;
    bool hasDataSession = false;
    RawAudioFormat imageFormat;
    juce::MemoryBlock pqText;
    juce::MemoryBlock identifierText;
    juce::MD5 pqDigest, mapDigest, identifierDigest;
    std::vector<int> leftBlock, rightBlock;
    // During an audio pass: the image's stream (owned by the pass's writer), and the digest that
    // follows the image as it grows.
    juce::FileOutputStream* imageStream = nullptr;
    std::unique_ptr<GrowingFileDigest> imageDigest;
    juce::uint64 randomState = 0;
};

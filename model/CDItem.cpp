#include "model/CDItem.h"

#include "app/Alerts.h"
#include "app/AppSettings.h"
#include "formats/DdpReader.h"
#include "formats/DdpWriter.h"
#include "formats/RawAudioFormat.h"

#include <juce_audio_formats/juce_audio_formats.h>

CDItem::CDItem() : ProgressJob("Please wait...", true, false, 10000)
{
    createSpecialItems();
    audioFormats.registerBasicFormats();
    audioFormats.registerFormat(new RawAudioFormat(), false);
}

CDItem::~CDItem() = default;

void CDItem::createSpecialItems()
{
    firstPregap = new IndexItem();
    firstPregap->trackNumber = 1;
    firstPregap->indexNumber = 0;
    firstPregap->length.frames = 150;

    leadIn = new IndexItem();
    audioLeadOut = new IndexItem();
    dataLeadIn = new IndexItem();
    dataLeadOut = new IndexItem();
    leadOut = new IndexItem();
}

int CDItem::getNumRows() const
{
    return indexItems.isEmpty() ? 0 : indexItems.size() + dataItems.size() + 1;
}

void CDItem::setRowItem(int row, IndexItem::Ptr item)
{
    const auto n = indexItems.size();

    if (row > n)
    {
        if (n > 0)
            indexItems.set(n - 1, item);
    }
    else if (row <= 0)
    {
        firstPregap->isrc = item->isrc;
    }
    else
    {
        indexItems.set(row - 1, item);
    }
}

void CDItem::insertRowItem(int row, IndexItem::Ptr item)
{
    if (row <= indexItems.size())
        indexItems.insert(juce::jmax(0, row - 1), item);
    else
        indexItems.add(item);
}

IndexItem* CDItem::getRowItem(int row) const
{
    const auto n = indexItems.size();

    if (row == 0)
        return firstPregap.get();
    if (row >= 1 && row <= n)
        return indexItems[row - 1].get();
    if (row > n && row <= n + dataItems.size())
        return dataItems[row - n - 1].get();
    return nullptr;
}

int CDItem::importAudioFile(const juce::String& path, int& insertionRow, juce::String& rejectedRates)
{
    return importAudioFile(path, insertionRow, rejectedRates, -1, -1);
}

void CDItem::importAudioFiles(juce::Array<juce::File> files, int& insertionRow, int pause, int offset)
{
    std::sort(files.begin(), files.end(),
              [](const juce::File& a, const juce::File& b)
              { return a.getFileName().toLowerCase().compare(b.getFileName().toLowerCase()) < 0; });

    juce::String rejectedRates;
    for (const auto& file : files)
    {
        if (file.getFullPathName().isEmpty() || !file.existsAsFile())
            Alerts::error("File not found: " + file.getFileName() + ".");
        else
            importAudioFile(file.getFullPathName(), insertionRow, rejectedRates, pause, offset);
    }

    if (rejectedRates.isNotEmpty())
        Alerts::error(
            "The Corvane App has detected that the sample rate for the file(s):\r\n" + rejectedRates +
            "\r\n\r\nis not compatible with this software. WAV, AIFF, or FLAC files must be at a sample "
            "rate of 44.1K. If you wish to use a different sample rate, go back to the Quorrel, and on "
            "the \"Upload Method\" page, select Fennick.");
}

bool CDItem::hasCdText() const
{
    if (discTitle.isNotEmpty() || discPerformer.isNotEmpty() || discSongwriter.isNotEmpty() ||
        discComposer.isNotEmpty() || discArranger.isNotEmpty() || discMessage.isNotEmpty() ||
        discIdentification.isNotEmpty() || genreCode > 0)
        return true;

    for (auto* item : indexItems)
        if (item->title.isNotEmpty() || item->performer.isNotEmpty() || item->songwriter.isNotEmpty() ||
            item->composer.isNotEmpty() || item->arranger.isNotEmpty() || item->message.isNotEmpty())
            return true;
    return false;
}

int CDItem::importAudioFile(const juce::String& path, int& insertionRow, juce::String& rejectedRates,
                            int pauseFrames, int offsetFrames)
{
    const juce::File file(path);
    const auto name = file.getFileName();
    const auto lowerName = name.toLowerCase();
    const auto n = indexItems.size();

    int trackNumber = 0;
    if (insertionRow > n)
        trackNumber = insertionRow < 2 ? 1 : indexItems.getLast()->trackNumber + 1;
    else
        trackNumber = getRowItem(insertionRow)->trackNumber;

    // The reader follows the file name; each format refuses what it cannot open.
    std::unique_ptr<juce::AudioFormat> format;
    juce::String kind;
    if (lowerName.endsWith(".wav"))
    {
        format = std::make_unique<juce::WavAudioFormat>();
        kind = "wave";
    }
    else if (lowerName.endsWith(".aif") || lowerName.endsWith(".aiff") || lowerName.endsWith(".aifc"))
    {
        format = std::make_unique<juce::AiffAudioFormat>();
        kind = "aif";
    }
    else if (lowerName.endsWith(".flac"))
    {
        format = std::make_unique<juce::FlacAudioFormat>();
        kind = "flac";
    }

    std::unique_ptr<juce::AudioFormatReader> reader;
    if (format != nullptr)
        if (auto stream = file.createInputStream())
            reader.reset(format->createReaderFor(stream.release(), true));

    if (reader == nullptr || reader->sampleRate <= 0 || reader->numChannels == 0)
    {
        Alerts::error("Error opening file: " + name + ".");
        return 0;
    }

    if (reader->sampleRate != 44100.0)
    {
        rejectedRates << "\r\n" << name;
        return 0;
    }

    if (reader->numChannels != 1 && reader->numChannels != 2)
    {
        Alerts::error("File " + name + " is not a valid " + kind + " file, invalid number of channels.");
        return 0;
    }

    if (reader->usesFloatingPointData)
    {
        Alerts::error("File " + name + " is not a valid " + kind + " file, invalid data type.");
        return 0;
    }

    const auto samples = reader->lengthInSamples;
    reader.reset();

    auto& settings = AppSettings::getInstance()->getProperties();
    const auto pause =
        pauseFrames >= 0 ? pauseFrames : settings.getValue("defaultpause", "150").getIntValue();
    const auto offset =
        offsetFrames >= 0 ? offsetFrames : settings.getValue("indexoffset", "10").getIntValue();

    if (trackNumber != 1 && pause > 0)
    {
        IndexItem::Ptr pauseItem = new IndexItem();
        pauseItem->trackNumber = trackNumber;
        pauseItem->indexNumber = 0;
        pauseItem->length.frames = pause;
        insertRowItem(insertionRow, pauseItem);
        ++insertionRow;
    }

    // Samples that the previous item spilled over its last whole frame start this one.
    const auto* previous = insertionRow > 0 ? getRowItem(insertionRow - 1) : nullptr;
    const juce::int64 carried = previous != nullptr ? previous->remainderSamples : 0;
    const auto total = samples + carried;

    IndexItem::Ptr track = new IndexItem();
    track->trackNumber = trackNumber;
    track->indexNumber = 1;
    track->indexOffset = pause != 0 ? offset : 0;
    track->folder = file.getParentDirectory().getFullPathName();
    track->fileName = name;
    track->length.frames = static_cast<int>(total / cdtime::samplesPerFrame);
    track->remainderSamples = static_cast<int>(total % cdtime::samplesPerFrame);
    insertRowItem(insertionRow, track);
    ++insertionRow;
    return trackNumber;
}

void CDItem::clear()
{
    discTitle = discPerformer = discSongwriter = discComposer = discArranger = discMessage = {};
    discIdentification = {};
    mcn = {};
    genreCode = 0;
    languageCode = 9;
    indexItems.clearQuick();
    indexItems.minimiseStorageOverheads();
    dataItems.clearQuick();
    dataItems.minimiseStorageOverheads();
    createSpecialItems();
}

bool CDItem::readDdpFileset(const juce::String& folder, juce::BlowFish& cipher)
{
    return DdpReader::read(*this, folder, &cipher);
}

bool CDItem::readDdpFileset(const juce::String& folder, const juce::BlowFish* cipher)
{
    return DdpReader::read(*this, folder, cipher);
}

void CDItem::run()
{
    if (task != 1)
        return;
    setProgress(-1.0);
    setStatusMessage("Preparing to write...");
    DdpWriter(*this).write();
}

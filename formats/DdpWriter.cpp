#include "formats/DdpWriter.h"

#include "formats/DdpControlCipher.h"
#include "formats/DdpRecords.h"
#include "formats/ISOfile.h"
#include "model/CDItem.h"

namespace
{
const juce::String pqName = "PQDESCR";
const juce::String mapName = "DDPMS";
const juce::String identifierName = "DDPID";
const juce::String cdTextName = "CDTEXT.BIN";
const juce::String dataImageName = "IMAGE02.DAT";
const juce::String checksumListName = "MD5-Checksum.md5";

constexpr int dataSectorBytes = 2048;
// Readers ask for a few kilobytes at a time.
constexpr int sourceBufferSize = 1 << 18;

// Sources other than 16-bit integer ones are dithered to 16 bits.
bool needsDither(const juce::AudioFormatReader& reader)
{
    return reader.bitsPerSample != 16 || reader.usesFloatingPointData;
}
} // namespace

DdpWriter::DdpWriter(CDItem& writerJob)
    : job(writerJob), folder(writerJob.outputFolder), leftBlock(blockFrames), rightBlock(blockFrames)
{
    randomState = static_cast<juce::uint64>(juce::Random::getSystemRandom().nextInt64()) | 1u;
}

DdpWriter::~DdpWriter() = default;

bool DdpWriter::fail(const juce::String& message)
{
    job.errorMessage = message;
    return false;
}

DdpWriter::Outcome DdpWriter::failed(const juce::String& message)
{
    job.errorMessage = message;
    return Outcome::failed;
}

void DdpWriter::write()
{
    job.writeSucceeded = false;

    if (!prepare())
        return;

    auto outcome = writeAudioImage();

    // The data session is written even after a failed audio pass (whose message stands), but not
    // once the thread has been asked to stop: the copy can take long and nobody waits for it.
    if (hasDataSession && outcome != Outcome::stopped && !CDItem::threadShouldExit())
    {
        const auto audioError = job.errorMessage;
        const auto dataWritten = writeDataImage();
        if (outcome == Outcome::failed)
            job.errorMessage = audioError;
        else if (!dataWritten)
            outcome = Outcome::failed;
    }

    job.setProgress(-1.0);

    if (outcome == Outcome::stopped || CDItem::threadShouldExit())
    {
        job.errorMessage = "Process interrupted.";
        return;
    }
    if (outcome == Outcome::failed)
        return;

    job.setStatusMessage("Writing " + pqName + "...");
    if (!writeControlFile(pqName, pqText, pqDigest))
        return;

    if (job.writeCdText && !writeCdTextFile())
        return;

    job.setStatusMessage("Writing " + mapName + "...");
    juce::MemoryBlock mapText;
    if (!buildMapStream(mapText) || !writeControlFile(mapName, mapText, mapDigest))
        return;

    job.setStatusMessage("Writing " + identifierName + "...");
    if (!writeControlFile(identifierName, identifierText, identifierDigest))
        return;

    job.setProgress(-1.0);
    job.setStatusMessage("Calculating MD5 checksums...\r\n\r\n(this can take a while)");
    if (!writeChecksumList())
        return;

    if (CDItem::threadShouldExit())
    {
        job.errorMessage = "Process interrupted.";
        return;
    }
    job.writeSucceeded = true;
}

// Everything that depends on the model alone is checked, and the records built from it, before the
// first file is written, so that a refused value leaves nothing behind.
bool DdpWriter::prepare()
{
    if (job.indexItems.isEmpty())
        return fail("Empty project.");
    if (job.cipher == nullptr && !job.plainControlFiles)
        return fail("No cipher for the control files.");

    hasDataSession = !job.dataItems.isEmpty();
    audioImageName = hasDataSession ? "IMAGE01.DAT" : "IMAGE.DAT";

    if (!DdpRecords::fits(job.mcn, DdpRecords::catalogueNumberWidth))
        return fail(
            "The MCN \"" + job.mcn +
            "\" cannot be written: the catalogue number field holds at most 13 plain ASCII characters.");

    std::vector<const IndexItem*> rows{job.firstPregap.get()};
    rows.insert(rows.end(), job.indexItems.begin(), job.indexItems.end());
    rows.insert(rows.end(), job.dataItems.begin(), job.dataItems.end());
    for (auto* item : rows)
        if (!DdpRecords::fits(item->isrc, DdpRecords::isrcWidth))
            return fail("The ISRC \"" + item->isrc + "\" of track " + juce::String(item->trackNumber) +
                        " cannot be written: the ISRC field holds at most 12 plain ASCII characters.");

    for (const auto& name : {juce::String("IMAGE.DAT"), juce::String("IMAGE01.DAT"), dataImageName, pqName,
                             cdTextName, mapName, identifierName, checksumListName})
        if (folder.getChildFile(name).exists())
            return fail("The folder " + folder.getFullPathName() + " already holds a file " + name + ".");

    std::vector<DdpRecords::PqEntry> entries;
    const auto addItem = [&entries](const IndexItem& item, const char* control)
    {
        entries.push_back({DdpRecords::number(item.trackNumber, 2),
                           DdpRecords::number(item.indexNumber, 2),
                           item.start.frames,
                           control,
                           item.isrc,
                           {}});
    };
    const char* const audioControl = "01";
    const char* const dataControl = "41";

    entries.push_back({"00", "00", job.leadIn->start.frames, audioControl, {}, job.mcn});
    addItem(*job.firstPregap, audioControl);
    for (auto* item : job.indexItems)
        // Track 1's pause is the first pregap's entry; an item of its own there would repeat it.
        if (item->trackNumber != 1 || item->indexNumber != 0)
            addItem(*item, audioControl);
    entries.push_back({"AA", "01", job.audioLeadOut->start.frames, audioControl, {}, {}});
    if (hasDataSession)
    {
        entries.push_back({"00", "00", job.dataLeadIn->start.frames, dataControl, {}, {}});
        for (auto* item : job.dataItems)
            addItem(*item, dataControl);
        entries.push_back({"AA", "01", job.dataLeadOut->start.frames, dataControl, {}, {}});
    }
    entries.push_back(
        {"AA", "01", job.leadOut->start.frames, hasDataSession ? dataControl : audioControl, {}, {}});

    for (const auto& entry : entries)
        if (auto result = DdpRecords::appendPqEntry(pqText, entry); result.failed())
            return fail(result.getErrorMessage());

    if (auto result = DdpRecords::appendIdentifier(identifierText, job.mcn, hasDataSession); result.failed())
        return fail(result.getErrorMessage());
    return true;
}

DdpWriter::Outcome DdpWriter::writeAudioImage()
{
    const int lastTrack = job.indexItems.getLast()->trackNumber;
    const int passes = lastTrack + (hasDataSession ? 1 : 0);
    int carried = 0; // sample frames of the previous item's audio already written into this item's span
    imageDigest = std::make_unique<GrowingFileDigest>(folder.getChildFile(audioImageName));

    for (int track = 1; track <= lastTrack; ++track)
    {
        if (CDItem::threadShouldExit())
            return Outcome::stopped;

        job.setProgress(static_cast<double>(track - 1) / passes);
        job.setStatusMessage("Writing image...");

        if (auto outcome = writeAudioPass(track, carried); outcome != Outcome::ok)
            return outcome;
    }
    return Outcome::ok;
}

DdpWriter::Outcome DdpWriter::writeAudioPass(int track, int& carried)
{
    const auto imageFile = folder.getChildFile(audioImageName);
    auto stream = std::make_unique<juce::FileOutputStream>(imageFile, outputBufferSize);
    if (stream->failedToOpen())
        return failed("Error creating file.");

    auto* fileStream = stream.get();
    std::unique_ptr<juce::AudioFormatWriter> writer(
        imageFormat.createWriterFor(fileStream, 44100.0, 2, 16, juce::StringPairArray(), 0));
    if (writer == nullptr)
        return failed("Error creating file.");
    stream.release(); // the writer owns it now
    imageStream = fileStream;

    auto outcome = Outcome::ok;
    const auto lastRow = job.indexItems.size();
    for (int row = 0; row <= lastRow && outcome == Outcome::ok; ++row)
    {
        const auto* item = row == 0 ? job.firstPregap.get() : job.indexItems.getUnchecked(row - 1).get();
        if (item->trackNumber != track)
            continue;

        outcome = CDItem::threadShouldExit() ? Outcome::stopped
                                             : writeItemAudio(*item, *writer, carried, row == lastRow);
    }

    // The writer's destruction would flush silently; a failure there would cut the image short.
    fileStream->flush();
    imageStream = nullptr;
    if (outcome == Outcome::ok && fileStream->getStatus().failed())
        return failed("Error writing data.");
    return outcome;
}

DdpWriter::Outcome DdpWriter::writeItemAudio(const IndexItem& item, juce::AudioFormatWriter& writer,
                                             int& carried, bool lastRow)
{
    const auto count =
        juce::jmax<juce::int64>(0, static_cast<juce::int64>(item.length.frames) * cdtime::samplesPerFrame -
                                       carried + item.remainderSamples);
    carried = item.remainderSamples;

    auto outcome = Outcome::ok;
    if (item.fileName.isEmpty())
    {
        outcome = writeSilence(count, writer);
    }
    else
    {
        auto file = std::make_unique<juce::FileInputStream>(item.getSourceFile());
        std::unique_ptr<juce::AudioFormatReader> reader;
        if (file->openedOk())
            reader.reset(job.audioFormats.createReaderFor(
                std::make_unique<juce::BufferedInputStream>(file.release(), sourceBufferSize, true)));
        if (reader == nullptr)
            return failed("Error opening file " + item.fileName + ".");

        outcome = writeSilence(static_cast<juce::int64>(item.indexOffset) * cdtime::samplesPerFrame, writer);
        if (outcome == Outcome::ok)
            outcome = copySamples(
                *reader, static_cast<juce::int64>(item.sourceOffset.frames) * cdtime::samplesPerFrame, count,
                writer, item.fileName);
    }

    // The disc ends on a whole frame; renumbering counts the padded frame whatever the last item is.
    if (outcome == Outcome::ok && lastRow && item.remainderSamples > 0 &&
        item.remainderSamples < cdtime::samplesPerFrame)
        outcome = writeSilence(cdtime::samplesPerFrame - item.remainderSamples, writer);
    return outcome;
}

// Every source is read as integer samples: 16-bit sources (mono ones duplicated into both
// channels) reach the image bit for bit, and all others are dithered straight from their integer
// (or floating-point) values to 16 bits. The framework's float-to-integer conversion scales by
// 0x7fffffff and rounds, which would put every sample above half scale one step low.
DdpWriter::Outcome DdpWriter::copySamples(juce::AudioFormatReader& reader, juce::int64 first,
                                          juce::int64 count, juce::AudioFormatWriter& writer,
                                          const juce::String& sourceName)
{
    int* const channels[] = {leftBlock.data(), rightBlock.data()};
    const auto dither = needsDither(reader);

    while (count > 0)
    {
        if (CDItem::threadShouldExit())
            return Outcome::stopped;

        const auto frames = static_cast<int>(juce::jmin<juce::int64>(count, blockFrames));
        if (!reader.read(channels, 2, first, frames, true))
            return failed("Error reading file " + sourceName + ".");
        if (dither)
            ditherBlock(frames, reader.usesFloatingPointData);
        if (writeBlock(writer, channels, frames) != Outcome::ok)
            return Outcome::failed;

        first += frames;
        count -= frames;
    }
    return Outcome::ok;
}

DdpWriter::Outcome DdpWriter::writeSilence(juce::int64 count, juce::AudioFormatWriter& writer)
{
    if (count <= 0)
        return Outcome::ok;

    std::fill(leftBlock.begin(), leftBlock.end(), 0);
    std::fill(rightBlock.begin(), rightBlock.end(), 0);
    const int* channels[] = {leftBlock.data(), rightBlock.data()};

    while (count > 0)
    {
        const auto frames = static_cast<int>(juce::jmin<juce::int64>(count, blockFrames));
        if (writeBlock(writer, channels, frames) != Outcome::ok)
            return Outcome::failed;
        count -= frames;
    }
    return Outcome::ok;
}

DdpWriter::Outcome DdpWriter::writeBlock(juce::AudioFormatWriter& writer, const int* const* channels,
                                         int frames)
{
    if (!writer.write(const_cast<const int**>(channels), frames))
        return failed("Error writing data.");
    // Not flushed: the stream's flush also syncs the file to the disk. The digest reads what has
    // reached the file and waits for the rest.
    imageDigest->bytesWritten(imageStream->getPosition());
    return Outcome::ok;
}

// Triangular dither to 16 bits. A sample is first taken to 24-bit units (x × 2^23, truncated
// toward zero); two random bytes a and b are drawn per sample, v − a + b + 128 is rounded down to a
// multiple of 256, and the result is the 16-bit sample, kept by the raw writer from the upper 16
// bits of the 32-bit value. The four bytes of a frame (a1, a2, b1, b2) come from one draw.
void DdpWriter::ditherBlock(int frames, bool floatingPoint)
{
    const auto toUnits = [floatingPoint](int raw)
    {
        if (!floatingPoint)
            return raw / 256; // 32-bit integer sample to 24-bit units, toward zero
        float x;
        std::memcpy(&x, &raw, sizeof(x));
        return static_cast<int>(juce::jlimit(-2.0f, 2.0f, x) * 8388608.0f);
    };
    const auto toSample = [](int units)
    {
        const auto sample16 = juce::jlimit(-32768, 32767, units >> 8); // arithmetic shift: rounds down
        return sample16 * 65536;
    };

    for (int i = 0; i < frames; ++i)
    {
        const auto r = nextRandom();
        const auto a1 = static_cast<int>(r & 0xff), a2 = static_cast<int>((r >> 8) & 0xff);
        const auto b1 = static_cast<int>((r >> 16) & 0xff), b2 = static_cast<int>(r >> 24);
        leftBlock[(size_t)i] = toSample(toUnits(leftBlock[(size_t)i]) - a1 + b1 + 128);
        rightBlock[(size_t)i] = toSample(toUnits(rightBlock[(size_t)i]) - a2 + b2 + 128);
    }
}

// xorshift64*, upper half. The process-wide rand() would cost more than the rest of the
// conversion together; the dither needs independent uniform bytes, not a particular sequence.
juce::uint32 DdpWriter::nextRandom()
{
    randomState ^= randomState >> 12;
    randomState ^= randomState << 25;
    randomState ^= randomState >> 27;
    return static_cast<juce::uint32>((randomState * 2685821657736338717ull) >> 32);
}

bool DdpWriter::writeDataImage()
{
    const auto lastTrack = job.indexItems.getLast()->trackNumber;
    job.setProgress(static_cast<double>(lastTrack) / (lastTrack + 1));
    job.setStatusMessage("Writing " + dataImageName + "...");

    const auto image = folder.getChildFile(dataImageName);
    const auto targetStart =
        static_cast<juce::int64>(job.dataItems.getFirst()->start.frames) * dataSectorBytes;

    for (auto* item : job.dataItems)
    {
        if (item->indexNumber == 1)
        {
            const auto source = item->getSourceFile();
            const ISOfile sourceImage(source.getFullPathName());
            const auto imageStart = sourceImage.getImageStart();
            // Without a volume descriptor there is nothing to copy and no address to rebase from.
            if (!source.existsAsFile() || imageStart < 0)
                return fail("Error opening file " + item->fileName + ".");

            const auto sizeBefore = image.getSize();
            sourceImage.extractVolume(image.getFullPathName(),
                                      static_cast<juce::int64>(item->sourceOffset.frames) * dataSectorBytes);
            if (image.getSize() <= sizeBefore)
                return fail("Error writing data.");

            if (const auto delta = imageStart - targetStart; delta != 0)
                ISOfile(image.getFullPathName()).relocate(delta);
        }
        else if (item->indexNumber == 0)
        {
            juce::FileOutputStream out(image, outputBufferSize);
            if (out.failedToOpen())
                return fail("Error creating file " + dataImageName + ".");
            const juce::HeapBlock<char> zeros(dataSectorBytes, true);
            for (int i = 0; i < item->length.frames; ++i)
                if (!out.write(zeros, dataSectorBytes))
                    return fail("Error writing data.");
            out.flush();
            if (out.getStatus().failed())
                return fail("Error writing data.");
        }
    }
    return true;
}

bool DdpWriter::writeControlFile(const juce::String& name, const juce::MemoryBlock& plainText,
                                 juce::MD5& digest)
{
    digest = juce::MD5(plainText);
    recordDigest(name, digest);

    auto cipherText = plainText;
    if (!job.plainControlFiles)
        DdpControlCipher::encipher(cipherText, *job.cipher);

    juce::FileOutputStream out(folder.getChildFile(name), outputBufferSize);
    if (out.failedToOpen())
        return fail("Error creating file " + name + ".");
    out.write(cipherText.getData(), cipherText.getSize());
    out.flush();
    if (out.getStatus().failed())
        return fail("Error writing file " + name + ".");
    return true;
}

bool DdpWriter::writeCdTextFile()
{
    job.setStatusMessage("Writing " + cdTextName + "...");
    juce::String error;
    if (!job.saveCdTextFile(folder.getFullPathName() + "/" + cdTextName, error))
        return fail(error);
    return true;
}

bool DdpWriter::buildMapStream(juce::MemoryBlock& out)
{
    const auto sizeOf = [this](const juce::String& name)
    {
        const auto file = folder.getChildFile(name);
        return file.existsAsFile() ? file.getSize() : juce::int64(0);
    };

    auto result = juce::Result::ok();
    if (job.writeCdText)
        result = DdpRecords::appendCdTextPacket(out, sizeOf(cdTextName));
    if (result.wasOk())
        result = DdpRecords::appendPqPacket(out, static_cast<juce::int64>(pqText.getSize()));
    if (result.wasOk())
        result = DdpRecords::appendAudioPacket(out, audioImageName,
                                               sizeOf(audioImageName) / cdtime::bytesPerFrame);
    if (result.wasOk() && hasDataSession)
        result = DdpRecords::appendDataPacket(out, sizeOf(dataImageName) / dataSectorBytes,
                                              job.dataItems.getFirst()->start.frames);
    return result.wasOk() || fail(result.getErrorMessage());
}

bool DdpWriter::writeChecksumList()
{
    juce::String list;
    const auto addLine = [&list](const juce::MD5& digest, const juce::String& name)
    { list << digest.toHexString() << " *" << name << "\r\n"; };

    addLine(identifierDigest, identifierName);
    addLine(mapDigest, mapName);
    addLine(pqDigest, pqName);
    for (const auto& name : {audioImageName, dataImageName, cdTextName})
    {
        const auto file = folder.getChildFile(name);
        if (!file.existsAsFile())
            continue;
        juce::MD5 digest;
        if (name == audioImageName && imageDigest != nullptr)
        {
            if (!imageDigest->finish(file.getSize(), digest))
                return fail("Error reading file " + name + ".");
        }
        else if (!digestOfFile(file, digest))
        {
            return false;
        }
        recordDigest(name, digest);
        addLine(digest, name);
    }

    juce::FileOutputStream out(folder.getChildFile(checksumListName), outputBufferSize);
    if (out.failedToOpen())
        return fail("Error creating file " + checksumListName + ".");
    out.write(list.toRawUTF8(), list.getNumBytesAsUTF8());
    out.flush();
    if (out.getStatus().failed())
        return fail("Error writing file " + checksumListName + ".");
    return true;
}

bool DdpWriter::digestOfFile(const juce::File& file, juce::MD5& digest)
{
    juce::FileInputStream in(file);
    const auto size = file.getSize();
    if (!in.openedOk())
        return fail("Error reading file " + file.getFileName() + ".");
    juce::BufferedInputStream buffered(in, 1 << 20);
    digest = juce::MD5(buffered, size);
    if (buffered.getPosition() != size)
        return fail("Error reading file " + file.getFileName() + ".");
    return true;
}

void DdpWriter::recordDigest(const juce::String& name, const juce::MD5& digest)
{
    const auto raw = digest.getRawChecksumData();
    job.fileChecksums.set(name.toLowerCase(), juce::Base64::toBase64(raw.getData(), raw.getSize()));
}

#include "formats/ISOfile.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <regex>
#include <vector>

// The images are made by genisoimage and xorriso and checked by isoinfo; the byte offsets below
// are ISO 9660's own, read by this file independently of the code under test.
namespace
{
using juce::File;
using juce::MemoryBlock;
using juce::String;
using juce::uint32;

constexpr juce::int64 sector = 2048;

juce::uint8 byteAt(const MemoryBlock& block, size_t at)
{
    return static_cast<const juce::uint8*>(block.getData())[at];
}

uint32 le32(const MemoryBlock& block, size_t at)
{
    return juce::ByteOrder::littleEndianInt(static_cast<const char*>(block.getData()) + at);
}

uint32 be32(const MemoryBlock& block, size_t at)
{
    return juce::ByteOrder::bigEndianInt(static_cast<const char*>(block.getData()) + at);
}

void putLe32(MemoryBlock& block, size_t at, uint32 value)
{
    for (int i = 0; i < 4; ++i)
        block[at + i] = (char)(value >> (8 * i));
}

void putBe32(MemoryBlock& block, size_t at, uint32 value)
{
    for (int i = 0; i < 4; ++i)
        block[at + i] = (char)(value >> (8 * (3 - i)));
}

void putBoth32(MemoryBlock& block, size_t at, uint32 value)
{
    putLe32(block, at, value);
    putBe32(block, at + 4, value);
}

MemoryBlock load(const File& file)
{
    MemoryBlock block;
    file.loadFileAsData(block);
    return block;
}

void save(const File& file, const MemoryBlock& block)
{
    ASSERT_TRUE(file.replaceWithData(block.getData(), block.getSize()));
}

void writePattern(const File& file, int size, int seed)
{
    file.getParentDirectory().createDirectory();
    MemoryBlock block((size_t)size);
    juce::Random random(seed);
    for (int i = 0; i < size; ++i)
        block[(size_t)i] = (char)random.nextInt(256);
    save(file, block);
}

// Nested directories, a directory of several sectors, files of several sectors and an empty file.
File makeTree(const File& folder)
{
    const File tree = folder.getChildFile("tree");
    writePattern(tree.getChildFile("a/b/c/big.bin"), 10000, 1);
    writePattern(tree.getChildFile("a/mid.bin"), 5000, 2);
    tree.getChildFile("empty.txt").create();
    for (int i = 1; i <= 150; ++i)
        writePattern(
            tree.getChildFile("many/file_with_a_longer_name_" + String(i).paddedLeft('0', 3) + ".txt"),
            1 + i % 7, 100 + i);
    return tree;
}

File master(const File& tree, const String& tool, int startSector, const String& name)
{
    const File image = tree.getSiblingFile(name);
    const String program = tool == "xorriso" ? "xorriso -as mkisofs" : "genisoimage";
    const String start = startSector > 0 ? " -C 0," + String(startSector) : String();
    String output;
    const int exitCode =
        runCommand(program + " -quiet -J" + start + " -o " + image.getFullPathName().quoted() + " " +
                       tree.getFullPathName().quoted(),
                   &output);
    EXPECT_EQ(exitCode, 0) << output;
    EXPECT_TRUE(image.existsAsFile()) << output;
    return image;
}

struct Descriptor
{
    int type = 0;
    long long volumeSize = 0, tableSize = 0, typeL = 0, optionalL = 0, typeM = 0, optionalM = 0, rootLe = 0,
              rootBe = 0;
};

std::vector<Descriptor> descriptors(const MemoryBlock& image)
{
    std::vector<Descriptor> found;
    for (size_t at = 16 * sector; at + sector <= image.getSize(); at += sector)
    {
        Descriptor d;
        d.type = byteAt(image, at);
        if (std::memcmp(static_cast<const char*>(image.getData()) + at + 1, "CD001", 5) != 0)
            break;
        d.volumeSize = be32(image, at + 84);
        d.tableSize = be32(image, at + 136);
        d.typeL = le32(image, at + 140);
        d.optionalL = le32(image, at + 144);
        d.typeM = be32(image, at + 148);
        d.optionalM = be32(image, at + 152);
        d.rootLe = le32(image, at + 158);
        d.rootBe = be32(image, at + 162);
        found.push_back(d);
        if (d.type == 255)
            break;
    }
    return found;
}

struct PathEntry
{
    long long extent;
    std::string rest; // parent number and identifier, unchanged by relocation
};

std::vector<PathEntry> pathTable(const MemoryBlock& image, size_t at, uint32 size, bool bigEndian)
{
    std::vector<PathEntry> entries;
    for (size_t end = at + size; at < end && byteAt(image, at) != 0;)
    {
        const int n = byteAt(image, at);
        entries.push_back({bigEndian ? be32(image, at + 2) : le32(image, at + 2),
                           std::string(static_cast<const char*>(image.getData()) + at + 6, (size_t)(2 + n))});
        at += (size_t)(8 + n + (n & 1));
    }
    return entries;
}

// isoinfo's "ls -lR" listing of one tree, read as an image mastered for startSector: each line
// with the extent taken out, and the extent (-1 on lines without one).
std::vector<std::pair<std::string, long long>> listing(const File& image, int startSector, bool joliet)
{
    String output;
    EXPECT_EQ(runCommand("isoinfo -N " + String(startSector) + (joliet ? " -J" : "") + " -l -i " +
                             image.getFullPathName().quoted(),
                         &output),
              0)
        << output;
    std::vector<std::pair<std::string, long long>> lines;
    const std::regex extent(R"(\[\s*(\d+)\s+([0-9A-Fa-f]+)\])");
    for (const auto& line : juce::StringArray::fromLines(output))
    {
        std::smatch match;
        const std::string text = line.toStdString();
        if (std::regex_search(text, match, extent))
            lines.emplace_back(match.prefix().str() + "[" + match[2].str() + "]" + match.suffix().str(),
                               std::stoll(match[1].str()));
        else
            lines.emplace_back(text, -1);
    }
    return lines;
}

std::vector<std::pair<std::string, long long>> shifted(std::vector<std::pair<std::string, long long>> lines,
                                                       long long by)
{
    for (auto& line : lines)
        if (line.second >= 0)
            line.second += by;
    return lines;
}

MemoryBlock extractWithIsoinfo(const File& image, int startSector, const String& jolietPath)
{
    const File out = image.getSiblingFile("extracted.bin");
    String output;
    EXPECT_EQ(runCommand("isoinfo -N " + String(startSector) + " -J -i " + image.getFullPathName().quoted() +
                             " -x " + jolietPath.quoted() + " > " + out.getFullPathName().quoted(),
                         &output),
              0)
        << output;
    return load(out);
}

// MemoryBlock's own comparison passes a null pointer to memcmp for empty blocks.
bool sameBytes(const MemoryBlock& a, const MemoryBlock& b)
{
    return a.getSize() == b.getSize() &&
           (a.getSize() == 0 || std::memcmp(a.getData(), b.getData(), a.getSize()) == 0);
}

void expectUnchanged(const File& file, const MemoryBlock& before)
{
    EXPECT_TRUE(sameBytes(load(file), before)) << file.getFileName();
}
} // namespace

TEST(ISOfile, FilesWithoutAPrimaryDescriptorAfterByteZeroAreNoImages)
{
    const File folder = makeTestFolder("not-iso");
    const File image = master(makeTree(folder), "genisoimage", 0, "real.iso");
    const MemoryBlock real = load(image);
    const MemoryBlock primary(static_cast<const char*>(real.getData()) + 16 * sector, (size_t)sector);

    auto withAt = [](size_t size, size_t at, const char* bytes, size_t count)
    {
        MemoryBlock block(size, true);
        block.copyFrom(bytes, (int)at, count);
        return block;
    };
    struct Case
    {
        const char* label;
        MemoryBlock content;
        juce::int64 descriptor;
    };
    const Case cases[] = {
        {"empty file", MemoryBlock(), -1},
        {"zeros", MemoryBlock(40 * sector, true), -1},
        {"identifier off a sector boundary", withAt(40 * sector, 16 * sector + 1, "\001CD001", 6), -1},
        {"supplementary descriptor only", withAt(40 * sector, 16 * sector, "\002CD001", 6), -1},
        {"misspelt identifier", withAt(40 * sector, 16 * sector, "\001CD002", 6), -1},
        {"primary descriptor at byte 0",
         withAt(40 * sector, 0, static_cast<const char*>(primary.getData()), primary.getSize()), 0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        const File file = folder.getChildFile("candidate");
        save(file, c.content);
        ISOfile iso(file.getFullPathName());
        EXPECT_EQ(iso.findPrimaryVolumeDescriptor(), c.descriptor);
        EXPECT_EQ(iso.getImageStart(), -1);
        iso.relocate(-100 * sector);
        expectUnchanged(file, c.content);
    }
}

TEST(ISOfile, FindsTheDescriptorAndTheStartTheImageWasMasteredFor)
{
    const File folder = makeTestFolder("start");
    const File tree = makeTree(folder);
    struct Case
    {
        const char* tool;
        int startSector;
    };
    for (const Case c :
         {Case{"genisoimage", 0}, Case{"genisoimage", 1000}, Case{"xorriso", 0}, Case{"xorriso", 500}})
    {
        SCOPED_TRACE(String(c.tool) + " at " + String(c.startSector));
        const File image = master(tree, c.tool, c.startSector, "image.iso");
        ISOfile iso(image.getFullPathName());
        EXPECT_EQ(iso.findPrimaryVolumeDescriptor(), 16 * sector);
        EXPECT_EQ(iso.getImageStart(), c.startSector * sector);

        // The same volume inside a larger file, 7 sectors in.
        MemoryBlock larger(7 * sector, true);
        for (size_t i = 0; i < larger.getSize(); ++i)
            larger[i] = (char)(0x80 | (i % 61));
        const MemoryBlock volume = load(image);
        larger.append(volume.getData(), volume.getSize());
        larger.append(MemoryBlock(3 * sector, true).getData(), 3 * sector);
        const File container = folder.getChildFile("container.bin");
        save(container, larger);
        ISOfile inside(container.getFullPathName());
        EXPECT_EQ(inside.findPrimaryVolumeDescriptor(), 7 * sector + 16 * sector);
        EXPECT_EQ(inside.getImageStart(), c.startSector * sector);

        const File extracted = folder.getChildFile("extracted.iso");
        extracted.deleteFile();
        inside.extractVolume(extracted.getFullPathName(), 7 * sector);
        EXPECT_TRUE(sameBytes(load(extracted), volume));
        expectUnchanged(container, larger);
    }
}

TEST(ISOfile, OperationsOnFilesThatCannotBeOpenedTouchNothing)
{
    const File folder = makeTestFolder("unopenable");
    const File image = master(makeTree(folder), "genisoimage", 0, "image.iso");
    const MemoryBlock original = load(image);
    const File missing = folder.getChildFile("missing.iso");
    const File destination = folder.getChildFile("out.iso");

    ISOfile absent(missing.getFullPathName());
    EXPECT_EQ(absent.findPrimaryVolumeDescriptor(), -1);
    EXPECT_EQ(absent.getImageStart(), -1);
    absent.extractVolume(destination.getFullPathName(), 0);
    absent.relocate(-100 * sector);
    EXPECT_FALSE(missing.exists());
    EXPECT_FALSE(destination.exists());

    ISOfile(folder.getFullPathName()).relocate(-100 * sector); // a folder is no image either

    const File unreachable = folder.getChildFile("no-such-folder/out.iso");
    ISOfile(image.getFullPathName()).extractVolume(unreachable.getFullPathName(), 0);
    EXPECT_FALSE(unreachable.getParentDirectory().exists());
    expectUnchanged(image, original);

    // A start beyond the file's end leaves no destination behind.
    ISOfile(image.getFullPathName())
        .extractVolume(destination.getFullPathName(), (juce::int64)original.getSize());
    EXPECT_FALSE(destination.exists());
}

TEST(ISOfile, RelocationRebasesEveryAddressAndIsUndoneByTheOppositeDelta)
{
    const File folder = makeTestFolder("relocate");
    const File tree = makeTree(folder);
    struct Case
    {
        const char* tool;
        int from, to; // start sectors
    };
    const Case cases[] = {
        {"genisoimage", 0, 100}, {"xorriso", 0, 100}, {"genisoimage", 1000, 0}, {"xorriso", 500, 650}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(String(c.tool) + " from " + String(c.from) + " to " + String(c.to));
        const File image = master(tree, c.tool, c.from, "image.iso");
        const MemoryBlock original = load(image);
        const juce::int64 delta = (juce::int64)(c.from - c.to) * sector;
        const long long shift = c.to - c.from;

        ISOfile iso(image.getFullPathName());
        iso.relocate(delta);
        const MemoryBlock moved = load(image);
        ASSERT_EQ(moved.getSize(), original.getSize());
        EXPECT_EQ(iso.getImageStart(), c.to * sector);

        // The descriptors stay where they are; their table locations and root extents move.
        const auto before = descriptors(original), after = descriptors(moved);
        ASSERT_EQ(before.size(), 3u);
        ASSERT_EQ(after.size(), before.size());
        EXPECT_EQ(before[0].type, 1);
        EXPECT_EQ(before[1].type, 2);
        for (size_t i = 0; i + 1 < before.size(); ++i)
        {
            SCOPED_TRACE("descriptor " + String((int)i));
            const auto &b = before[i], &a = after[i];
            EXPECT_EQ(a.type, b.type);
            EXPECT_EQ(a.volumeSize, b.volumeSize);
            EXPECT_EQ(a.tableSize, b.tableSize);
            EXPECT_EQ(a.typeL, b.typeL + shift);
            EXPECT_EQ(a.typeM, b.typeM + shift);
            EXPECT_EQ(b.optionalL, 0);
            EXPECT_EQ(b.optionalM, 0);
            EXPECT_EQ(a.optionalL, 0);
            EXPECT_EQ(a.optionalM, 0);
            EXPECT_EQ(a.rootLe, b.rootLe + shift);
            EXPECT_EQ(a.rootBe, b.rootBe + shift);

            for (const bool big : {false, true})
            {
                const long long location = big ? b.typeM : b.typeL;
                const size_t at = (size_t)(location - c.from) * sector;
                const auto entriesBefore = pathTable(original, at, b.tableSize, big);
                const auto entriesAfter = pathTable(moved, at, b.tableSize, big);
                ASSERT_EQ(entriesAfter.size(), entriesBefore.size());
                EXPECT_EQ(entriesBefore.size(), 5u);
                for (size_t e = 0; e < entriesBefore.size(); ++e)
                {
                    EXPECT_EQ(entriesAfter[e].extent, entriesBefore[e].extent + shift) << "entry " << e;
                    EXPECT_EQ(entriesAfter[e].rest, entriesBefore[e].rest) << "entry " << e;
                }
            }
        }

        // Both trees, read by isoinfo as images for the new start, list every extent moved.
        const File originalCopy = folder.getChildFile("original.iso");
        save(originalCopy, original);
        for (const bool joliet : {false, true})
        {
            SCOPED_TRACE(joliet ? "Joliet tree" : "primary tree");
            const auto was = listing(originalCopy, c.from, joliet);
            EXPECT_GT(was.size(), 160u);
            EXPECT_EQ(listing(image, c.to, joliet), shifted(was, shift));
        }
        for (const String name : {"a/b/c/big.bin", "many/file_with_a_longer_name_150.txt"})
            EXPECT_TRUE(sameBytes(extractWithIsoinfo(image, c.to, "/" + name), load(tree.getChildFile(name))))
                << name;

        iso.relocate(-delta);
        EXPECT_TRUE(sameBytes(load(image), original));
    }
}

TEST(ISOfile, AnOptionalTableSharingTheMandatoryOnesLocationIsRebasedOnce)
{
    const File folder = makeTestFolder("optional");
    const File image = master(makeTree(folder), "genisoimage", 0, "image.iso");
    MemoryBlock original = load(image);
    const size_t pvd = 16 * sector;
    const uint32 typeL = le32(original, pvd + 140);
    putLe32(original, pvd + 144, typeL);
    save(image, original);
    const auto entriesBefore = pathTable(original, typeL * sector, be32(original, pvd + 136), false);

    ISOfile iso(image.getFullPathName());
    iso.relocate(-100 * sector);
    const MemoryBlock moved = load(image);
    EXPECT_EQ(le32(moved, pvd + 140), typeL + 100u);
    EXPECT_EQ(le32(moved, pvd + 144), typeL + 100u);
    const auto entriesAfter = pathTable(moved, typeL * sector, be32(original, pvd + 136), false);
    ASSERT_EQ(entriesAfter.size(), entriesBefore.size());
    for (size_t e = 0; e < entriesBefore.size(); ++e)
        EXPECT_EQ(entriesAfter[e].extent, entriesBefore[e].extent + 100) << "entry " << e;

    iso.relocate(100 * sector);
    EXPECT_TRUE(sameBytes(load(image), original));
}

TEST(ISOfile, AnInconsistentImageIsLeftUntouchedByRelocation)
{
    const File folder = makeTestFolder("inconsistent");
    const File image = master(makeTree(folder), "genisoimage", 0, "image.iso");
    const MemoryBlock good = load(image);
    const size_t pvd = 16 * sector;
    const size_t root = (size_t)be32(good, pvd + 162) * sector;
    const size_t typeL = (size_t)le32(good, pvd + 140) * sector;

    struct Case
    {
        const char* label;
        std::function<void(MemoryBlock&)> damage;
        juce::int64 delta;
    };
    const Case cases[] = {
        {"path table beyond the end", [&](MemoryBlock& m) { putLe32(m, pvd + 140, 0x00FFFFFF); },
         -100 * sector},
        {"path table longer than the file", [&](MemoryBlock& m) { putBoth32(m, pvd + 132, 0x7FFFFFFF); },
         -100 * sector},
        {"root directory not found", [&](MemoryBlock& m) { putBoth32(m, pvd + 158, 0x00FFFFFF); },
         -100 * sector},
        {"record shorter than its fixed part", [&](MemoryBlock& m) { m[root + 34] = 5; }, -100 * sector},
        {"directory longer than the file", [&](MemoryBlock& m) { putBoth32(m, root + 10, 0x7FFFF800); },
         -100 * sector},
        {"path table names a descriptor as a directory",
         [&](MemoryBlock& m) { putLe32(m, typeL + 10 + 2, 16); }, -100 * sector},
        {"descriptor set without terminator", [&](MemoryBlock& m) { m[18 * sector + 1] = 'X'; },
         -100 * sector},
        {"addresses moved below sector 0", [](MemoryBlock&) {}, 100 * sector},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        MemoryBlock damaged = good;
        c.damage(damaged);
        save(image, damaged);
        ISOfile(image.getFullPathName()).relocate(c.delta);
        expectUnchanged(image, damaged);
    }
}

TEST(ISOfile, CorruptedAndTruncatedImagesEndEveryOperationSafely)
{
    const File folder = makeTestFolder("corrupt");
    const File image = master(makeTree(folder), "genisoimage", 0, "image.iso");
    const MemoryBlock good = load(image);
    const File copy = folder.getChildFile("copy.iso");
    const File destination = folder.getChildFile("out.iso");
    const size_t metadataEnd = 60 * sector; // descriptors, path tables and directories lie below

    constexpr unsigned seed = 20261211;
    std::mt19937 random(seed);
    auto below = [&](size_t n) { return (size_t)(random() % n); };
    for (int round = 0; round < 200; ++round)
    {
        SCOPED_TRACE("seed " + String(seed) + ", round " + String(round));
        MemoryBlock damaged = good;
        switch (round % 3)
        {
        case 0:
            damaged.setSize(below(good.getSize()));
            break;
        case 1:
            for (size_t n = 1 + below(16); n > 0; --n)
                damaged[16 * sector + below(metadataEnd - 16 * sector)] = (char)random();
            break;
        default:
            // Plausible-looking addresses and lengths, in either byte order.
            for (size_t n = 1 + below(4); n > 0; --n)
            {
                const size_t at = 16 * sector + below(metadataEnd - 16 * sector - 8);
                const uint32 value = random() % 2 ? (uint32)below(400) : (uint32)random();
                random() % 2 ? putBoth32(damaged, at, value) : putLe32(damaged, at, value);
            }
        }
        save(copy, damaged);

        ISOfile iso(copy.getFullPathName());
        iso.findPrimaryVolumeDescriptor();
        iso.getImageStart();
        destination.deleteFile();
        iso.extractVolume(destination.getFullPathName(), 0);
        EXPECT_LE(destination.getSize(), (juce::int64)damaged.getSize());
        iso.relocate(-100 * sector);
        iso.relocate(37 * sector + 5);
        EXPECT_EQ(copy.getSize(), (juce::int64)damaged.getSize());
    }
}

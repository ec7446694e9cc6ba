#include "app/CommandLineTool.h"

#include "app/AppSettings.h"
#include "app/ConsoleAlerts.h"
#include "app/ConsoleProgressDisplay.h"
#include "app/MainComponent.h"
#include "formats/DdpReader.h"
#include "formats/DdpRecords.h"
#include "model/CDItem.h"
#include "model/ProjectValidator.h"
#include "model/Renumbering.h"

#include <iostream>
#include <map>

namespace
{
constexpr int exitOk = 0;
constexpr int exitFailed = 1;
constexpr int exitUsage = 2;

int usageError(const juce::String& text)
{
    std::cerr << "corvane-cli: " << text << "\n\n" << CommandLineTool::usage() << std::flush;
    return exitUsage;
}

struct MasterOptions
{
    juce::String title, performer, mcn;
    std::map<int, juce::String> trackTitles, trackPerformers, isrcs;
    int pause = -1;
    int offset = -1;
    bool yes = false;
    bool plain = false;
    juce::File out;
    juce::Array<juce::File> files;
};

bool isNumber(const juce::String& text)
{
    return text.isNotEmpty() && text.containsOnly("0123456789");
}

// Parses the master command's options; returns an error text, empty when all is well.
juce::String parseMaster(const juce::StringArray& args, MasterOptions& options)
{
    for (int i = 1; i < args.size(); ++i)
    {
        const auto& arg = args[i];
        // Whether the option has its `count` values after it.
        auto hasValues = [&](int count) { return i + count < args.size(); };

        if (arg == "--yes")
            options.yes = true;
        else if (arg == "--plain")
            options.plain = true;
        else if (arg == "--title" || arg == "--performer" || arg == "--mcn" || arg == "--out" ||
                 arg == "--pause" || arg == "--index-offset")
        {
            if (!hasValues(1))
                return arg + " needs a value.";
            const auto v = args[++i];
            if (arg == "--title")
                options.title = v;
            else if (arg == "--performer")
                options.performer = v;
            else if (arg == "--mcn")
                options.mcn = v;
            else if (arg == "--out")
                options.out = juce::File::getCurrentWorkingDirectory().getChildFile(v);
            else
            {
                if (!isNumber(v))
                    return arg + " needs a number of frames, not \"" + v + "\".";
                (arg == "--pause" ? options.pause : options.offset) = v.getIntValue();
            }
        }
        else if (arg == "--track-title" || arg == "--track-performer" || arg == "--isrc")
        {
            if (!hasValues(2))
                return arg + " needs a track number and a value.";
            const auto track = args[++i];
            const auto v = args[++i];
            if (!isNumber(track) || track.getIntValue() < 1 || track.getIntValue() > 99)
                return arg + " needs a track number from 1 to 99, not \"" + track + "\".";
            auto& map = arg == "--track-title"
                            ? options.trackTitles
                            : (arg == "--track-performer" ? options.trackPerformers : options.isrcs);
            map[track.getIntValue()] = v;
        }
        else if (arg.startsWith("-"))
            return "unknown option " + arg + ".";
        else
            options.files.add(juce::File::getCurrentWorkingDirectory().getChildFile(arg));
    }

    if (options.out == juce::File())
        return "master needs --out DIR.";
    if (options.files.isEmpty())
        return "master needs at least one audio file.";
    return {};
}

// The first row of a track (where its ISRC is kept) and its index-1 item (where its CD-Text is).
IndexItem* firstRowOfTrack(CDItem& disc, int track)
{
    for (int row = 0; row <= disc.indexItems.size(); ++row)
        if (auto* item = disc.getRowItem(row); item->trackNumber == track)
            return item;
    return nullptr;
}

IndexItem* trackStart(CDItem& disc, int track)
{
    for (auto* item : disc.indexItems)
        if (item->trackNumber == track && item->indexNumber == 1)
            return item;
    return nullptr;
}

void printPqListing(CDItem& disc)
{
    renumberDisc(disc);
    std::cout << "Track Index Start     Length    ISRC\n";
    auto print = [](const IndexItem& item)
    {
        std::cout << juce::String(item.trackNumber).paddedLeft('0', 2) << "    "
                  << juce::String(item.indexNumber).paddedLeft('0', 2) << "    "
                  << CDDuration::toTimeString(item.start.frames) << "  "
                  << CDDuration::toTimeString(item.indexOffset + item.length.frames) << "  " << item.isrc
                  << "\n";
    };
    print(*disc.firstPregap);
    for (auto* item : disc.indexItems)
        print(*item);
    for (auto* item : disc.dataItems)
        print(*item);
    std::cout << "Lead-out    " << CDDuration::toTimeString(disc.leadOut->start.frames) << "\n";
}

// Checks every file that MD5-Checksum.md5 lists; prints one line per file. True when all match.
bool checkChecksums(const juce::File& folder)
{
    const auto list = folder.getChildFile("MD5-Checksum.md5");
    if (!list.existsAsFile())
    {
        std::cerr << "Error! " << list.getFullPathName() << " does not exist." << std::endl;
        return false;
    }

    bool ok = true;
    juce::StringArray listed;
    for (auto line : juce::StringArray::fromLines(list.loadFileAsString()))
    {
        line = line.trimEnd();
        if (line.isEmpty())
            continue;
        const auto digest = line.upToFirstOccurrenceOf(" ", false, false).toLowerCase();
        const auto name = line.fromFirstOccurrenceOf("*", false, false);
        listed.add(name.toLowerCase());
        auto file = folder.getChildFile(name);
        if (!file.existsAsFile())
            for (const auto& candidate : folder.findChildFiles(juce::File::findFiles, false))
                if (candidate.getFileName().equalsIgnoreCase(name))
                    file = candidate;
        const bool matches = file.existsAsFile() && juce::MD5(file).toHexString() == digest;
        std::cout << (matches ? "OK       " : "FAILED   ") << name << "\n";
        ok = ok && matches;
    }

    for (const auto& file : folder.findChildFiles(juce::File::findFiles, false))
    {
        const auto name = file.getFileName().toLowerCase();
        if (name != "md5-checksum.md5" && name != "filetype.txt" && !listed.contains(name))
        {
            std::cout << "UNLISTED " << file.getFileName() << "\n";
            ok = false;
        }
    }
    return ok;
}

// The identifier and the map packets of a plain fileset, as read from the files themselves.
juce::String describeControlFiles(const juce::File& folder)
{
    using Span = DdpRecords::Span;
    juce::MemoryBlock id, map;
    DdpReader::locate(folder, "DDPID").loadFileAsData(id);
    DdpReader::locate(folder, "DDPMS").loadFileAsData(map);

    auto field = [](const juce::MemoryBlock& block, size_t base, Span span)
    {
        if (base + (size_t)span.end() > block.getSize())
            return juce::String();
        return juce::String(static_cast<const char*>(block.getData()) + base + span.offset,
                            (size_t)span.width);
    };

    juce::String text;
    text << "Identifier: level \"" << field(id, 0, DdpRecords::IdField::level) << "\", UPC/EAN \""
         << field(id, 0, DdpRecords::IdField::upcEan).trim() << "\", book \""
         << field(id, 0, DdpRecords::IdField::book) << "\"\n";
    text << "Map packets:\n";
    using M = DdpRecords::MapField;
    for (size_t base = 0; base + DdpRecords::mapPacketLength <= map.getSize();
         base += DdpRecords::mapPacketLength)
        text << "  " << field(map, base, M::streamType) << " subcode \""
             << field(map, base, M::subcodeDescriptor) << "\" mode \"" << field(map, base, M::cdMode)
             << "\" length " << field(map, base, M::streamLength).trim() << " start \""
             << field(map, base, M::streamStart).trim() << "\" file "
             << field(map, base, M::streamIdentifier).trim()
             << (field(map, base, M::newSession) == "S" ? " (new session)" : "") << "\n";
    return text;
}

int master(const juce::StringArray& args)
{
    MasterOptions options;
    if (const auto error = parseMaster(args, options); error.isNotEmpty())
        return usageError(error);

    // Pauses and offsets default to the application's settings, read without changing them.
    if (options.pause < 0 || options.offset < 0)
    {
        juce::PropertiesFile settings(AppSettings::getSettingsFile(), AppSettings::makeOptions());
        if (options.pause < 0)
            options.pause = settings.getValue("defaultpause", "150").getIntValue();
        if (options.offset < 0)
            options.offset = settings.getValue("indexoffset", "10").getIntValue();
    }

    if (options.out.exists() && (!options.out.isDirectory() ||
                                 options.out.getNumberOfChildFiles(juce::File::findFilesAndDirectories) > 0))
    {
        std::cerr << "Error! " << options.out.getFullPathName() << " must not exist or be an empty folder."
                  << std::endl;
        return exitFailed;
    }

    ConsoleAlerts alerts(options.yes);
    Alerts::install(&alerts);
    ConsoleProgressDisplay progress;
    ProgressDisplay::install(&progress);
    const juce::ScopeGuard restore{[]
                                   {
                                       Alerts::install(nullptr);
                                       ProgressDisplay::install(nullptr);
                                   }};

    CDItem disc;
    int insertionRow = 1;
    disc.importAudioFiles(options.files, insertionRow, options.pause, options.offset);
    renumberDisc(disc);

    int tracks = 0;
    for (auto* item : disc.indexItems)
        tracks += item->indexNumber == 1 ? 1 : 0;
    if (tracks != options.files.size())
    {
        std::cerr << "Error! " << options.files.size() - tracks << " of " << options.files.size()
                  << " file(s) could not be imported; nothing written." << std::endl;
        return exitFailed;
    }

    disc.discTitle = options.title;
    disc.discPerformer = options.performer;
    disc.mcn = options.mcn;
    for (const auto& [track, text] : options.trackTitles)
        if (auto* item = trackStart(disc, track))
            item->title = text;
        else
            return usageError("there is no track " + juce::String(track) + ".");
    for (const auto& [track, text] : options.trackPerformers)
        if (auto* item = trackStart(disc, track))
            item->performer = text;
        else
            return usageError("there is no track " + juce::String(track) + ".");
    for (const auto& [track, text] : options.isrcs)
        if (auto* item = firstRowOfTrack(disc, track))
            item->isrc = text;
        else
            return usageError("there is no track " + juce::String(track) + ".");
    renumberDisc(disc);

    if (!ProjectValidator(disc).validate())
    {
        std::cerr << "Error! The master does not pass the checks; nothing written." << std::endl;
        return exitFailed;
    }

    if (!options.out.createDirectory())
    {
        std::cerr << "Error! Couldn't create " << options.out.getFullPathName() << "." << std::endl;
        return exitFailed;
    }

    // Enciphered as the application does, with a key that lives only for this run.
    const auto key = MainComponent::digestPrefixFor(juce::Random(juce::Time::currentTimeMillis()).nextInt());
    juce::BlowFish cipher(key.toRawUTF8(), key.getNumBytesAsUTF8());
    const juce::BlowFish* cipherUsed = options.plain ? nullptr : &cipher;

    disc.outputFolder = options.out.getFullPathName();
    disc.writeCdText = disc.hasCdText();
    disc.cipher = cipherUsed;
    disc.plainControlFiles = options.plain;
    disc.task = 1;
    disc.errorMessage = {};
    if (!disc.runThread() || !disc.writeSucceeded)
    {
        std::cerr << "Error " << (disc.errorMessage.isNotEmpty() ? disc.errorMessage : "User abort.")
                  << "\nThe fileset in " << options.out.getFullPathName() << " is incomplete." << std::endl;
        return exitFailed;
    }

    CDItem readBack;
    if (!readBack.readDdpFileset(options.out.getFullPathName(), cipherUsed))
    {
        std::cerr << "Error! The fileset in " << options.out.getFullPathName() << " does not read back."
                  << std::endl;
        return exitFailed;
    }

    std::cout << "Wrote " << options.out.getFullPathName() << (options.plain ? " (plain control files)" : "")
              << "\n\n";
    printPqListing(readBack);
    std::cout << "\n"
              << options.out.getChildFile("MD5-Checksum.md5").loadFileAsString().replace("\r\n", "\n");
    return exitOk;
}

int inspect(const juce::StringArray& args)
{
    if (args.size() != 2)
        return usageError("inspect needs exactly one folder.");
    const auto folder = juce::File::getCurrentWorkingDirectory().getChildFile(args[1]);
    if (!folder.isDirectory())
    {
        std::cerr << "Error! " << folder.getFullPathName() << " is not a folder." << std::endl;
        return exitFailed;
    }

    ConsoleAlerts alerts(false);
    Alerts::install(&alerts);
    const juce::ScopeGuard restore{[] { Alerts::install(nullptr); }};

    CDItem disc;
    if (!disc.readDdpFileset(folder.getFullPathName(), nullptr))
        return exitFailed;

    std::cout << describeControlFiles(folder) << "\n";
    printPqListing(disc);

    std::cout << "\nCD-Text\n";
    std::cout << "  Disc: title \"" << disc.discTitle << "\", performer \"" << disc.discPerformer << "\"\n";
    for (auto* item : disc.indexItems)
        if (item->indexNumber == 1 && (item->title.isNotEmpty() || item->performer.isNotEmpty()))
            std::cout << "  Track " << item->trackNumber << ": title \"" << item->title << "\", performer \""
                      << item->performer << "\"\n";

    std::cout << "\nChecksums\n";
    const bool ok = checkChecksums(folder);
    const bool warned = alerts.questionsRefused > 0;
    return ok && !warned ? exitOk : exitFailed;
}
} // namespace

juce::String CommandLineTool::usage()
{
    return "Usage:\n"
           "  corvane-cli master [options] --out DIR FILE...\n"
           "      Imports the audio files (WAV, AIFF, FLAC at 44.1 kHz) as tracks in the order of their\n"
           "      names, checks the master, writes it as a DDP 2.00 fileset into DIR (which must not\n"
           "      exist or be empty), reads it back and prints its PQ listing and MD5 list.\n"
           "      --title TEXT              disc title (CD-Text)\n"
           "      --performer TEXT          disc performer (CD-Text)\n"
           "      --mcn DIGITS              Media Catalogue Number (13 digits)\n"
           "      --track-title N TEXT      title of track N (CD-Text)\n"
           "      --track-performer N TEXT  performer of track N (CD-Text)\n"
           "      --isrc N CODE             ISRC of track N (CCXXXYYNNNNN)\n"
           "      --pause FRAMES            pause before every track but the first (75 frames a second;\n"
           "                                default: the application's track spacing, 150)\n"
           "      --index-offset FRAMES     silence before each track's audio (default: 10; 0 without "
           "pauses)\n"
           "      --yes                     go on past every warning of the checks\n"
           "      --plain                   write PQDESCR, DDPMS and DDPID unenciphered, readable by other\n"
           "                                DDP tools (without it they are enciphered as in the "
           "application)\n"
           "      --out DIR                 the fileset's folder\n"
           "  corvane-cli inspect DIR\n"
           "      Reads a plain DDP fileset, prints its identifier, map packets, PQ listing and CD-Text,\n"
           "      and checks every file against MD5-Checksum.md5.\n"
           "  corvane-cli --help\n"
           "\n"
           "Exit codes: 0 done, 1 failed (the reason is printed), 2 wrong command line.\n";
}

int CommandLineTool::run(const juce::StringArray& args)
{
    if (args.isEmpty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help")
    {
        std::cout << usage();
        return args.isEmpty() ? exitUsage : exitOk;
    }
    if (args[0] == "master")
        return master(args);
    if (args[0] == "inspect")
        return inspect(args);
    return usageError("unknown command " + args[0] + ".");
}

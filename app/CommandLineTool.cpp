#include "app/CommandLineTool.h"

#include "app/AppSettings.h"
#include "app/ConsoleAlerts.h"
#include "app/ConsoleInterrupt.h"
#include "app/ConsoleProgressDisplay.h"
#include "app/MainComponent.h"
#include "formats/DdpReader.h"
#include "formats/DdpRecords.h"
#include "model/CDItem.h"
#include "model/ProjectValidator.h"
#include "model/Renumbering.h"
#include "upload/BlobRequests.h"
#include "upload/PlantConnection.h"

#include <cstdlib>
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

// Where deliver sends the master.
struct DeliverOptions
{
    juce::String customer, project, service;
    int disc = 0; // 0: not given
};

bool isNumber(const juce::String& text)
{
    return text.isNotEmpty() && text.containsOnly("0123456789");
}

// Parses the options of master, or of deliver when deliver is given (the master's options but
// --plain, and the plant's); returns an error text, empty when all is well.
juce::String parseOptions(const juce::StringArray& args, MasterOptions& options, DeliverOptions* deliver)
{
    const auto command = args[0];
    for (int i = 1; i < args.size(); ++i)
    {
        const auto& arg = args[i];
        // Whether the option has its `count` values after it.
        auto hasValues = [&](int count) { return i + count < args.size(); };

        if (arg == "--yes")
            options.yes = true;
        else if (arg == "--plain" && deliver == nullptr)
            options.plain = true;
        else if (deliver != nullptr &&
                 (arg == "--customer" || arg == "--project" || arg == "--service" || arg == "--disc"))
        {
            if (!hasValues(1))
                return arg + " needs a value.";
            const auto v = args[++i];
            if (arg == "--customer")
                deliver->customer = v.trim().toUpperCase();
            else if (arg == "--project")
                deliver->project = v.trim().toUpperCase();
            else if (arg == "--service")
                deliver->service = v;
            else if (!isNumber(v) || v.getIntValue() < 1)
                return "--disc needs a disc number from 1 on, not \"" + v + "\".";
            else
                deliver->disc = v.getIntValue();
        }
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
            return "unknown option " + arg + " for " + command + ".";
        else
            options.files.add(juce::File::getCurrentWorkingDirectory().getChildFile(arg));
    }

    if (deliver == nullptr && options.out == juce::File())
        return "master needs --out DIR.";
    if (deliver != nullptr && (deliver->customer.isEmpty() || deliver->project.isEmpty()))
        return "deliver needs --customer CT and --project QT.";
    if (options.files.isEmpty())
        return command + " needs at least one audio file.";
    return {};
}

// A fileset goes only into a new or empty folder.
bool checkOutFolder(const juce::File& out)
{
    if (out.exists() &&
        (!out.isDirectory() || out.getNumberOfChildFiles(juce::File::findFilesAndDirectories) > 0))
    {
        std::cerr << "Error! " << out.getFullPathName() << " must not exist or be an empty folder."
                  << std::endl;
        return false;
    }
    return true;
}

// The boxes and the job display of one command, installed for its duration.
struct ConsoleSeams
{
    explicit ConsoleSeams(bool answerYes) : alerts(answerYes)
    {
        Alerts::install(&alerts);
        ProgressDisplay::install(&progress);
    }

    ~ConsoleSeams()
    {
        Alerts::install(nullptr);
        ProgressDisplay::install(nullptr);
    }

    ConsoleAlerts alerts;
    ConsoleProgressDisplay progress;
};

// The key of a per-run cipher, made as the application makes its own.
juce::String makeRunKey()
{
    return MainComponent::digestPrefixFor(juce::Random(juce::Time::currentTimeMillis()).nextInt());
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

// Imports the files, applies the CD-Text, ISRC and MCN options, checks the master, writes it
// into options.out (a new or empty folder, created when missing) with cipher for the
// control files (nullptr: plain), reads it back and prints its PQ listing and MD5 list. Boxes and
// the job go through the installed seams. Returns exitOk, or the exit code of the failure it
// printed; on success checksums, when given, holds the writer's digests of the plain content.
int writeMaster(MasterOptions options, const juce::BlowFish* cipher, juce::StringPairArray* checksums)
{
    // Pauses and offsets default to the application's settings, read without changing them.
    if (options.pause < 0 || options.offset < 0)
    {
        juce::PropertiesFile settings(AppSettings::getSettingsFile(), AppSettings::makeOptions());
        if (options.pause < 0)
            options.pause = settings.getValue("defaultpause", "150").getIntValue();
        if (options.offset < 0)
            options.offset = settings.getValue("indexoffset", "10").getIntValue();
    }

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

    disc.outputFolder = options.out.getFullPathName();
    disc.writeCdText = disc.hasCdText();
    disc.cipher = cipher;
    disc.plainControlFiles = cipher == nullptr;
    disc.task = 1;
    disc.errorMessage = {};
    if (!disc.runThread() || !disc.writeSucceeded)
    {
        std::cerr << "Error " << (disc.errorMessage.isNotEmpty() ? disc.errorMessage : "User abort.")
                  << "\nThe fileset in " << options.out.getFullPathName() << " is incomplete." << std::endl;
        return exitFailed;
    }

    CDItem readBack;
    if (!readBack.readDdpFileset(options.out.getFullPathName(), cipher))
    {
        std::cerr << "Error! The fileset in " << options.out.getFullPathName() << " does not read back."
                  << std::endl;
        return exitFailed;
    }

    if (checksums != nullptr)
    {
        checksums->clear();
        checksums->addArray(disc.fileChecksums);
    }

    std::cout << "Wrote " << options.out.getFullPathName()
              << (cipher == nullptr ? " (plain control files)" : "") << "\n\n";
    printPqListing(readBack);
    std::cout << "\n"
              << options.out.getChildFile("MD5-Checksum.md5").loadFileAsString().replace("\r\n", "\n");
    return exitOk;
}

int master(const juce::StringArray& args)
{
    MasterOptions options;
    if (const auto error = parseOptions(args, options, nullptr); error.isNotEmpty())
        return usageError(error);
    if (!checkOutFolder(options.out))
        return exitFailed;

    ConsoleSeams seams(options.yes);

    // Enciphered as the application does, with a key that lives only for this run.
    const auto key = makeRunKey();
    juce::BlowFish cipher(key.toRawUTF8(), key.getNumBytesAsUTF8());
    return writeMaster(options, options.plain ? nullptr : &cipher, nullptr);
}

int deliver(const juce::StringArray& args)
{
    MasterOptions options;
    DeliverOptions target;
    if (const auto error = parseOptions(args, options, &target); error.isNotEmpty())
        return usageError(error);
    if (options.out != juce::File() && !checkOutFolder(options.out))
        return exitFailed;

    // The plant connection reads its service URL from the environment when it is made.
    if (target.service.isNotEmpty())
        ::setenv("CORVANE_SERVICE_URL", target.service.toRawUTF8(), 1);

    ConsoleSeams seams(options.yes);
    // Declared after the seams: the watcher calls into the progress display until it is gone.
    ConsoleInterrupt interrupt([&seams] { seams.progress.cancel(); });

    PlantConnection plant;
    plant.enteredCustomerNumber = target.customer;
    plant.enteredProjectNumber = target.project;
    std::cout << "Verifying customer " << target.customer << ", project " << target.project << " with "
              << plant.getServiceBaseUrl() << std::endl;
    if (!plant.verifyUser())
        return exitFailed;

    int discNumber = 0;
    if (plant.isMultiDisc)
        discNumber = target.disc > 0 ? target.disc : 1;
    else if (target.disc > 0)
    {
        std::cerr << "corvane-cli: project " << target.project
                  << " is a single disc; leave out --disc. Nothing was written or uploaded." << std::endl;
        return exitUsage;
    }
    std::cout << "Project " << plant.replyProjectId
              << (discNumber > 0 ? ", disc " + juce::String(discNumber) + " of a multi-disc set"
                                 : ", single disc")
              << std::endl;

    // Without --out the master lives in a fresh temporary folder of this run's own.
    const bool temporaryFolder = options.out == juce::File();
    if (temporaryFolder)
    {
        auto pattern = juce::File::getSpecialLocation(juce::File::tempDirectory)
                           .getChildFile("corvane-deliver-XXXXXX")
                           .getFullPathName()
                           .toStdString();
        if (::mkdtemp(pattern.data()) == nullptr)
        {
            std::cerr << "Error! Couldn't create a folder for the master in " << pattern << "." << std::endl;
            return exitFailed;
        }
        options.out = juce::File(pattern);
    }
    const juce::ScopeGuard removeTemporaryFolder{[&]
                                                 {
                                                     if (temporaryFolder)
                                                         options.out.deleteRecursively();
                                                 }};

    // Enciphered with a key that lives only for this run; the upload deciphers on the way up.
    const auto key = makeRunKey();
    plant.runCipher = std::make_unique<juce::BlowFish>(key.toRawUTF8(), key.getNumBytesAsUTF8());
    if (const auto result = writeMaster(options, plant.runCipher.get(), &plant.contentDigests);
        result != exitOk)
        return result;
    // The plant learns what the master was made from, as from the application's export.
    if (!MainComponent::writeFiletype(options.out, false))
        return exitFailed;
    if (ConsoleInterrupt::requested())
    {
        std::cerr << "User abort." << std::endl;
        return exitFailed;
    }

    std::cout << "\nUploading to " << BlobRequests::remotePrefix(plant.replyProjectId, discNumber)
              << std::endl;
    if (!plant.uploadFileset(options.out, discNumber))
        return exitFailed;

    std::cout << "Uploaded; the plant checks the files" << std::endl;
    return plant.createActivities() ? exitOk : exitFailed;
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
           "  corvane-cli deliver --customer CT --project QT [--disc N] [--service URL] [options] FILE...\n"
           "      Has the plant's service check the customer and project numbers, makes the master as\n"
           "      master does (with enciphered control files; --plain is not taken), uploads it into the\n"
           "      project's blob container and tells the service that the upload is complete.\n"
           "      --customer CT             customer number (CT#)\n"
           "      --project QT              project number (SO#, QT# or project id)\n"
           "      --disc N                  the disc's number in a multi-disc set (default 1); refused\n"
           "                                for a single-disc project\n"
           "      --service URL             the service's base URL, ending in /QelService.svc/ (default:\n"
           "                                $CORVANE_SERVICE_URL, else the built-in one)\n"
           "      --out DIR                 keep the master in DIR (default: a temporary folder, removed\n"
           "                                at the end)\n"
           "      and the master options above. Ctrl-C cancels as the Cancel button does; a second\n"
           "      Ctrl-C ends the tool at once. An interrupted upload resumes block by block when the\n"
           "      same files are delivered again.\n"
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
    if (args[0] == "deliver")
        return deliver(args);
    return usageError("unknown command " + args[0] + ".");
}

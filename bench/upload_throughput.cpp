// Upload throughput of PlantConnection::uploadFileset against the curl command-line tool sending
// the same bytes in the same requests to the same blob store, both measured in this run.
//
//   upload_throughput <work folder> [rounds]
//
// Needs the stand-ins running and CORVANE_SERVICE_URL naming their service
// (bench/upload_throughput.sh does both). Makes a master of a 700,000,000-byte IMAGE.DAT and the
// small control files (stored enciphered, digests in contentDigests as the export leaves them) and
// verifies CT10001 / SO20001. For curl, before any timing: IMAGE.DAT is split into 4 MiB pieces,
// the control files are deciphered, and one config file lists every request of the upload in its
// order (block-list GET, each block PUT with its Content-MD5 and id, the commit, the small files'
// whole PUTs), run by one curl process that reuses its connection as uploadFileset does. Each
// round uploads to fresh blob names (ours as disc N of the project, curl's outside the project),
// so the store skips nothing; the two take turns going first. Reports seconds, MB/s (10^6 bytes)
// and processor time of each and the ratio of throughputs (ours / curl, goal at least 0.8); exits
// non-zero when an upload failed, the service's check of ours failed, or the best ratio misses
// the goal.

#include "UploadBench.h"

#include "upload/BlobRequests.h"

#include <sys/resource.h>

#include <algorithm>

namespace
{
constexpr juce::int64 imageSize = 700000000;
constexpr double goal = 0.8;

juce::String quoted(const juce::String& text)
{
    return "\"" + text.replace("\\", "\\\\").replace("\"", "\\\"") + "\"";
}

juce::String shellQuoted(const juce::String& text)
{
    return "'" + text.replace("'", "'\\''") + "'";
}

// The curl side, prepared once: every request of the upload in uploadFileset's order, with its
// body as a file (IMAGE.DAT in 4 MiB pieces, the control files deciphered).
struct CurlBaseline
{
    struct Request
    {
        enum Kind
        {
            wholeFile,
            blockList,
            block,
            commit
        } kind;
        juce::String blobName; // under the round's blob folder
        juce::File body;       // none for the block list
        juce::String md5;      // Content-MD5, or for the commit x-ms-blob-content-md5, as ours sends
        juce::String blockId;
    };
    juce::File folder;
    std::vector<Request> requests;

    void addWholeFile(const juce::File& file, const juce::String& md5, const juce::BlowFish& cipher)
    {
        auto body = file;
        if (juce::StringArray{"ddpid", "ddpms", "pqdescr"}.contains(file.getFileName().toLowerCase()))
        {
            juce::MemoryBlock content;
            file.loadFileAsData(content);
            DdpControlCipher::decipher(content, cipher);
            body = folder.getChildFile(file.getFileName());
            body.replaceWithData(content.getData(), content.getSize());
        }
        requests.push_back({Request::wholeFile, file.getFileName(), body, md5, {}});
    }

    // The block list, every block, the commit.
    void addBlocked(const juce::File& file, const juce::String& md5)
    {
        const auto name = file.getFileName();
        requests.push_back({Request::blockList, name, {}, {}, {}});

        const auto pieces = folder.getChildFile("pieces");
        pieces.createDirectory();
        const auto command = "split -b " + juce::String(BlobRequests::blockSize) + " -d -a 4 " +
                             shellQuoted(file.getFullPathName()) + " " +
                             shellQuoted(pieces.getChildFile(name + ".").getFullPathName());
        if (std::system(command.toRawUTF8()) != 0)
            std::fprintf(stderr, "split failed\n");

        juce::FileInputStream in(file);
        juce::StringArray ids;
        for (int i = 0; !in.isExhausted(); ++i)
        {
            const juce::MD5 digest(in, BlobRequests::blockSize);
            ids.add(BlobRequests::blockId(digest));
            requests.push_back({Request::block, name,
                                pieces.getChildFile(name + "." + juce::String(i).paddedLeft('0', 4)),
                                BlobRequests::base64Digest(digest), ids[i]});
        }

        const auto commitFile = folder.getChildFile(name + ".commit.xml");
        commitFile.replaceWithText(BlobRequests::commitDocument(ids), false, false, nullptr);
        requests.push_back({Request::commit, name, commitFile, md5, {}});
    }

    // One curl config for a round: blobs under blobFolder of the container that sasUri names.
    juce::File writeConfig(const juce::String& sasUri, const juce::String& blobFolder, int round) const
    {
        juce::String config("silent\nshow-error\ngloboff\n");
        for (const auto& r : requests)
        {
            if (&r != &requests.front())
                config << "next\n";

            const auto blob = blobFolder + r.blobName;
            juce::StringArray headers;
            juce::String url;
            switch (r.kind)
            {
            case Request::wholeFile:
                url = BlobRequests::requestUrl(sasUri, blob);
                headers = {"x-ms-blob-type: BlockBlob", "Content-MD5: " + r.md5};
                break;
            case Request::blockList:
                url = BlobRequests::requestUrl(sasUri, blob, BlobRequests::blockListQuery);
                break;
            case Request::block:
                url = BlobRequests::requestUrl(sasUri, blob, BlobRequests::blockQuery(r.blockId));
                headers = {"x-ms-blob-type: BlockBlob", "Content-MD5: " + r.md5};
                break;
            case Request::commit:
                url = BlobRequests::requestUrl(sasUri, blob, BlobRequests::commitQuery);
                headers = {"x-ms-blob-content-md5: " + r.md5};
                break;
            }

            config << "url = " << quoted(url) << "\n";
            if (r.kind != Request::blockList)
                config << "upload-file = " << quoted(r.body.getFullPathName()) << "\n";
            for (const auto& header : headers)
                config << "header = " << quoted(header) << "\n";
            config << "output = \"/dev/null\"\nwrite-out = \"%{http_code}\\n\"\n";
        }

        const auto file = folder.getChildFile("round" + juce::String(round) + ".curl");
        file.replaceWithText(config, false, false, nullptr);
        return file;
    }
};

// The requests in the order uploadFileset takes the files (sorted paths).
CurlBaseline prepareCurl(const juce::File& master, const juce::File& folder, const PlantConnection& plant)
{
    CurlBaseline curl;
    curl.folder = folder;
    folder.deleteRecursively();
    folder.createDirectory();

    auto files = master.findChildFiles(juce::File::findFiles | juce::File::ignoreHiddenFiles, false);
    files.sort();
    for (const auto& file : files)
    {
        const auto md5 = plant.contentDigests[file.getFileName().toLowerCase()];
        if (file.getSize() > BlobRequests::largestWholeFile)
            curl.addBlocked(file, md5);
        else
            curl.addWholeFile(file, md5, *plant.runCipher);
    }
    return curl;
}

struct Run
{
    bool ok = false;
    double seconds = 0;
    double cpu = 0;
};

Run runCurl(const juce::File& config)
{
    const auto codes = config.withFileExtension("codes");
    const auto command =
        "curl -K " + shellQuoted(config.getFullPathName()) + " > " + shellQuoted(codes.getFullPathName());
    const auto cpuBefore = BenchClock::cpuSeconds(RUSAGE_CHILDREN);
    const auto start = std::chrono::steady_clock::now();
    const auto status = std::system(command.toRawUTF8());
    Run run{status == 0, BenchClock::secondsSince(start),
            BenchClock::cpuSeconds(RUSAGE_CHILDREN) - cpuBefore};

    // 404 is the block list of a blob that has no blocks yet; everything else has to be created.
    juce::StringArray lines;
    lines.addLines(codes.loadFileAsString().trim());
    for (const auto& line : lines)
        if (line != "201" && line != "404")
            run.ok = false;
    if (!run.ok)
        std::fprintf(stderr, "curl failed (exit status %d), HTTP statuses: %s\n", status,
                     lines.joinIntoString(" ").toRawUTF8());
    return run;
}

Run runOurs(PlantConnection& plant, const juce::File& master, int discNumber)
{
    // The previous round's commit document would otherwise go up as one more file.
    master.getChildFile("xml.txt").deleteFile();
    const auto cpuBefore = BenchClock::cpuSeconds(RUSAGE_SELF);
    const auto start = std::chrono::steady_clock::now();
    const bool ok = plant.uploadFileset(master, discNumber);
    return {ok, BenchClock::secondsSince(start), BenchClock::cpuSeconds(RUSAGE_SELF) - cpuBefore};
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: %s <work folder> [rounds]\n", argv[0]);
        return 2;
    }
    const juce::File work(juce::File::getCurrentWorkingDirectory().getChildFile(argv[1]));
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;

    UploadBench::stayOffScreen();
    juce::ScopedJuceInitialiser_GUI framework;
    UploadBench::QuietAlerts alerts;
    PlantConnection plant;
    plant.runCipher = std::make_unique<juce::BlowFish>("bench", 5);

    std::printf("making a master of %lld bytes and curl's pieces of it...\n", (long long)imageSize);
    std::fflush(stdout);
    const auto master = work.getChildFile("master");
    if (!UploadBench::makeFileset(master, imageSize, *plant.runCipher, plant.contentDigests))
    {
        std::fprintf(stderr, "couldn't write the master into %s\n", master.getFullPathName().toRawUTF8());
        return 1;
    }
    const auto curl = prepareCurl(master, work.getChildFile("curl"), plant);
    if (!UploadBench::verifyKnownProject(plant))
        return 1;

    const auto bytes = (double)UploadBench::filesetBytes(master);
    const auto mbps = [bytes](const Run& run) { return bytes / run.seconds / 1e6; };
    bool allOk = true;
    double bestCurl = 1e9, bestOurs = 1e9, lowRatio = 1e9, highRatio = 0;

    for (int round = 1; round <= rounds; ++round)
    {
        const auto config =
            curl.writeConfig(plant.sasUri, "/curl-baseline/round" + juce::String(round) + "/", round);
        Run curlRun, oursRun;
        if (round % 2 == 1)
        {
            curlRun = runCurl(config);
            oursRun = runOurs(plant, master, round);
        }
        else
        {
            oursRun = runOurs(plant, master, round);
            curlRun = runCurl(config);
        }
        allOk = allOk && curlRun.ok && oursRun.ok;

        const auto ratio = mbps(oursRun) / mbps(curlRun);
        std::printf(
            "round %d (%s first): curl %.2f s, %.1f MB/s (cpu %.2f s); uploadFileset %.2f s, %.1f MB/s "
            "(cpu %.2f s)%s; ratio %.2f\n",
            round, round % 2 == 1 ? "curl" : "uploadFileset", curlRun.seconds, mbps(curlRun), curlRun.cpu,
            oursRun.seconds, mbps(oursRun), oursRun.cpu, oursRun.ok ? "" : " FAILED", ratio);
        std::fflush(stdout);
        bestCurl = std::min(bestCurl, curlRun.seconds);
        bestOurs = std::min(bestOurs, oursRun.seconds);
        lowRatio = std::min(lowRatio, ratio);
        highRatio = std::max(highRatio, ratio);
    }

    // What the service finds in the blob store: every round's IMAGE.DAT against the checksum list.
    const bool checked = allOk && plant.createActivities();
    const auto ratio = bestCurl / bestOurs;
    std::printf("%.0f bytes: best curl %.2f s (%.1f MB/s), best uploadFileset %.2f s (%.1f MB/s), ratio %.2f "
                "(rounds %.2f to %.2f; goal at least %.2f); service check %s\n",
                bytes, bestCurl, bytes / bestCurl / 1e6, bestOurs, bytes / bestOurs / 1e6, ratio, lowRatio,
                highRatio, goal, checked ? "passed" : "FAILED");
    return allOk && checked && ratio >= goal ? 0 : 1;
}

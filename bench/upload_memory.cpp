// Peak resident memory of uploading a 1 GiB master through PlantConnection::uploadFileset to the
// plant's local stand-ins: the upload streams its 4 MiB blocks (digest and body), so the process's
// peak may grow by far less than one block, let alone by the file.
//
//   upload_memory <work folder>
//
// Needs the stand-ins running and CORVANE_SERVICE_URL naming their service (bench/upload_memory.sh
// does both). Makes a master of 1 GiB IMAGE.DAT and the small control files in the work folder,
// with their digests in contentDigests as the export leaves them (so IMAGE.DAT is not digested as a
// whole again), verifies CT10001 / SO20001, uploads, and lets CreateActivities check what arrived.
// Prints VmHWM (peak) and VmRSS of /proc/self/status before and after the upload; exits non-zero
// when the upload or the check failed or the peak grew by a whole block or more.

#include "UploadBench.h"

#include "upload/BlobRequests.h"

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: %s <work folder>\n", argv[0]);
        return 2;
    }
    const juce::File work(juce::File::getCurrentWorkingDirectory().getChildFile(argv[1]));
    constexpr juce::int64 imageSize = juce::int64(1) << 30;
    constexpr long blockKiB = (long)(BlobRequests::blockSize / 1024);

    UploadBench::stayOffScreen();
    juce::ScopedJuceInitialiser_GUI framework;
    UploadBench::QuietAlerts alerts;
    PlantConnection plant;
    plant.runCipher = std::make_unique<juce::BlowFish>("bench", 5);

    const long startHwm = UploadBench::statusKiB("VmHWM:");
    std::printf("making a master of %lld bytes...\n", (long long)imageSize);
    std::fflush(stdout);
    const auto master = work.getChildFile("master");
    if (!UploadBench::makeFileset(master, imageSize, *plant.runCipher, plant.contentDigests))
    {
        std::fprintf(stderr, "couldn't write the master into %s\n", master.getFullPathName().toRawUTF8());
        return 1;
    }
    if (!UploadBench::verifyKnownProject(plant))
        return 1;

    const long hwmBefore = UploadBench::statusKiB("VmHWM:");
    const long rssBefore = UploadBench::statusKiB("VmRSS:");
    const auto start = std::chrono::steady_clock::now();
    const bool uploaded = plant.uploadFileset(master, 0);
    const auto seconds = BenchClock::secondsSince(start);
    const long hwmAfter = UploadBench::statusKiB("VmHWM:");
    const long rssAfter = UploadBench::statusKiB("VmRSS:");

    const auto bytes = UploadBench::filesetBytes(master);
    std::printf("upload %s: %lld bytes in %.2f s (%.1f MB/s)\n", uploaded ? "succeeded" : "FAILED",
                (long long)bytes, seconds, (double)bytes / seconds / 1e6);
    std::printf("peak resident (VmHWM): %ld KiB at start, %ld KiB before the upload, %ld KiB after it\n",
                startHwm, hwmBefore, hwmAfter);
    std::printf("resident now (VmRSS): %ld KiB before the upload, %ld KiB after it\n", rssBefore, rssAfter);
    const long growth = hwmAfter - hwmBefore;
    std::printf("the upload raised the peak by %ld KiB; one block is %ld KiB, the file %lld KiB\n", growth,
                blockKiB, (long long)(imageSize / 1024));
    std::fflush(stdout);

    const bool checked = uploaded && plant.createActivities();
    if (uploaded)
        std::printf("the service's check of the uploaded files: %s\n", checked ? "passed" : "FAILED");
    return uploaded && checked && growth < blockKiB ? 0 : 1;
}

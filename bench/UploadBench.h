#pragma once

// What the upload benchmarks share: boxes without a screen, the stand-ins' known project, a
// master-like fileset of noise, and the process's memory figures. Header only: every bench/*.cpp
// is an executable of its own.

#include "app/Alerts.h"
#include "formats/DdpControlCipher.h"
#include "upload/PlantConnection.h"

#include "BenchClock.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace UploadBench
{
// Call before the framework starts. Its modal loops create the desktop, which opens the X display
// that DISPLAY names, or ":0" when it names none; a benchmark needs no screen, and an X server that
// goes away mid-run (another session's Xvfb on :0) would end the process. With a name that is no
// display the framework stays windowless.
inline void stayOffScreen()
{
    ::setenv("DISPLAY", "none", 1);
}

// Boxes go to stderr; a question gets its last button (No, Cancel). A progress box runs the modal
// loop of a component that is never put on the screen, and the transfer ends it, as the
// application's window is ended. Installs itself for its lifetime.
class QuietAlerts : public Alerts
{
public:
    QuietAlerts() { Alerts::install(this); }
    ~QuietAlerts() override { Alerts::install(nullptr); }

    int show(const AlertRequest& request) override
    {
        std::fprintf(stderr, "[%s] %s\n", request.title.toRawUTF8(), request.message.toRawUTF8());
        ++boxesShown;
        return request.buttons.empty() ? 0 : request.buttons.back().result;
    }

    std::unique_ptr<ProgressAlert> createProgressBox(const AlertRequest&, double&) override
    {
        return std::make_unique<HiddenProgress>();
    }

    int boxesShown = 0;

private:
    class HiddenProgress : public ProgressAlert
    {
    public:
        int runModal() override
        {
            // Without a window there is no keyboard focus to take.
            return runModalLoopOf(component, false);
        }
        void setMessage(const juce::String&) override {}
        void hide() override { component.setVisible(false); }
        juce::Component& getModalComponent() override { return component; }

    private:
        juce::Component component;
    };
};

// The stand-ins' single-disc project (standins/customers.json): CT10001 / SO20001, project id
// P-20001. The service's address comes from CORVANE_SERVICE_URL.
inline bool verifyKnownProject(PlantConnection& plant)
{
    plant.enteredCustomerNumber = "CT10001";
    plant.enteredProjectNumber = "SO20001";
    return plant.verifyUser();
}

// Pseudo-random bytes (xorshift64*): no two 4 MiB blocks alike, nothing a compressor could shrink,
// and far faster to make than /dev/urandom. Written through a 64 KiB buffer.
inline bool writeNoise(const juce::File& file, juce::int64 size, std::uint64_t seed)
{
    file.deleteFile();
    juce::FileOutputStream out(file, 1 << 16);
    if (out.failedToOpen())
        return false;
    std::vector<std::uint64_t> buffer(8192);
    std::uint64_t state = seed | 1;
    for (juce::int64 left = size; left > 0;)
    {
        for (auto& word : buffer)
        {
            state ^= state >> 12;
            state ^= state << 25;
            state ^= state >> 27;
            word = state * 0x2545F4914F6CDD1DULL;
        }
        const auto n =
            (size_t)juce::jmin<juce::int64>(left, (juce::int64)(buffer.size() * sizeof(buffer[0])));
        if (!out.write(buffer.data(), n))
            return false;
        left -= (juce::int64)n;
    }
    out.flush();
    return !out.getStatus().failed();
}

inline juce::String base64Of(const juce::MD5& digest)
{
    const auto raw = digest.getRawChecksumData();
    return juce::Base64::toBase64(raw.getData(), raw.getSize());
}

// A master as the export leaves it in folder: IMAGE.DAT of imageSize noise bytes, CDTEXT.BIN, the
// control files PQDESCR, DDPMS and DDPID stored enciphered with cipher, and MD5-Checksum.md5 of
// the plain contents. digests is filled as the export fills contentDigests (lower-case name to the
// Base64 MD5 of the plain content), so the upload need not digest IMAGE.DAT again.
inline bool makeFileset(const juce::File& folder, juce::int64 imageSize, const juce::BlowFish& cipher,
                        juce::StringPairArray& digests)
{
    folder.deleteRecursively();
    if (!folder.createDirectory().wasOk())
        return false;

    juce::String checksumList;
    const auto record = [&](const juce::String& name, const juce::MD5& plainDigest)
    {
        digests.set(name.toLowerCase(), base64Of(plainDigest));
        checksumList << plainDigest.toHexString() << " *" << name << "\r\n";
    };

    const auto image = folder.getChildFile("IMAGE.DAT");
    if (!writeNoise(image, imageSize, 0x1234567))
        return false;
    record(image.getFileName(), juce::MD5(image));

    const struct
    {
        const char* name;
        int size;
        bool enciphered;
    } small[] = {
        {"CDTEXT.BIN", 2016, false}, {"PQDESCR", 3072, true}, {"DDPMS", 1024, true}, {"DDPID", 128, true}};
    juce::Random random(42);
    for (const auto& s : small)
    {
        juce::MemoryBlock content((size_t)s.size);
        random.fillBitsRandomly(content.getData(), content.getSize());
        record(s.name, juce::MD5(content));
        if (s.enciphered)
            DdpControlCipher::encipher(content, cipher);
        if (!folder.getChildFile(s.name).replaceWithData(content.getData(), content.getSize()))
            return false;
    }

    const auto list = folder.getChildFile("MD5-Checksum.md5");
    if (!list.replaceWithText(checksumList, false, false, nullptr))
        return false;
    digests.set(list.getFileName().toLowerCase(), base64Of(juce::MD5(list)));
    return true;
}

inline juce::int64 filesetBytes(const juce::File& folder)
{
    juce::int64 total = 0;
    for (const auto& file :
         folder.findChildFiles(juce::File::findFiles | juce::File::ignoreHiddenFiles, true))
        total += file.getSize();
    return total;
}

// A "VmHWM:" or "VmRSS:" line of /proc/self/status, in KiB (-1 when missing).
inline long statusKiB(const char* field)
{
    long kib = -1;
    if (auto* status = std::fopen("/proc/self/status", "r"))
    {
        char line[256];
        const auto length = std::strlen(field);
        while (kib < 0 && std::fgets(line, sizeof(line), status) != nullptr)
            if (std::strncmp(line, field, length) == 0)
                kib = std::strtol(line + length, nullptr, 10);
        std::fclose(status);
    }
    return kib;
}
} // namespace UploadBench

#pragma once

#include <juce_core/juce_core.h>

// The plant's stand-ins (standins/README.md) for one test: started by the repository's script on
// free loopback ports, stopped again by the destructor. Start failures (Node.js missing, npm
// unreachable) are reported through started() and error(), never skipped.
class StandIns
{
public:
    StandIns();
    ~StandIns();

    bool started() const { return values.size() > 0; }
    const juce::String& error() const { return startError; }

    // A line of the env file: CORVANE_SERVICE_URL, CORVANE_BLOB_ENDPOINT, ...
    juce::String operator[](const juce::String& name) const { return values[name]; }

    // A request to the control interface; returns the reply body (JSON).
    juce::String control(const juce::String& method, const juce::String& path,
                         const juce::String& json = {}) const;
    // The next such call gets exactly this body.
    void queueReply(const juce::String& call, const juce::String& body) const;
    // Adds or replaces a customer (an entry of customers.json, as JSON).
    void putCustomer(const juce::String& number, const juce::String& entryJson) const;
    // The URLs of the service calls received, oldest first.
    juce::StringArray requestUrls() const;

    // A request the blob front passed on (or failed), oldest first.
    struct BlobRequest
    {
        juce::String method;
        juce::String blobPath;  // below the container, e.g. "/P-20001/Content/data/DDPID"
        juce::String operation; // "comp=block", "comp=blocklist&blocklisttype=all", ... or empty
        juce::String blockId;   // of a block PUT, otherwise empty
        juce::String status;    // the store's status, or what happened instead ("client gone")
        juce::String contentMd5;
        juce::int64 contentLength = -1;

        // "PUT DDPID comp=block 201": method, file name, operation, status.
        juce::String describe() const;
    };
    std::vector<BlobRequest> blobRequests() const;

    // Whether the tools the stand-ins need are on the machine; empty, or what is missing.
    static juce::String missingTools();

private:
    juce::File envFile;
    juce::StringPairArray values;
    juce::String startError;
};

// A loopback port on which nothing listens (it was free a moment ago).
int unusedLoopbackPort();

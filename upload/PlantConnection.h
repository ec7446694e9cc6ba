#pragma once

#include "app/Alerts.h"
#include "upload/cURLWrapper.h"

#include <juce_cryptography/juce_cryptography.h>

#include <atomic>
#include <memory>

// The application's side of the plant: the web service's calls, the upload of an exported master
// into the project's blob container, and the listener of every transfer. The main component is
// one (it inherits this); the command-line tool makes its own. Everything but the listener's
// operations runs on the message thread; each call shows its own failures through the alerts seam
// and returns true on success, with a transfer running behind progressWindow meanwhile.
class PlantConnection : public cURLListener
{
public:
    // The service's base URL: CORVANE_SERVICE_URL, or the built-in one.
    PlantConnection();
    ~PlantConnection() override;

    bool verifyUser();
    bool createActivities();
    // Sends every file under localFolder to the project's container: "/" + project id +
    // "/Content/" + "discN/" (discNumber > 0) or "data/". Needs a successful verifyUser.
    bool uploadFileset(const juce::File& localFolder, int discNumber);

    const juce::String& getServiceBaseUrl() const { return serviceBaseUrl; }

    // As entered in the client dialog: trimmed and in capitals.
    juce::String enteredCustomerNumber;
    juce::String enteredProjectNumber;
    // From the last successful verifyUser.
    juce::String replyCustomerId;
    juce::String replyProjectId;
    juce::String sasUri; // the blob container's shared-access URL, with its query
    bool isMultiDisc = false;
    // Set when the service demanded an update and the application was asked to quit.
    bool closingForUpdate = false;

    // Lower-case file name to the Base64 MD5 of the file's plain content (the export fills it);
    // files without an entry are digested as stored.
    juce::StringPairArray contentDigests{true};
    // The per-run cipher with which the master's control files are stored; they are deciphered on
    // the way up. The key exists only in memory.
    std::unique_ptr<juce::BlowFish> runCipher;

    // The listener of every transfer; called on the transfer thread.
    void transferStarting() override;
    void transferFinished(bool failed) override;
    int progress(cURLWrapper* wrapper, double downloadTotal, double downloaded, double uploadTotal,
                 double uploaded) override;
    size_t writeData(const char* data, size_t size, size_t count, cURLWrapper* wrapper) override;
    size_t readData(char* buffer, size_t size, size_t count, cURLWrapper* wrapper) override;
    size_t headerData(const char* data, size_t size, size_t count, cURLWrapper* wrapper) override;

private:
    // A fresh progress window: "Transfer Progress", the message, a bar and "Cancel".
    void openProgressWindow(const juce::String& message);
    // Runs the wrapper's transfer behind progressWindow: 1 succeeded, -1 failed, 0 cancelled (the
    // window is then hidden and cancelRequested set).
    int runTransfer(cURLWrapper& wrapper);
    // One GET of the service into reply; false after a failure or cancellation has been shown.
    bool callService(const juce::String& url, long totalTimeoutSeconds, const juce::String& progressMessage,
                     juce::MemoryOutputStream& reply);

    // The upload's requests (PlantConnectionUpload.cpp).
    struct Upload;
    bool uploadWholeFile(Upload& upload, const juce::File& file);
    bool uploadInBlocks(Upload& upload, const juce::File& file);
    juce::StringArray fetchBlockList(Upload& upload, const juce::File& file);
    // Runs the prepared request into response. Returns its HTTP status when it is one of those
    // accepted; otherwise shows the cancellation, the failure or the store's refusal and returns 0.
    long sendRequest(Upload& upload, juce::MemoryOutputStream& response,
                     std::initializer_list<long> acceptedStatus);

    juce::String serviceBaseUrl;

    std::unique_ptr<ProgressAlert> progressWindow;
    double progressValue = 0.0;               // written under the message-thread lock
    juce::uint32 progressShownAt = 0;         // transfer thread: when progressValue last changed (ms)
    std::atomic<bool> cancelRequested{false}; // set by the message thread, read by the transfer

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(PlantConnection)
};

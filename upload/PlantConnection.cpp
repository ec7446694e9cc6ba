#include "upload/PlantConnection.h"

#include "formats/DdpControlCipher.h"
#include "upload/BlobRequests.h"
#include "upload/DecryptingFileInputStream.h"
#include "upload/ServiceReply.h"

#include <future>
#include <limits>

namespace
{
const juce::String applicationVersion(JUCE_APPLICATION_VERSION_STRING);

const juce::String defaultUpdateMessage("The current version of the Corvane Application you are using is out "
                                        "of date. Please download the new version to continue.");

// The service's base URL when CORVANE_SERVICE_URL does not name another one. The plant's real
// host is configured per installation; this placeholder never resolves.
const juce::String defaultServiceBaseUrl("https://service.corvane.invalid/QelService.svc/");

// The quit check may delete the main window and this component with it, so it runs once the
// current call has returned to the message loop.
void askApplicationToQuit()
{
    juce::MessageManager::callAsync(
        []
        {
            if (auto* application = juce::JUCEApplicationBase::getInstance())
                application->systemRequestedQuit();
        });
}

// The reply's "ProjectInfo" elements (exact case) under a root named "string" in any case.
template <typename Visit> void forEachProjectInfoField(const juce::XmlElement& root, Visit&& visit)
{
    if (!root.getTagName().equalsIgnoreCase("string"))
        return;
    for (auto* info : root.getChildIterator())
        if (info->getTagName() == "ProjectInfo")
            for (auto* field : info->getChildIterator())
                visit(*field);
}
} // namespace

PlantConnection::PlantConnection()
    : serviceBaseUrl(juce::SystemStats::getEnvironmentVariable("CORVANE_SERVICE_URL", defaultServiceBaseUrl))
{
}

PlantConnection::~PlantConnection() = default;

bool PlantConnection::verifyUser()
{
    replyCustomerId.clear();
    replyProjectId.clear();
    sasUri.clear();
    isMultiDisc = false;

    const auto rejected = [this]
    {
        // What a refused reply carried is no authorisation to upload.
        replyCustomerId.clear();
        replyProjectId.clear();
        sasUri.clear();
        isMultiDisc = false;
        return false;
    };

    juce::MemoryOutputStream reply(256);
    const auto url = serviceBaseUrl + "VerifyUser?customerID=" + enteredCustomerNumber +
                     "&projectID=" + enteredProjectNumber + "&brand=0" +
                     "&versionNumber=" + applicationVersion;
    if (!callService(url, 60, "Connecting to server...", reply))
        return false;

    const auto root = ServiceReply::parse(reply.getData(), reply.getDataSize());
    if (root == nullptr)
    {
        Alerts::error("Error reading xml data from server.");
        return false;
    }

    bool errorSeen = false;
    bool updateDemanded = false;
    juce::String errorText, updateMessage, downloadLink;

    forEachProjectInfoField(*root,
                            [&](const juce::XmlElement& field)
                            {
                                const auto name = field.getTagName();
                                const auto text = ServiceReply::textOf(field);
                                if (name == "CustomerID")
                                    replyCustomerId = text;
                                else if (name == "ProjectID")
                                    replyProjectId = text;
                                else if (name == "SASUri")
                                    sasUri = text;
                                else if (name == "isMultiDisc")
                                    isMultiDisc = text.equalsIgnoreCase("true");
                                else if (name == "Error")
                                {
                                    errorSeen = true;
                                    errorText = text;
                                }
                                else if (name == "UpdateAvailable")
                                {
                                    for (auto* part : field.getChildIterator())
                                    {
                                        if (part->getTagName() == "UpdateMessage")
                                            updateMessage = ServiceReply::textOf(*part);
                                        else if (part->getTagName() == "DownloadLink")
                                        {
                                            updateDemanded = true;
                                            downloadLink = ServiceReply::textOf(*part);
                                        }
                                    }
                                }
                            });

    if (errorSeen)
    {
        Alerts::error(errorText);
        return rejected();
    }

    if (updateDemanded)
    {
        if (updateMessage.isEmpty())
            updateMessage = defaultUpdateMessage;
        const bool download = Alerts::askOkCancel(juce::MessageBoxIconType::WarningIcon, {}, updateMessage,
                                                  "Download", "Exit Program");
        if (download && downloadLink.isNotEmpty())
            juce::URL(downloadLink).launchInDefaultBrowser();

        closingForUpdate = true;
        askApplicationToQuit();
        return rejected();
    }

    if (sasUri.isNotEmpty())
        return true;

    Alerts::error("Error reading host data from server.");
    return rejected();
}

bool PlantConnection::createActivities()
{
    juce::MemoryOutputStream reply(256);
    const auto url = serviceBaseUrl + "CreateActivities?customerID=" + replyCustomerId +
                     "&projectID=" + replyProjectId + "&brand=0";
    if (!callService(url, 600, "Waiting for remote server to test the files...", reply))
        return false;

    const auto root = ServiceReply::parse(reply.getData(), reply.getDataSize());
    if (root == nullptr)
    {
        Alerts::error("Error reading xml data from server.");
        return false;
    }

    bool errorSeen = false, successSeen = false;
    juce::String errorText, successText;
    forEachProjectInfoField(*root,
                            [&](const juce::XmlElement& field)
                            {
                                if (field.getTagName().equalsIgnoreCase("Error"))
                                {
                                    errorSeen = true;
                                    errorText = ServiceReply::textOf(field);
                                }
                                else if (field.getTagName().equalsIgnoreCase("Success"))
                                {
                                    successSeen = true;
                                    successText = ServiceReply::textOf(field);
                                }
                            });

    if (errorSeen)
    {
        Alerts::error(errorText);
        return false;
    }
    if (successSeen)
    {
        Alerts::info("Success!", successText);
        return true;
    }
    Alerts::error("Unexpected response from remote server.");
    return false;
}

bool PlantConnection::callService(const juce::String& url, long totalTimeoutSeconds,
                                  const juce::String& progressMessage, juce::MemoryOutputStream& reply)
{
    auto wrapper = std::make_unique<cURLWrapper>();
    if (!wrapper->init())
    {
        Alerts::error(wrapper->getLastError());
        return false;
    }

    wrapper->addListener(this);
    // An option libcurl refuses is not fatal here; its text waits in the wrapper's lastError.
    wrapper->setOption(CURLOPT_ACCEPT_ENCODING, ""); // every encoding libcurl decodes
    wrapper->setOption(CURLOPT_CONNECTTIMEOUT, 60L);
    wrapper->setOption(CURLOPT_TIMEOUT, totalTimeoutSeconds);
    wrapper->setOption(CURLOPT_LOW_SPEED_LIMIT, 0L);
    wrapper->setOption(CURLOPT_USERAGENT,
                       ("curl/" + juce::String(curl_version_info(CURLVERSION_NOW)->version)).toRawUTF8());
    wrapper->setOption(CURLOPT_UPLOAD, 0L);
    // The numbers go in as typed, unescaped; only backslashes become slashes.
    wrapper->setOption(CURLOPT_URL, url.replaceCharacter('\\', '/').toRawUTF8());
    wrapper->setOption(CURLOPT_HTTPGET, 1L);
    cancelRequested = false;

    openProgressWindow(progressMessage);
    wrapper->outputStream = &reply;
    const auto result = runTransfer(*wrapper);

    if (result == 0)
        Alerts::get().show({juce::MessageBoxIconType::WarningIcon, "Canceled!", "User abort.", {{"OK", 0}}});
    else if (result < 0)
        Alerts::error(wrapper->getLastError());

    // The transfer thread reads progressWindow until it ends, so the window goes last.
    wrapper->removeListener(this);
    wrapper.reset();
    progressWindow.reset();
    return result == 1;
}

void PlantConnection::openProgressWindow(const juce::String& message)
{
    progressValue = 0.0;
    progressWindow = Alerts::get().createProgressBox(
        {juce::MessageBoxIconType::NoIcon, "Transfer Progress", message, {{"Cancel", 0}}}, progressValue);
}

int PlantConnection::runTransfer(cURLWrapper& wrapper)
{
    if (!wrapper.perform())
        return -1;

    const auto result = progressWindow->runModal();
    if (result == 0)
    {
        cancelRequested = true;
        progressWindow->hide();
        // The transfer aborts at its next callback. The wrapper may be used again (after a cancelled
        // block list), so it has to end first; the signal frees a callback waiting for the
        // message-thread lock meanwhile.
        wrapper.stopThread(-1);
    }
    return result;
}

void PlantConnection::transferStarting()
{
    // transferFinished ends the window's modal loop, so that loop has to run first.
    auto* thread = juce::Thread::getCurrentThread();
    for (;;)
    {
        {
            const juce::MessageManagerLock lock(thread);
            if (!lock.lockWasGained() || cancelRequested ||
                (progressWindow != nullptr && progressWindow->isRunning()))
                return;
        }
        juce::Thread::sleep(100);
    }
}

void PlantConnection::transferFinished(bool failed)
{
    if (progressWindow != nullptr)
        progressWindow->finish(failed ? -1 : 1);
}

int PlantConnection::progress(cURLWrapper* wrapper, double downloadTotal, double downloaded,
                              double uploadTotal, double uploaded)
{
    if (cancelRequested)
        return -1;

    // Only this thread writes the value while a transfer runs. With both totals 0 (not known yet)
    // the bar keeps what it shows.
    auto value = progressValue;
    if (downloadTotal > uploadTotal)
        value = downloaded / downloadTotal;
    else if (auto* stream = wrapper != nullptr ? wrapper->inputStream : nullptr)
    {
        if (const auto total = stream->getTotalLength(); total > 0)
            value = (double)stream->getPosition() / (double)total;
    }
    else if (uploadTotal > 0)
        value = uploaded / uploadTotal;

    // libcurl calls this for every piece it sends (64 KiB), and each lock waits for the message
    // loop's next turn (it polls once a millisecond): locking every time nearly halved the upload's
    // speed on a fast link. The bar moves at most every 50 ms, and always to its end.
    const auto now = juce::Time::getMillisecondCounter();
    if (value != progressValue && (now - progressShownAt >= 50 || value >= 1.0))
    {
        const juce::MessageManagerLock lock(juce::Thread::getCurrentThread());
        if (lock.lockWasGained())
        {
            progressValue = value;
            progressShownAt = now;
        }
    }
    return 0;
}

size_t PlantConnection::writeData(const char* data, size_t size, size_t count, cURLWrapper* wrapper)
{
    if (cancelRequested)
        return 0;
    const auto n = size * count;
    if (wrapper == nullptr || wrapper->outputStream == nullptr)
        return n;
    if (n == 0)
        return 0;
    return wrapper->outputStream->write(data, n) ? n : 0;
}

size_t PlantConnection::readData(char* buffer, size_t size, size_t count, cURLWrapper* wrapper)
{
    if (cancelRequested)
        return CURL_READFUNC_ABORT;
    auto* stream = wrapper != nullptr ? wrapper->inputStream : nullptr;
    if (stream == nullptr)
        return 0;

    auto* file = dynamic_cast<DecryptingFileInputStream*>(stream);
    const auto position = stream->getPosition();
    const auto total = stream->getTotalLength();
    auto n = (juce::int64)juce::jmin(size * count, (size_t)std::numeric_limits<int>::max());
    if (file != nullptr && file->endPosition >= 0)
        n = juce::jmin(n, file->endPosition - position);
    if (n < 1 || total < 1)
        return 0;

    const bool decipher = file != nullptr && file->decipher && runCipher != nullptr;
    // The cipher works on 8-byte groups counted from the start of the file: a read that stops
    // before the end stops on a group boundary, so the next one starts on one.
    if (decipher && position + n < total && (position + n) % 8 < n)
        n -= (position + n) % 8;

    const auto read = stream->read(buffer, (int)n);
    if (read < 0)
        return CURL_READFUNC_ABORT;
    if (decipher)
        DdpControlCipher::decipher(buffer, (size_t)read, *runCipher);
    return (size_t)read;
}

size_t PlantConnection::headerData(const char*, size_t size, size_t count, cURLWrapper*)
{
    if (cancelRequested)
        return 0;
    return size * count;
}

// The upload ------------------------------------------------------------------------------------

namespace
{
const juce::StringArray encipheredNames{"ddpid", "ddpms", "pqdescr"};
const juce::String commitFileName("xml.txt");

constexpr long connectTimeout = 60;
constexpr long wholeFileTimeout = 600;
constexpr long blockListTimeout = 60;
constexpr long blockTimeout = 28800;
} // namespace

// One run of uploadFileset: the wrapper every request goes through and where the files go.
struct PlantConnection::Upload
{
    std::unique_ptr<cURLWrapper> wrapper;
    juce::File folder;
    juce::String prefix; // "/" + project id + "/Content/" + "data/" or "discN/"

    juce::String blobPathOf(const juce::File& file) const
    {
        return prefix + file.getRelativePathFrom(folder);
    }
};

bool PlantConnection::uploadFileset(const juce::File& localFolder, int discNumber)
{
    Upload upload;
    upload.folder = localFolder;
    upload.prefix = BlobRequests::remotePrefix(replyProjectId, discNumber);

    upload.wrapper = std::make_unique<cURLWrapper>();
    if (!upload.wrapper->init())
    {
        Alerts::error(upload.wrapper->getLastError());
        return false;
    }

    // Sorted, so that a run and its resumption go through the files in the same order.
    auto files = localFolder.findChildFiles(juce::File::findFiles | juce::File::ignoreHiddenFiles, true, "*",
                                            juce::File::FollowSymlinks::no);
    files.sort();
    if (files.isEmpty())
    {
        Alerts::error("No files to upload.");
        return false;
    }

    openProgressWindow("Connecting to server...");

    bool succeeded = true;
    for (const auto& file : files)
    {
        const auto size = file.getSize();
        succeeded = size > BlobRequests::largestWholeFile ? uploadInBlocks(upload, file)
                                                          : uploadWholeFile(upload, file);
        if (!succeeded)
            break;
    }

    // The transfer thread reads progressWindow until it ends, so the window goes last.
    upload.wrapper->removeListener(this);
    upload.wrapper.reset();
    progressWindow.reset();
    return succeeded;
}

namespace
{
std::unique_ptr<DecryptingFileInputStream> openForUpload(const juce::File& file, bool decipher)
{
    auto stream = std::make_unique<DecryptingFileInputStream>(file);
    if (stream->failedToOpen())
    {
        Alerts::error("Couldn't open " + file.getFullPathName() + " for the upload.");
        return nullptr;
    }
    stream->decipher = decipher;
    stream->endPosition = -1;
    return stream;
}

// The Base64 MD5 of a file's content as it is sent: deciphered when the file is stored enciphered.
juce::String digestOfContent(const juce::File& file, const juce::BlowFish* cipher)
{
    if (cipher == nullptr)
        return BlobRequests::base64Digest(juce::MD5(file));
    juce::MemoryBlock content;
    file.loadFileAsData(content);
    DdpControlCipher::decipher(content, *cipher);
    // Streamed: the framework's digest of a block hands memcpy a null pointer when it is empty.
    juce::MemoryInputStream stream(content, false);
    return BlobRequests::base64Digest(juce::MD5(stream));
}

// The MD5 of a block as stored, read through a 64 KiB buffer: the block is never in memory whole,
// and the file is not read in the digest's own 512-byte steps, a system call each. A block that
// cannot be read gets a digest the store refuses.
juce::MD5 digestOfBlock(const juce::File& file, juce::int64 offset, juce::int64 length)
{
    juce::FileInputStream in(file);
    if (in.failedToOpen() || !in.setPosition(offset))
        return {};
    juce::BufferedInputStream buffered(in, 1 << 16);
    return juce::MD5(buffered, (size_t)length);
}

// The digest the store checks the whole content against: the export's for the master's files.
juce::String contentDigestFor(const juce::StringPairArray& digests, const juce::File& file,
                              const juce::BlowFish* cipher)
{
    const auto known = digests.getValue(file.getFileName().toLowerCase(), {});
    return known.isNotEmpty() ? known : digestOfContent(file, cipher);
}
} // namespace

bool PlantConnection::uploadWholeFile(Upload& upload, const juce::File& file)
{
    const bool decipher = runCipher != nullptr && encipheredNames.contains(file.getFileName().toLowerCase());
    const auto stream = openForUpload(file, decipher);
    if (stream == nullptr)
        return false;

    auto& wrapper = *upload.wrapper;
    const auto digest = contentDigestFor(contentDigests, file, decipher ? runCipher.get() : nullptr);
    wrapper.setHeaders({"x-ms-blob-type: BlockBlob", "Content-MD5: " + digest});
    wrapper.setOption(CURLOPT_UPLOAD, 1L);
    wrapper.setOption(CURLOPT_INFILESIZE, (long)stream->getTotalLength());
    wrapper.setOption(CURLOPT_CONNECTTIMEOUT, connectTimeout);
    wrapper.setOption(CURLOPT_TIMEOUT, wholeFileTimeout);
    wrapper.setOption(CURLOPT_URL, BlobRequests::requestUrl(sasUri, upload.blobPathOf(file)).toRawUTF8());
    wrapper.inputStream = stream.get();
    progressWindow->setMessage("Uploading file " + file.getFileName());

    juce::MemoryOutputStream response;
    const bool sent = sendRequest(upload, response, {201}) != 0;
    wrapper.inputStream = nullptr;
    return sent;
}

juce::StringArray PlantConnection::fetchBlockList(Upload& upload, const juce::File& file)
{
    auto& wrapper = *upload.wrapper;
    wrapper.setHeaders({});
    wrapper.setOption(CURLOPT_UPLOAD, 0L);
    wrapper.setOption(CURLOPT_HTTPGET, 1L);
    wrapper.setOption(CURLOPT_CONNECTTIMEOUT, connectTimeout);
    wrapper.setOption(CURLOPT_TIMEOUT, blockListTimeout);
    wrapper.setOption(
        CURLOPT_URL,
        BlobRequests::requestUrl(sasUri, upload.blobPathOf(file), BlobRequests::blockListQuery).toRawUTF8());
    wrapper.inputStream = nullptr;
    progressWindow->setMessage("Downloading list of already uploaded parts");

    // A failure was shown; without the list every block is sent.
    juce::MemoryOutputStream response;
    if (sendRequest(upload, response, {200, 404}) != 200)
        return {};
    return BlobRequests::parseBlockList(response.getData(), response.getDataSize());
}

bool PlantConnection::uploadInBlocks(Upload& upload, const juce::File& file)
{
    const auto held = fetchBlockList(upload, file);

    const bool decipher = runCipher != nullptr && encipheredNames.contains(file.getFileName().toLowerCase());
    const auto stream = openForUpload(file, decipher);
    if (stream == nullptr)
        return false;

    auto& wrapper = *upload.wrapper;
    const auto blobPath = upload.blobPathOf(file);
    const auto size = stream->getTotalLength();
    juce::StringArray blockIds;
    const juce::ScopeGuard forgetStream{[&wrapper] { wrapper.inputStream = nullptr; }};

    // The next block is digested on a thread of its own while this one is sent.
    const auto lengthAt = [size](juce::int64 offset)
    { return juce::jmin(BlobRequests::blockSize, size - offset); };
    auto nextDigest = std::async(std::launch::async, digestOfBlock, file, 0, lengthAt(0));

    for (juce::int64 offset = 0, length = 0; offset < size; offset += length)
    {
        length = lengthAt(offset);
        const auto digest = nextDigest.get();
        if (offset + length < size)
            nextDigest = std::async(std::launch::async, digestOfBlock, file, offset + length,
                                    lengthAt(offset + length));
        const auto id = BlobRequests::blockId(digest);
        stream->endPosition = offset + length;

        if (!held.contains(id))
        {
            stream->setPosition(offset);
            wrapper.setHeaders(
                {"x-ms-blob-type: BlockBlob", "Content-MD5: " + BlobRequests::base64Digest(digest)});
            wrapper.setOption(CURLOPT_UPLOAD, 1L);
            wrapper.setOption(CURLOPT_INFILESIZE, (long)length);
            wrapper.setOption(CURLOPT_CONNECTTIMEOUT, connectTimeout);
            wrapper.setOption(CURLOPT_TIMEOUT, blockTimeout);
            wrapper.setOption(
                CURLOPT_URL,
                BlobRequests::requestUrl(sasUri, blobPath, BlobRequests::blockQuery(id)).toRawUTF8());
            wrapper.inputStream = stream.get();
            progressWindow->setMessage("Uploading file " + file.getFileName());

            juce::MemoryOutputStream response;
            if (sendRequest(upload, response, {201}) == 0)
                return false;
        }
        blockIds.add(id);
    }

    const auto commitFile = upload.folder.getChildFile(commitFileName);
    if (!commitFile.replaceWithText(BlobRequests::commitDocument(blockIds), false, false, nullptr))
    {
        Alerts::error("Couldn't write " + commitFile.getFullPathName() + ".");
        return false;
    }
    const auto commitStream = openForUpload(commitFile, false);
    if (commitStream == nullptr)
        return false;

    // The committed blob carries the MD5 of the whole content, as a whole-file upload's does.
    const auto fileDigest = contentDigestFor(contentDigests, file, decipher ? runCipher.get() : nullptr);
    wrapper.setHeaders({"x-ms-blob-content-md5: " + fileDigest});
    wrapper.setOption(CURLOPT_UPLOAD, 1L);
    wrapper.setOption(CURLOPT_INFILESIZE, (long)commitStream->getTotalLength());
    wrapper.setOption(CURLOPT_CONNECTTIMEOUT, connectTimeout);
    wrapper.setOption(CURLOPT_TIMEOUT, wholeFileTimeout);
    wrapper.setOption(CURLOPT_URL,
                      BlobRequests::requestUrl(sasUri, blobPath, BlobRequests::commitQuery).toRawUTF8());
    wrapper.inputStream = commitStream.get();
    progressWindow->setMessage("Uploading file " + commitFile.getFileName());

    juce::MemoryOutputStream response;
    return sendRequest(upload, response, {201}) != 0;
}

long PlantConnection::sendRequest(Upload& upload, juce::MemoryOutputStream& response,
                                  std::initializer_list<long> acceptedStatus)
{
    auto& wrapper = *upload.wrapper;
    // An option libcurl refuses is not fatal here; its text waits in the wrapper's lastError.
    wrapper.setOption(CURLOPT_LOW_SPEED_LIMIT, 0L);
    wrapper.setOption(CURLOPT_CUSTOMREQUEST, nullptr);
    wrapper.addListener(this);
    wrapper.outputStream = &response;
    cancelRequested = false;

    const auto result = runTransfer(wrapper);
    wrapper.outputStream = nullptr;
    if (result == 0)
    {
        Alerts::get().show({juce::MessageBoxIconType::WarningIcon, "Ready!", "User abort.", {{"OK", 0}}});
        return 0;
    }
    if (result < 0)
    {
        Alerts::error(wrapper.getLastError());
        return 0;
    }

    const auto status = wrapper.getResponseCode();
    for (const auto accepted : acceptedStatus)
        if (status == accepted)
            return status;
    Alerts::error(BlobRequests::describeError(response.getData(), response.getDataSize()));
    return 0;
}

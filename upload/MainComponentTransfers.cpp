#include "app/MainComponent.h"

#include "upload/ServiceReply.h"

#include <limits>

namespace
{
const juce::String applicationVersion(JUCE_APPLICATION_VERSION_STRING);

const juce::String defaultUpdateMessage("The current version of the Corvane Application you are using is out "
                                        "of date. Please download the new version to continue.");

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

bool MainComponent::verifyUser()
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

bool MainComponent::createActivities()
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

bool MainComponent::callService(const juce::String& url, long totalTimeoutSeconds,
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

void MainComponent::openProgressWindow(const juce::String& message)
{
    progressValue = 0.0;
    progressWindow = Alerts::get().createProgressBox(
        {juce::MessageBoxIconType::NoIcon, "Transfer Progress", message, {{"Cancel", 0}}}, progressValue);
}

int MainComponent::runTransfer(cURLWrapper& wrapper)
{
    if (!wrapper.perform())
        return -1;

    const auto result = progressWindow->runModal();
    if (result == 0)
    {
        cancelRequested = true;
        progressWindow->hide();
    }
    return result;
}

void MainComponent::transferStarting()
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

void MainComponent::transferFinished(bool failed)
{
    if (progressWindow != nullptr)
        progressWindow->finish(failed ? -1 : 1);
}

int MainComponent::progress(cURLWrapper* wrapper, double downloadTotal, double downloaded, double uploadTotal,
                            double uploaded)
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

    if (value != progressValue)
    {
        const juce::MessageManagerLock lock(juce::Thread::getCurrentThread());
        if (lock.lockWasGained())
            progressValue = value;
    }
    return 0;
}

size_t MainComponent::writeData(const char* data, size_t size, size_t count, cURLWrapper* wrapper)
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

size_t MainComponent::readData(char* buffer, size_t size, size_t count, cURLWrapper* wrapper)
{
    if (cancelRequested)
        return CURL_READFUNC_ABORT;
    auto* stream = wrapper != nullptr ? wrapper->inputStream : nullptr;
    const auto n = juce::jmin(size * count, (size_t)std::numeric_limits<int>::max());
    if (stream == nullptr || n < 1)
        return 0;
    const auto read = stream->read(buffer, (int)n);
    return read >= 0 ? (size_t)read : CURL_READFUNC_ABORT;
}

size_t MainComponent::headerData(const char*, size_t size, size_t count, cURLWrapper*)
{
    if (cancelRequested)
        return 0;
    return size * count;
}

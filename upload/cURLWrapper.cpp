#include "upload/cURLWrapper.h"

cURLWrapper::cURLWrapper() : juce::Thread("cURL thread") {}

cURLWrapper::~cURLWrapper()
{
    // A transfer still running (the user cancelled) aborts at its next callback; the signal also
    // frees a callback that waits for the message-thread lock while this thread waits here.
    signalThreadShouldExit();
    waitForThreadToExit(-1);

    if (handle != nullptr)
        curl_easy_cleanup(handle);
    curl_slist_free_all(headerList);

    {
        const juce::ScopedLock sl(listenerLock);
        listeners.clear();
    }

    if (globalInitDone)
        curl_global_cleanup();
}

bool cURLWrapper::init()
{
    if (!globalInitDone)
    {
        if (!check(curl_global_init(CURL_GLOBAL_ALL)))
            return false;
        globalInitDone = true;
    }

    if (handle == nullptr)
        handle = curl_easy_init();
    if (handle == nullptr)
        return check(CURLE_FAILED_INIT);

    // libcurl still calls the double-based progress callback; the listener reports doubles.
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
    const bool progressSet = setOption(CURLOPT_NOPROGRESS, 0L) &&
                             setOption(CURLOPT_PROGRESSFUNCTION, &cURLWrapper::progressCallback) &&
                             setOption(CURLOPT_PROGRESSDATA, this);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

    // A null bundle file leaves libcurl with its compiled-in CA directory (on Debian
    // /etc/ssl/certs, which ca-certificates keeps hashed): the platform's trust store.
    return progressSet && setOption(CURLOPT_WRITEFUNCTION, &cURLWrapper::writeCallback) &&
           setOption(CURLOPT_WRITEDATA, this) &&
           setOption(CURLOPT_READFUNCTION, &cURLWrapper::readCallback) && setOption(CURLOPT_READDATA, this) &&
           setOption(CURLOPT_HEADERFUNCTION, &cURLWrapper::headerCallback) &&
           setOption(CURLOPT_HEADERDATA, this) && setOption(CURLOPT_CAINFO, nullptr) &&
           setOption(CURLOPT_PROXY_CAINFO, nullptr);
}

bool cURLWrapper::setHeaders(const juce::StringArray& headers)
{
    curl_slist* list = nullptr;
    for (const auto& header : headers)
    {
        auto* extended = curl_slist_append(list, header.toRawUTF8());
        if (extended == nullptr)
        {
            curl_slist_free_all(list);
            return check(CURLE_OUT_OF_MEMORY);
        }
        list = extended;
    }

    if (!setOption(CURLOPT_HTTPHEADER, list))
    {
        curl_slist_free_all(list);
        return false;
    }
    curl_slist_free_all(headerList);
    headerList = list;
    return true;
}

long cURLWrapper::getResponseCode() const
{
    long code = 0;
    if (handle != nullptr)
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &code);
    return code;
}

void cURLWrapper::addListener(cURLListener* listener)
{
    const juce::ScopedLock sl(listenerLock);
    listeners.addIfNotAlreadyThere(listener);
}

void cURLWrapper::removeListener(cURLListener* listener)
{
    const juce::ScopedLock sl(listenerLock);
    listeners.removeFirstMatchingValue(listener);
}

bool cURLWrapper::perform()
{
    if (transferRunning)
        return true;

    // The previous transfer of this wrapper may still be leaving its thread.
    waitForThreadToExit(-1);
    transferRunning = true;
    if (startThread())
        return true;

    transferRunning = false;
    setLastError("The transfer thread could not be started.");
    return false;
}

juce::String cURLWrapper::getLastError() const
{
    const juce::ScopedLock sl(errorLock);
    return lastError;
}

void cURLWrapper::run()
{
    if (handle == nullptr)
    {
        // The text is in place before anyone learns of the failure.
        setLastError("CURL not initialized");
        transferRunning = false;
        tellListeners([](cURLListener& l) { l.transferFinished(true); });
        return;
    }

    tellListeners([](cURLListener& l) { l.transferStarting(); });

    const auto result = curl_easy_perform(handle);
    if (result != CURLE_OK)
        check(result);

    transferRunning = false;
    tellListeners([failed = result != CURLE_OK](cURLListener& l) { l.transferFinished(failed); });
}

bool cURLWrapper::check(CURLcode code)
{
    if (code == CURLE_OK)
        return true;
    setLastError(curl_easy_strerror(code));
    return false;
}

void cURLWrapper::setLastError(const juce::String& text)
{
    const juce::ScopedLock sl(errorLock);
    lastError = text;
}

cURLListener* cURLWrapper::firstListener() const
{
    juce::Array<cURLListener*> snapshot;
    {
        const juce::ScopedLock sl(listenerLock);
        snapshot = listeners;
    }
    for (auto* listener : snapshot)
        if (listener != nullptr)
            return listener;
    return nullptr;
}

// Each listener present at the start is told once, unless it has left (or was removed) by the
// time its turn comes; a listener leaving from within its call does not cost the next one its turn.
template <typename Call> void cURLWrapper::tellListeners(Call&& call)
{
    juce::Array<cURLListener*> snapshot;
    {
        const juce::ScopedLock sl(listenerLock);
        snapshot = listeners;
    }
    for (auto* listener : snapshot)
    {
        {
            const juce::ScopedLock sl(listenerLock);
            if (listener == nullptr || !listeners.contains(listener))
                continue;
        }
        call(*listener);
    }
}

int cURLWrapper::progressCallback(void* wrapper, double downloadTotal, double downloaded, double uploadTotal,
                                  double uploaded)
{
    auto* self = static_cast<cURLWrapper*>(wrapper);
    if (self == nullptr || self->threadShouldExit())
        return 1;
    auto* listener = self->firstListener();
    if (listener == nullptr)
        return 1;
    return listener->progress(self, downloadTotal, downloaded, uploadTotal, uploaded);
}

size_t cURLWrapper::writeCallback(char* data, size_t size, size_t count, void* wrapper)
{
    auto* self = static_cast<cURLWrapper*>(wrapper);
    auto* listener = self != nullptr ? self->firstListener() : nullptr;
    return listener != nullptr ? listener->writeData(data, size, count, self) : 0;
}

size_t cURLWrapper::readCallback(char* buffer, size_t size, size_t count, void* wrapper)
{
    auto* self = static_cast<cURLWrapper*>(wrapper);
    if (self == nullptr)
        return 0;
    // More than the buffer holds: libcurl fails the transfer with a read error.
    if (self->threadShouldExit())
        return size * count + 1;
    auto* listener = self->firstListener();
    return listener != nullptr ? listener->readData(buffer, size, count, self) : 0;
}

size_t cURLWrapper::headerCallback(char* data, size_t size, size_t count, void* wrapper)
{
    auto* self = static_cast<cURLWrapper*>(wrapper);
    auto* listener = self != nullptr ? self->firstListener() : nullptr;
    return listener != nullptr ? listener->headerData(data, size, count, self) : 0;
}

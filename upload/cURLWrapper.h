#pragma once

#include "upload/cURLListener.h"

#include <juce_core/juce_core.h>

#include <curl/curl.h>

#include <atomic>
#include <type_traits>

// One HTTP or HTTPS transfer through libcurl's easy interface, run on the wrapper's own thread
// while the message thread waits (the listener ends that wait). Created, initialised, used for
// one transfer (or several in a row) and deleted by the message thread; the destructor waits for
// the transfer thread.
class cURLWrapper : public juce::Thread
{
public:
    cURLWrapper();
    ~cURLWrapper() override;

    // Creates the easy handle and routes libcurl's callbacks to the listeners. False when libcurl
    // refused, with its text in getLastError().
    bool init();

    // For the per-transfer options (URL, method, time-outs); null until init() succeeded.
    CURL* getHandle() const { return handle; }

    // Sets one option on the handle. A refusal is not fatal to the caller: libcurl's text goes to
    // lastError, where it surfaces only if the transfer then fails. Integer options take long
    // (or curl_off_t), never int: libcurl reads them through varargs.
    template <typename Value> bool setOption(CURLoption option, Value value)
    {
        static_assert(std::is_same_v<Value, long> || std::is_same_v<Value, curl_off_t> ||
                          std::is_pointer_v<Value> || std::is_null_pointer_v<Value>,
                      "libcurl options take long, curl_off_t or a pointer");
        return check(handle == nullptr ? CURLE_BAD_FUNCTION_ARGUMENT
                                       : curl_easy_setopt(handle, option, value));
    }

    // Request headers ("Name: value"), kept by the wrapper until replaced or until it is deleted.
    // An empty list sends libcurl's own headers only.
    bool setHeaders(const juce::StringArray& headers);

    // HTTP status of the last response (0 when none arrived).
    long getResponseCode() const;

    // Message thread, between transfers. Not owned; the caller deletes them after the transfer.
    juce::InputStream* inputStream = nullptr;   // request body, read by the listener
    juce::OutputStream* outputStream = nullptr; // response body, written by the listener

    // Any thread. A listener is added once however often it is added.
    void addListener(cURLListener* listener);
    void removeListener(cURLListener* listener);

    // Starts the transfer on the wrapper's thread and returns at once. Does nothing while a
    // transfer runs; false only when the thread could not be started.
    bool perform();

    juce::String getLastError() const;

private:
    void run() override;

    bool check(CURLcode code);
    void setLastError(const juce::String& text);
    cURLListener* firstListener() const;
    template <typename Call> void tellListeners(Call&& call);

    static int progressCallback(void* wrapper, double downloadTotal, double downloaded, double uploadTotal,
                                double uploaded);
    static size_t writeCallback(char* data, size_t size, size_t count, void* wrapper);
    static size_t readCallback(char* buffer, size_t size, size_t count, void* wrapper);
    static size_t headerCallback(char* data, size_t size, size_t count, void* wrapper);

    juce::CriticalSection listenerLock;
    CURL* handle = nullptr;
    mutable juce::CriticalSection errorLock;
    juce::String lastError;
    juce::Array<cURLListener*> listeners;

    curl_slist* headerList = nullptr;
    bool globalInitDone = false;
    // True from perform() until the transfer has run; the thread may still be telling listeners
    // that it finished.
    std::atomic<bool> transferRunning{false};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(cURLWrapper)
};

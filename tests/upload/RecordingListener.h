#pragma once

#include "upload/cURLWrapper.h"

#include <atomic>

// A listener for transfers without a window: records what the transfer told it, takes the
// response body into body, supplies the request body from the wrapper's input stream.
// Everything but waitUntilFinished runs on the transfer thread; read the record after the wrapper
// has been deleted or waitUntilFinished returned.
class RecordingListener : public cURLListener
{
public:
    std::atomic<int> starts{0};
    std::atomic<int> finishes{0};
    std::atomic<bool> failed{false};
    juce::MemoryOutputStream body;
    juce::StringArray headerLines;
    std::function<void()> onStarting;

    bool waitUntilFinished(int timeoutMs = 30000) { return finished.wait(timeoutMs); }

    void transferStarting() override
    {
        ++starts;
        if (onStarting)
            onStarting();
    }

    void transferFinished(bool transferFailed) override
    {
        failed = transferFailed;
        ++finishes;
        finished.signal();
    }

    int progress(cURLWrapper*, double, double, double, double) override { return 0; }

    size_t writeData(const char* data, size_t size, size_t count, cURLWrapper*) override
    {
        body.write(data, size * count);
        return size * count;
    }

    size_t readData(char* buffer, size_t size, size_t count, cURLWrapper* wrapper) override
    {
        if (wrapper->inputStream == nullptr)
            return 0;
        return (size_t)juce::jmax(0, wrapper->inputStream->read(buffer, (int)(size * count)));
    }

    size_t headerData(const char* data, size_t size, size_t count, cURLWrapper*) override
    {
        headerLines.add(juce::String::fromUTF8(data, (int)(size * count)).trim());
        return size * count;
    }

private:
    juce::WaitableEvent finished;
};

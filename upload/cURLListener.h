#pragma once

#include <cstddef>

class cURLWrapper;

// What a transfer of a cURLWrapper reports. Every operation is called on the wrapper's thread
// ("cURL thread"), never on the message thread. The last four are libcurl's callbacks: their
// results follow libcurl's rules (a byte count other than the one offered, or a non-zero progress
// result, aborts the transfer).
class cURLListener
{
public:
    // Just before the transfer runs.
    virtual void transferStarting() = 0;
    // After the transfer; wrapper's getLastError() tells why when failed is true.
    virtual void transferFinished(bool failed) = 0;
    // Totals and counts in bytes; 0 goes on, anything else aborts.
    virtual int progress(cURLWrapper* wrapper, double downloadTotal, double downloaded, double uploadTotal,
                         double uploaded) = 0;
    // Response body bytes; returns how many were consumed.
    virtual size_t writeData(const char* data, size_t size, size_t count, cURLWrapper* wrapper) = 0;
    // Request body bytes: fills buffer with up to size × count bytes; returns how many.
    virtual size_t readData(char* buffer, size_t size, size_t count, cURLWrapper* wrapper) = 0;
    // One response header line; returns how many bytes were consumed.
    virtual size_t headerData(const char* data, size_t size, size_t count, cURLWrapper* wrapper) = 0;

    virtual ~cURLListener() = default;
};

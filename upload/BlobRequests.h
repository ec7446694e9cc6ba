#pragma once

#include <juce_cryptography/juce_cryptography.h>

// The blob store's side of the upload: how blobs and requests are named, the block ids, the
// commit document, and the store's replies. Plain functions, usable without a transfer.
namespace BlobRequests
{
// Blocks of a large file, and the largest file sent in one request (bytes).
constexpr juce::int64 blockSize = 4 * 1024 * 1024;
constexpr juce::int64 largestWholeFile = blockSize - 1;

// Query suffixes of the operations, each starting with "&".
extern const juce::String blockListQuery; // the uncommitted and committed blocks of a blob
extern const juce::String commitQuery;    // commits the block list in the body
juce::String blockQuery(const juce::String& blockId);

// "/" + project id + "/Content/" + ("discN/" for a disc of a set, otherwise "data/").
juce::String remotePrefix(const juce::String& projectId, int discNumber);

// The URL of a request: the container part of the shared-access URL (before its first "?"),
// the blob path, the access query (from the "?" on) and the operation's suffix. A container URL
// ending in "/" gives no "//"; without an access query the suffix's "&" becomes "?". Backslashes
// become slashes; nothing is percent-encoded.
juce::String requestUrl(const juce::String& sasUri, const juce::String& blobPath,
                        const juce::String& operationSuffix = {});

// The digest as the store's Content-MD5 headers carry it.
juce::String base64Digest(const juce::MD5& digest);
// The id of a block: its MD5 as 32 lower-case hex digits, those in Base64 (equal blocks, equal ids).
juce::String blockId(const juce::MD5& digest);

// The commit document: UTF-8 XML, root "BlockList", one "Latest" per id in order.
juce::String commitDocument(const juce::StringArray& blockIds);

// The ids a block-list reply names (uncommitted and committed); empty when it is no block list.
juce::StringArray parseBlockList(const void* body, size_t size);

// An error reply of the store as the user reads it: its message, then the code in quotes.
// Parts that are missing read as "unknown".
juce::String describeError(const void* body, size_t size);
} // namespace BlobRequests

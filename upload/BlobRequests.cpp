#include "upload/BlobRequests.h"

#include "upload/ServiceReply.h"

namespace BlobRequests
{
const juce::String blockListQuery("&comp=blocklist&blocklisttype=all");
const juce::String commitQuery("&comp=blocklist");

juce::String blockQuery(const juce::String& blockId)
{
    return "&comp=block&blockid=" + blockId;
}

juce::String remotePrefix(const juce::String& projectId, int discNumber)
{
    auto prefix = projectId + "/Content";
    if (!prefix.startsWith("/"))
        prefix = "/" + prefix;
    if (!prefix.endsWith("/"))
        prefix << "/";
    prefix << (discNumber > 0 ? "disc" + juce::String(discNumber) + "/" : juce::String("data/"));
    return prefix;
}

juce::String requestUrl(const juce::String& sasUri, const juce::String& blobPath,
                        const juce::String& operationSuffix)
{
    const auto queryStart = sasUri.indexOfChar('?');
    auto container = queryStart < 0 ? sasUri : sasUri.substring(0, queryStart);
    const auto accessQuery = queryStart < 0 ? juce::String() : sasUri.substring(queryStart);

    // The store would take a second slash as part of the blob's name.
    while (container.endsWithChar('/') && blobPath.startsWithChar('/'))
        container = container.dropLastCharacters(1);

    auto suffix = operationSuffix;
    if (accessQuery.isEmpty() && suffix.startsWithChar('&'))
        suffix = "?" + suffix.substring(1);

    return (container + blobPath + accessQuery + suffix).replaceCharacter('\\', '/');
}

juce::String base64Digest(const juce::MD5& digest)
{
    const auto raw = digest.getRawChecksumData();
    return juce::Base64::toBase64(raw.getData(), raw.getSize());
}

juce::String blockId(const juce::MD5& digest)
{
    const auto hex = digest.toHexString();
    return juce::Base64::toBase64(hex.toRawUTF8(), (size_t)hex.getNumBytesAsUTF8());
}

juce::String commitDocument(const juce::StringArray& blockIds)
{
    juce::XmlElement list("BlockList");
    for (const auto& id : blockIds)
        list.createNewChildElement("Latest")->addTextElement(id);
    juce::XmlElement::TextFormat format;
    format.customEncoding = "UTF-8";
    return list.toString(format);
}

juce::StringArray parseBlockList(const void* body, size_t size)
{
    juce::StringArray ids;
    const auto root = juce::parseXML(ServiceReply::bodyText(body, size));
    if (root == nullptr || !root->getTagName().equalsIgnoreCase("BlockList"))
        return ids;
    for (const auto* group : {"UncommittedBlocks", "CommittedBlocks"})
        if (auto* blocks = ServiceReply::childNamed(*root, group))
            for (auto* block : blocks->getChildIterator())
                if (block->getTagName() == "Block")
                    if (auto* name = ServiceReply::childNamed(*block, "Name"))
                        ids.add(name->getAllSubText());
    return ids;
}

juce::String describeError(const void* body, size_t size)
{
    juce::String message = "unknown", code = "unknown";
    if (const auto root = ServiceReply::parse(body, size);
        root != nullptr && root->getTagName().equalsIgnoreCase("Error"))
    {
        if (auto* element = ServiceReply::childNamed(*root, "Message"); element != nullptr)
            if (const auto text = element->getAllSubText(); text.isNotEmpty())
                message = text;
        if (auto* element = ServiceReply::childNamed(*root, "Code"); element != nullptr)
            if (const auto text = element->getAllSubText(); text.isNotEmpty())
                code = text;
    }
    return message + "\n\nError code: \"" + code + "\"";
}
} // namespace BlobRequests

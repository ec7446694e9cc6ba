#include "upload/ServiceReply.h"

namespace ServiceReply
{
juce::String unescape(const juce::String& text)
{
    return text.replace("&amp;", "&").replace("&quot;", "\"").replace("&gt;", ">").replace("&lt;", "<");
}

juce::String bodyText(const void* body, size_t size)
{
    auto* bytes = static_cast<const char*>(body);
    if (size >= 3 && juce::CharPointer_UTF8::isByteOrderMark(bytes))
    {
        bytes += 3;
        size -= 3;
    }
    return juce::String::fromUTF8(bytes, (int)size);
}

std::unique_ptr<juce::XmlElement> parse(const void* body, size_t size)
{
    return juce::parseXML(unescape(bodyText(body, size)));
}

juce::XmlElement* childNamed(const juce::XmlElement& element, const juce::String& tagName)
{
    for (auto* child : element.getChildIterator())
        if (child->getTagName() == tagName)
            return child;
    return nullptr;
}

juce::String textOf(const juce::XmlElement& element)
{
    for (auto* child : element.getChildIterator())
        if (child->isTextElement())
            return child->getText();
    return {};
}
} // namespace ServiceReply

#include "upload/ServiceReply.h"

namespace ServiceReply
{
juce::String unescape(const juce::String& text)
{
    return text.replace("&amp;", "&").replace("&quot;", "\"").replace("&gt;", ">").replace("&lt;", "<");
}

std::unique_ptr<juce::XmlElement> parse(const void* body, size_t size)
{
    const auto text = juce::String::fromUTF8(static_cast<const char*>(body), (int)size);
    return juce::parseXML(unescape(text));
}

juce::String textOf(const juce::XmlElement& element)
{
    for (auto* child : element.getChildIterator())
        if (child->isTextElement())
            return child->getText();
    return {};
}
} // namespace ServiceReply

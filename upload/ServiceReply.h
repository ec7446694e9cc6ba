#pragma once

#include <juce_core/juce_core.h>

// Replies of the plant's web service (and error replies of the blob store): an XML document whose
// root holds further XML as escaped text.
namespace ServiceReply
{
// The four plain replacements, "&amp;" first, so that an escaped escape ("&amp;lt;") becomes "<".
juce::String unescape(const juce::String& text);

// A reply's body as text: UTF-8, without the byte-order mark some servers put first.
juce::String bodyText(const void* body, size_t size);

// The body unescaped and parsed; null when it is not XML.
std::unique_ptr<juce::XmlElement> parse(const void* body, size_t size);

// The element's first child with exactly this tag name (the framework's own lookup ignores case).
juce::XmlElement* childNamed(const juce::XmlElement& element, const juce::String& tagName);

// The text of the element's first text child; empty when it has none.
juce::String textOf(const juce::XmlElement& element);
} // namespace ServiceReply

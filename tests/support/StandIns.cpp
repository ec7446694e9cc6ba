#include "support/StandIns.h"

#include "support/TestEnvironment.h"

namespace
{
const juce::File sourceDir(CORVANE_SOURCE_DIR);

juce::String shellQuoted(const juce::String& text)
{
    return "'" + text.replace("'", "'\\''") + "'";
}
} // namespace

juce::String StandIns::missingTools()
{
    for (auto tool : {"node", "npm", "curl"})
        if (runCommand(juce::String("command -v ") + tool) != 0)
            return juce::String(tool) + " is not installed; the stand-ins of the plant need Node.js (18 or "
                                        "later), npm and curl (scripts/install-deps.sh installs them)";
    return {};
}

StandIns::StandIns()
{
    startError = missingTools();
    if (startError.isNotEmpty())
        return;

    envFile = makeTestFolder("standins").getChildFile("standins.env");
    juce::String output;
    const auto script = sourceDir.getChildFile("scripts/standins-start.sh");
    if (runCommand("bash " + shellQuoted(script.getFullPathName()) + " " +
                       shellQuoted(envFile.getFullPathName()),
                   &output) != 0)
    {
        startError = "scripts/standins-start.sh failed:\n" + output;
        return;
    }

    juce::StringArray lines;
    lines.addLines(envFile.loadFileAsString());
    for (const auto& line : lines)
        if (line.containsChar('='))
            values.set(line.upToFirstOccurrenceOf("=", false, false),
                       line.fromFirstOccurrenceOf("=", false, false));
    if (values["CORVANE_SERVICE_URL"].isEmpty())
    {
        startError = "the stand-ins' env file names no service URL:\n" + envFile.loadFileAsString();
        values.clear();
    }
}

StandIns::~StandIns()
{
    if (envFile.existsAsFile())
        runCommand("bash " +
                   shellQuoted(sourceDir.getChildFile("scripts/standins-stop.sh").getFullPathName()) + " " +
                   shellQuoted(envFile.getFullPathName()));
}

juce::String StandIns::control(const juce::String& method, const juce::String& path,
                               const juce::String& json) const
{
    auto command =
        "curl -s -S -X " + method + " " + shellQuoted(values["CORVANE_STANDINS_CONTROL_URL"] + path);
    if (json.isNotEmpty())
    {
        const auto body = envFile.getSiblingFile("control-body.json");
        body.replaceWithText(json);
        command << " -H 'Content-Type: application/json' --data-binary @"
                << shellQuoted(body.getFullPathName());
    }
    juce::String output;
    runCommand(command, &output);
    return output;
}

void StandIns::queueReply(const juce::String& call, const juce::String& body) const
{
    auto* request = new juce::DynamicObject();
    request->setProperty("call", call);
    request->setProperty("body", body);
    control("POST", "next-reply", juce::JSON::toString(juce::var(request)));
}

void StandIns::putCustomer(const juce::String& number, const juce::String& entryJson) const
{
    control("PUT", "customers/" + number, entryJson);
}

juce::StringArray StandIns::requestUrls() const
{
    juce::StringArray urls;
    const auto requests = juce::JSON::parse(control("GET", "requests"));
    if (auto* list = requests.getArray())
        for (const auto& request : *list)
            urls.add(request["url"].toString());
    return urls;
}

std::vector<StandIns::BlobRequest> StandIns::blobRequests() const
{
    std::vector<BlobRequest> requests;
    const auto container = "/" + values["CORVANE_BLOB_CONTAINER"];
    const auto log = juce::JSON::parse(control("GET", "blob-requests"));
    if (auto* list = log.getArray())
        for (const auto& entry : *list)
        {
            BlobRequest r;
            r.method = entry["method"].toString();
            const auto url = entry["url"].toString();
            r.blobPath =
                url.upToFirstOccurrenceOf("?", false, false).fromFirstOccurrenceOf(container, false, false);
            juce::StringArray query;
            query.addTokens(url.fromFirstOccurrenceOf("?", false, false), "&", {});
            for (const auto& part : query)
                if (part.startsWith("comp=") || part.startsWith("blocklisttype="))
                    r.operation << (r.operation.isEmpty() ? "" : "&") << part;
                else if (part.startsWith("blockid="))
                    r.blockId = part.fromFirstOccurrenceOf("=", false, false);
            r.status = entry["status"].toString();
            r.contentMd5 = entry["contentMd5"].toString();
            r.contentLength = entry["contentLength"].isVoid() ? -1 : (juce::int64)entry["contentLength"];
            requests.push_back(r);
        }
    return requests;
}

juce::String StandIns::BlobRequest::describe() const
{
    return method + " " + blobPath.fromLastOccurrenceOf("/", false, false) +
           (operation.isEmpty() ? juce::String() : " " + operation) + " " + status;
}

int unusedLoopbackPort()
{
    juce::StreamingSocket socket;
    socket.createListener(0, "127.0.0.1");
    return socket.getBoundPort();
}

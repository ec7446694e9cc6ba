#include "RecordingListener.h"
#include "support/StandIns.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace
{
// A TLS server on a free loopback port with a certificate for 127.0.0.1 from a certificate
// authority made for this test only. Nothing outside the test's folder learns of that authority.
class TlsServer
{
public:
    TlsServer()
    {
        folder = makeTestFolder("tls");
        const auto in = "cd '" + folder.getFullPathName() + "' && ";
        juce::String output;
        if (runCommand(
                in + "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj '/CN=Corvane Test CA' "
                     "-keyout ca.key -out ca.pem && "
                     "openssl req -newkey rsa:2048 -nodes -subj '/CN=127.0.0.1' -keyout server.key "
                     "-out server.csr && "
                     "printf 'subjectAltName=IP:127.0.0.1\\n' > san.ext && "
                     "openssl x509 -req -days 1 -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial "
                     "-extfile san.ext -out server.pem && "
                     "mkdir authorities && cp ca.pem authorities/ && openssl rehash authorities",
                &output) != 0)
        {
            problem = "openssl could not make the test certificates:\n" + output;
            return;
        }

        folder.getChildFile("server.js")
            .replaceWithText(R"(const https = require('node:https'), fs = require('node:fs');
const server = https.createServer({key: fs.readFileSync('server.key'), cert: fs.readFileSync('server.pem')},
                                  (req, res) => res.end('hello over TLS'));
server.listen(0, '127.0.0.1', () => console.log(server.address().port));
)");
        if (!process.start(juce::StringArray{"/bin/sh", "-c",
                                             "cd '" + folder.getFullPathName() + "' && exec node server.js"}))
        {
            problem = "node could not be started";
            return;
        }
        juce::String line;
        char c = 0;
        while (!line.endsWithChar('\n') && process.readProcessOutput(&c, 1) == 1)
            line += c;
        port = line.trim().getIntValue();
        if (port <= 0)
            problem = "the TLS server did not start: " + line + process.readAllProcessOutput();
    }

    ~TlsServer() { process.kill(); }

    juce::String url() const { return "https://127.0.0.1:" + juce::String(port) + "/"; }
    // The test authority in a hashed directory, the form of the platform's CA directory.
    juce::File authorities() const { return folder.getChildFile("authorities"); }

    juce::String problem;

private:
    juce::File folder;
    juce::ChildProcess process;
    int port = 0;
};

struct Outcome
{
    bool failed = true;
    juce::String error, body;
};

Outcome fetch(const juce::String& url, const juce::File& caDirectory)
{
    RecordingListener listener;
    Outcome outcome;
    {
        cURLWrapper wrapper;
        if (!wrapper.init())
            return {true, wrapper.getLastError(), {}};
        wrapper.addListener(&listener);
        wrapper.setOption(CURLOPT_URL, url.toRawUTF8());
        if (caDirectory != juce::File())
            wrapper.setOption(CURLOPT_CAPATH, caDirectory.getFullPathName().toRawUTF8());
        wrapper.perform();
        listener.waitUntilFinished();
        outcome.error = wrapper.getLastError();
    }
    outcome.failed = listener.failed;
    outcome.body = listener.body.toString();
    return outcome;
}
} // namespace

// The wrapper sets no certificate bundle file. Debian's libcurl then verifies against its
// compiled-in CA directory, the hashed /etc/ssl/certs of ca-certificates. The test puts its own
// authority into such a directory of its own and points only its own handle at it: the same
// lookup, no file outside the test touched.
TEST(Https, VerifiesAgainstAHashedCaDirectoryWithoutABundleFile)
{
    const auto* info = curl_version_info(CURLVERSION_NOW);
    ASSERT_NE(info->capath, nullptr)
        << "this libcurl has no CA directory of its own: without a bundle file it "
           "would trust nothing, so the wrapper would have to name the system bundle";
    const juce::File platformStore(info->capath);
    ASSERT_TRUE(platformStore.isDirectory()) << info->capath;
    EXPECT_GT(platformStore.findChildFiles(juce::File::findFiles, false, "*.0").size(), 0)
        << info->capath << " holds no hashed certificates (is ca-certificates installed?)";

    const auto missing = StandIns::missingTools();
    ASSERT_TRUE(missing.isEmpty()) << missing;
    TlsServer server;
    ASSERT_TRUE(server.problem.isEmpty()) << server.problem;

    // The platform's store does not know the test authority: verification is on.
    const auto untrusted = fetch(server.url(), {});
    EXPECT_TRUE(untrusted.failed);
    EXPECT_EQ(untrusted.error, curl_easy_strerror(CURLE_PEER_FAILED_VERIFICATION));

    const auto trusted = fetch(server.url(), server.authorities());
    EXPECT_FALSE(trusted.failed) << trusted.error;
    EXPECT_EQ(trusted.body, "hello over TLS");
}

#include "RecordingListener.h"
#include "support/StandIns.h"

#include <gtest/gtest.h>

namespace
{
const juce::String couldNotConnect(curl_easy_strerror(CURLE_COULDNT_CONNECT));

juce::String unreachableUrl()
{
    return "http://127.0.0.1:" + juce::String(unusedLoopbackPort()) + "/";
}
} // namespace

TEST(cURLWrapper, WithoutInitTheTransferFailsAtOnce)
{
    RecordingListener listener;
    {
        cURLWrapper wrapper;
        EXPECT_EQ(wrapper.getThreadName(), "cURL thread");
        EXPECT_EQ(wrapper.getHandle(), nullptr);
        EXPECT_EQ(wrapper.getLastError(), "");
        wrapper.addListener(&listener);
        ASSERT_TRUE(wrapper.perform());
        ASSERT_TRUE(listener.waitUntilFinished());
        EXPECT_EQ(wrapper.getLastError(), "CURL not initialized");
    }
    EXPECT_EQ(listener.starts, 0);
    EXPECT_EQ(listener.finishes, 1);
    EXPECT_TRUE(listener.failed);
}

TEST(cURLWrapper, ListenersAreToldOnceEachAndMayLeaveDuringTheTransfer)
{
    RecordingListener twice, leaving, last;
    {
        cURLWrapper wrapper;
        ASSERT_TRUE(wrapper.init()) << wrapper.getLastError();
        ASSERT_NE(wrapper.getHandle(), nullptr);
        wrapper.setOption(CURLOPT_URL, unreachableUrl().toRawUTF8());

        leaving.onStarting = [&] { wrapper.removeListener(&leaving); };
        wrapper.addListener(&leaving);
        wrapper.addListener(&twice);
        wrapper.addListener(&twice);
        wrapper.addListener(&last);

        ASSERT_TRUE(wrapper.perform());
        ASSERT_TRUE(last.waitUntilFinished());
        EXPECT_EQ(wrapper.getLastError(), couldNotConnect);
    }

    EXPECT_EQ(leaving.starts, 1);
    EXPECT_EQ(leaving.finishes, 0);
    for (auto* listener : {&twice, &last})
    {
        EXPECT_EQ(listener->starts, 1);
        EXPECT_EQ(listener->finishes, 1);
        EXPECT_TRUE(listener->failed);
    }
}

TEST(cURLWrapper, OptionRefusalsLeaveLibcurlsTextBehind)
{
    cURLWrapper wrapper;
    EXPECT_FALSE(wrapper.setOption(CURLOPT_URL, "http://127.0.0.1/")); // no handle yet
    ASSERT_TRUE(wrapper.init());
    EXPECT_FALSE(wrapper.setOption(CURLOPT_SSLVERSION, 1000L));
    EXPECT_EQ(wrapper.getLastError(), curl_easy_strerror(CURLE_BAD_FUNCTION_ARGUMENT));
}

// What the block upload needs of the wrapper: one wrapper for several requests in a row, a PUT
// whose body comes from the input stream, headers, the status, and a GET after it.
TEST(cURLWrapper, PutWithBodyAndHeadersThenGetOnTheSameWrapper)
{
    StandIns standIns;
    ASSERT_TRUE(standIns.started()) << standIns.error();

    const juce::String entry = R"({"customerId": "C-7777", "projects": {"SO7": {"projectId": "P-7"}}})";
    juce::MemoryInputStream requestBody(entry.toRawUTF8(), entry.getNumBytesAsUTF8(), false);
    RecordingListener listener;
    cURLWrapper wrapper;
    ASSERT_TRUE(wrapper.init());
    wrapper.addListener(&listener);

    ASSERT_TRUE(wrapper.setHeaders({"Content-Type: application/json", "X-Corvane-Test: 1"}));
    ASSERT_TRUE(wrapper.setOption(CURLOPT_UPLOAD, 1L));
    ASSERT_TRUE(wrapper.setOption(CURLOPT_INFILESIZE_LARGE, (curl_off_t)requestBody.getTotalLength()));
    ASSERT_TRUE(wrapper.setOption(
        CURLOPT_URL, (standIns["CORVANE_STANDINS_CONTROL_URL"] + "customers/CT77777").toRawUTF8()));
    wrapper.inputStream = &requestBody;
    ASSERT_TRUE(wrapper.perform());
    ASSERT_TRUE(listener.waitUntilFinished());
    ASSERT_FALSE(listener.failed) << wrapper.getLastError();
    EXPECT_EQ(wrapper.getResponseCode(), 200);
    EXPECT_TRUE(listener.body.toString().contains("C-7777")) << listener.body.toString();
    EXPECT_TRUE(listener.headerLines.contains("HTTP/1.1 200 OK")) << listener.headerLines.joinIntoString("|");
    EXPECT_TRUE(listener.headerLines.contains("Content-Type: application/json", true));

    // Right after the first transfer told its end: its thread may still be on the way out.
    listener.body.reset();
    wrapper.inputStream = nullptr;
    ASSERT_TRUE(wrapper.setHeaders({}));
    ASSERT_TRUE(wrapper.setOption(CURLOPT_UPLOAD, 0L));
    ASSERT_TRUE(wrapper.setOption(CURLOPT_HTTPGET, 1L));
    ASSERT_TRUE(
        wrapper.setOption(CURLOPT_URL, (standIns["CORVANE_STANDINS_CONTROL_URL"] + "config").toRawUTF8()));
    ASSERT_TRUE(wrapper.perform());
    ASSERT_TRUE(listener.waitUntilFinished());
    ASSERT_FALSE(listener.failed) << wrapper.getLastError();
    EXPECT_EQ(wrapper.getResponseCode(), 200);
    const auto config = juce::JSON::parse(listener.body.toString());
    EXPECT_EQ(config["customers"]["CT77777"]["projects"]["SO7"]["projectId"].toString(), "P-7");
    EXPECT_EQ(listener.starts, 2);
    EXPECT_EQ(listener.finishes, 2);
}

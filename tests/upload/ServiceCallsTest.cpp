#include "support/StandIns.h"

#include "support/MainComponentFixture.h"
#include "support/TestEnvironment.h"

namespace
{
using Icon = juce::MessageBoxIconType;

const juce::String defaultUpdateMessage("The current version of the Corvane Application you are using is out "
                                        "of date. Please download the new version to continue.");

// Stands in for the application object: records the quit requests that reach it.
class QuitRecorder : public juce::JUCEApplication
{
public:
    const juce::String getApplicationName() override { return "Brantwick Corvane App"; }
    const juce::String getApplicationVersion() override { return "4.0.1.0"; }
    void initialise(const juce::String&) override {}
    void shutdown() override {}
    void systemRequestedQuit() override { ++quitRequests; }

    int quitRequests = 0;
};

// A main component talking to freshly started stand-ins of the plant.
class ServiceCalls : public MainComponentFixture
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(standIns.started()) << standIns.error();
        ::setenv("CORVANE_SERVICE_URL", standIns["CORVANE_SERVICE_URL"].toRawUTF8(), 1);
        MainComponentFixture::SetUp();
    }

    bool verify(const juce::String& customer, const juce::String& project)
    {
        main->enteredCustomerNumber = customer;
        main->enteredProjectNumber = project;
        shownAtStart = alerts.records.size();
        return main->verifyUser();
    }

    bool create()
    {
        shownAtStart = alerts.records.size();
        return main->createActivities();
    }

    // The boxes of the last call: its transfer window (which must have succeeded) and what came
    // after it.
    std::vector<ScriptedAlerts::Record> boxesAfterTransfer(const juce::String& progressMessage)
    {
        auto shown = newRecords();
        EXPECT_FALSE(shown.empty());
        if (shown.empty())
            return {};
        EXPECT_EQ(shown[0].title, "Transfer Progress");
        EXPECT_EQ(shown[0].message, progressMessage);
        EXPECT_EQ(shown[0].result, 1);
        return {shown.begin() + 1, shown.end()};
    }

    void expectOneBox(const std::vector<ScriptedAlerts::Record>& boxes, Icon icon, const juce::String& title,
                      const juce::String& message)
    {
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].icon, icon);
        EXPECT_EQ(boxes[0].title, title);
        EXPECT_EQ(boxes[0].message, message);
        EXPECT_EQ(boxes[0].buttons, juce::StringArray{"OK"});
    }

    void expectNoReply()
    {
        EXPECT_EQ(main->replyCustomerId, "");
        EXPECT_EQ(main->replyProjectId, "");
        EXPECT_EQ(main->sasUri, "");
        EXPECT_FALSE(main->isMultiDisc);
    }

    // PUTs a file into the project's folder of the container, as the block upload will.
    void uploadBlob(const juce::String& blobName, const juce::String& content)
    {
        const auto file = makeTestFolder("blobs").getChildFile("body");
        file.replaceWithText(content);
        const auto container = main->sasUri.upToFirstOccurrenceOf("?", false, false);
        const auto query = main->sasUri.fromFirstOccurrenceOf("?", true, false);
        juce::String output;
        ASSERT_EQ(runCommand("curl -s -S -f -X PUT -H 'x-ms-blob-type: BlockBlob' --data-binary @'" +
                                 file.getFullPathName() + "' '" + container + "/" + main->replyProjectId +
                                 "/Content/data/" + blobName + query + "'",
                             &output),
                  0)
            << output;
    }

    StandIns standIns;
};

const juce::String connecting("Connecting to server...");
const juce::String waitingForTests("Waiting for remote server to test the files...");

// An escaped reply as the service sends it: a "string" root around escaped XML.
juce::String reply(const juce::String& inner, const juce::String& root = "string")
{
    return "<" + root + " xmlns=\"http://schemas.microsoft.com/2003/10/Serialization/\">" +
           inner.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;") + "</" + root + ">";
}
} // namespace

TEST_F(ServiceCalls, VerifyUserTakesTheRepliesIdsAndSharedAccessUrl)
{
    standIns.putCustomer("CT10004", R"({"customerId": "C-4714", "root": "STRING",
                                         "projects": {"SO20006": {"projectId": "P-20006"}}})");
    const auto container = standIns["CORVANE_BLOB_ENDPOINT"] + "/" + standIns["CORVANE_BLOB_CONTAINER"] + "?";

    struct Case
    {
        const char *label, *customer, *project, *customerId, *projectId;
        bool multiDisc;
    };
    for (const auto& c : {
             Case{"single disc", "CT10001", "SO20001", "C-4711", "P-20001", false},
             Case{"multi-disc set", "CT10001", "SO20003", "C-4711", "P-20003", true},
             Case{"quotes escaped too", "CT10002", "SO20004", "C-4712", "P-20004", false},
             Case{"escaped twice: &amp;lt; becomes <", "CT10003", "SO20005", "C-4713", "P-20005", false},
             Case{"root spelt STRING", "CT10004", "SO20006", "C-4714", "P-20006", false},
         })
    {
        SCOPED_TRACE(c.label);
        main->isMultiDisc = !c.multiDisc;
        EXPECT_TRUE(verify(c.customer, c.project));
        EXPECT_TRUE(boxesAfterTransfer(connecting).empty());
        EXPECT_EQ(main->replyCustomerId, c.customerId);
        EXPECT_EQ(main->replyProjectId, c.projectId);
        EXPECT_EQ(main->isMultiDisc, c.multiDisc);
        EXPECT_TRUE(main->sasUri.startsWith(container)) << main->sasUri;
    }

    // Unescaped once more than the outer document, the URL's ampersands are plain again.
    verify("CT10001", "SO20001");
    EXPECT_TRUE(main->sasUri.contains("&sr=c&sp=rw&sig=")) << main->sasUri;
    EXPECT_FALSE(main->closingForUpdate);
}

TEST_F(ServiceCalls, VerifyUserRefusalsShowWhyAndLeaveNoReply)
{
    standIns.putCustomer("CT10005",
                         R"({"customerId": "C-1", "projects": {"SO1": {"projectId": "P-1", "sasUri": ""}}})");
    standIns.putCustomer("CT10006", R"({"customerId": "C-1", "update": {"updateMessage": "Not a demand."},
                                         "projects": {"SO1": {"projectId": "P-1", "sasUri": ""}}})");
    standIns.putCustomer(
        "CT10007", R"({"customerId": "C-1", "root": "reply", "projects": {"SO1": {"projectId": "P-1"}}})");

    const juce::String hostData("Error reading host data from server.");
    struct Case
    {
        const char *label, *customer, *project;
        juce::String queuedReply, message;
    };
    for (const auto& c : {
             Case{"account on hold",
                  "CT90001",
                  "SO20001",
                  {},
                  "Your account is on hold. Please contact Brantwick customer service."},
             Case{"unknown customer",
                  "CT55555",
                  "SO20001",
                  {},
                  "The customer number is not known. Please check your CT#."},
             Case{"unknown project",
                  "CT10001",
                  "SO99999",
                  {},
                  "The project number is not known for this customer. Please check your SO#/QT#."},
             Case{"empty SASUri", "CT10005", "SO1", {}, hostData},
             Case{"update message without download link", "CT10006", "SO1", {}, hostData},
             Case{"root not string", "CT10007", "SO1", {}, hostData},
             Case{"projectinfo in lower case", "CT10001", "SO20001",
                  reply("<projectinfo><CustomerID>C-1</CustomerID><ProjectID>P-1</ProjectID>"
                        "<SASUri>http://127.0.0.1/c?sig=1</SASUri></projectinfo>"),
                  hostData},
             Case{"error next to a complete reply", "CT10001", "SO20001",
                  reply("<ProjectInfo><CustomerID>C-1</CustomerID><ProjectID>P-1</ProjectID>"
                        "<SASUri>http://127.0.0.1/c?sig=1</SASUri><Error>Refused.</Error></ProjectInfo>"),
                  "Refused."},
             Case{"not XML", "CT10001", "SO20001", "Service Unavailable",
                  "Error reading xml data from server."},
         })
    {
        SCOPED_TRACE(c.label);
        if (c.queuedReply.isNotEmpty())
            standIns.queueReply("VerifyUser", c.queuedReply);
        EXPECT_FALSE(verify(c.customer, c.project));
        expectOneBox(boxesAfterTransfer(connecting), Icon::WarningIcon, "Error!", c.message);
        expectNoReply();
        EXPECT_FALSE(main->closingForUpdate);
    }
}

TEST_F(ServiceCalls, UpdateDemandClosesTheApplicationWhicheverButton)
{
    QuitRecorder application;
    // The browser: a stand-in found first on the PATH, which notes the address it was given.
    const auto bin = makeTestFolder("bin");
    const auto opened = bin.getChildFile("opened.txt");
    bin.getChildFile("xdg-open")
        .replaceWithText("#!/bin/sh\nprintf '%s' \"$1\" > '" + opened.getFullPathName() + "'\n", false, false,
                         "\n");
    bin.getChildFile("xdg-open").setExecutePermission(true);
    ::setenv(
        "PATH",
        (bin.getFullPathName() + ":" + juce::SystemStats::getEnvironmentVariable("PATH", {})).toRawUTF8(), 1);

    standIns.putCustomer("CT10008", R"({"update": {"downloadLink": ""}})");
    disc().indexItems.add(new IndexItem());

    struct Case
    {
        const char *label, *customer, *button;
        juce::String message, openedLink;
    };
    for (const auto& c : {
             Case{"download", "CT90002", "Download",
                  "Version 4.1 of the Brantwick Corvane App is required for uploads.",
                  "http://127.0.0.1/corvane/download"},
             Case{"exit",
                  "CT90002",
                  "Exit Program",
                  "Version 4.1 of the Brantwick Corvane App is required for uploads.",
                  {}},
             Case{"empty link, no message", "CT10008", "Download", defaultUpdateMessage, {}},
         })
    {
        SCOPED_TRACE(c.label);
        opened.deleteFile();
        main->closingForUpdate = false;
        const auto quitsBefore = application.quitRequests;

        alerts.answer(c.button);
        EXPECT_FALSE(verify(c.customer, "SO20001"));
        const auto boxes = boxesAfterTransfer(connecting);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].icon, Icon::WarningIcon);
        EXPECT_EQ(boxes[0].title, "");
        EXPECT_EQ(boxes[0].message, c.message);
        EXPECT_EQ(boxes[0].buttons, (juce::StringArray{"Download", "Exit Program"}));
        EXPECT_TRUE(main->closingForUpdate);
        expectNoReply();

        // The quit request arrives once the call has returned to the message loop.
        EXPECT_EQ(application.quitRequests, quitsBefore);
        for (int i = 0; i < 50 && (application.quitRequests == quitsBefore ||
                                   (c.openedLink.isNotEmpty() && !opened.existsAsFile()));
             ++i)
            juce::MessageManager::getInstance()->runDispatchLoopUntil(100);
        EXPECT_EQ(application.quitRequests, quitsBefore + 1);
        if (c.openedLink.isEmpty())
            juce::MessageManager::getInstance()->runDispatchLoopUntil(300);
        EXPECT_EQ(opened.existsAsFile() ? opened.loadFileAsString() : juce::String(), c.openedLink);

        // The quit check lets the application close without the unfinished-upload warning.
        EXPECT_TRUE(main->mayQuitNow());
    }
}

TEST_F(ServiceCalls, RequestsReachTheServiceAsBuilt)
{
    ASSERT_TRUE(verify("CT10001", "SO20001"));
    verify("CT10001\\A", "SO\\20001");
    ASSERT_TRUE(verify("CT10001", "SO20001"));
    uploadBlob("MD5-Checksum.md5", "5d41402abc4b2a76b9719d911017c592 *IMAGE.DAT\r\n");
    uploadBlob("IMAGE.DAT", "hello");
    create();

    EXPECT_EQ(
        standIns.requestUrls(),
        (juce::StringArray{
            "/QelService.svc/VerifyUser?customerID=CT10001&projectID=SO20001&brand=0&versionNumber=4.0.1.0",
            "/QelService.svc/VerifyUser?customerID=CT10001/A&projectID=SO/"
            "20001&brand=0&versionNumber=4.0.1.0",
            "/QelService.svc/VerifyUser?customerID=CT10001&projectID=SO20001&brand=0&versionNumber=4.0.1.0",
            "/QelService.svc/CreateActivities?customerID=C-4711&projectID=P-20001&brand=0"}));
}

TEST_F(ServiceCalls, CreateActivitiesAfterAnUploadThatPassesTheCheck)
{
    ASSERT_TRUE(verify("CT10001", "SO20001"));
    uploadBlob("MD5-Checksum.md5", "5d41402abc4b2a76b9719d911017c592 *IMAGE.DAT\r\n");
    uploadBlob("IMAGE.DAT", "hello");

    EXPECT_TRUE(create());
    expectOneBox(boxesAfterTransfer(waitingForTests), Icon::InfoIcon, "Success!",
                 "Thank you. 1 file of project P-20001 (data) arrived intact; processing has started.");
}

TEST_F(ServiceCalls, CreateActivitiesFailuresShowWhy)
{
    ASSERT_TRUE(verify("CT10001", "QT20002"));

    const juce::String unexpected("Unexpected response from remote server.");
    struct Case
    {
        const char* label;
        juce::String queuedReply, title, message;
        bool result;
    };
    for (const auto& c : {
             Case{"nothing uploaded",
                  {},
                  "Error!",
                  "The uploaded files failed the check:\nno files have been uploaded for project P-20002",
                  false},
             Case{"success and error",
                  reply("<ProjectInfo><Success>Started.</Success><Error>Broken.</Error></ProjectInfo>"),
                  "Error!", "Broken.", false},
             Case{"names in any case", reply("<ProjectInfo><SUCCESS>Started.</SUCCESS></ProjectInfo>"),
                  "Success!", "Started.", true},
             Case{"neither element", reply("<ProjectInfo><Done>yes</Done></ProjectInfo>"), "Error!",
                  unexpected, false},
             Case{"no children", reply(""), "Error!", unexpected, false},
             Case{"root not string", reply("<ProjectInfo><Success>Started.</Success></ProjectInfo>", "reply"),
                  "Error!", unexpected, false},
             Case{"not XML", "<html><body>Bad Gateway", "Error!", "Error reading xml data from server.",
                  false},
         })
    {
        SCOPED_TRACE(c.label);
        if (c.queuedReply.isNotEmpty())
            standIns.queueReply("CreateActivities", c.queuedReply);
        EXPECT_EQ(create(), c.result);
        expectOneBox(boxesAfterTransfer(waitingForTests), c.result ? Icon::InfoIcon : Icon::WarningIcon,
                     c.title, c.message);
    }
}

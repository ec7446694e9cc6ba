#include "support/ScriptedAlerts.h"
#include "support/StandIns.h"
#include "support/TestEnvironment.h"

#include "upload/PlantConnection.h"

#include <gtest/gtest.h>

// A cancelled block list is the one cancellation after which the upload goes on, with the same
// transfer handle: the next request must not start before the cancelled one has ended.
TEST(CancelledBlockList, TheUploadGoesOnWithEveryBlockOnceTheListRequestHasEnded)
{
    StandIns standIns;
    ASSERT_TRUE(standIns.started()) << standIns.error();
    ::setenv("CORVANE_SERVICE_URL", standIns["CORVANE_SERVICE_URL"].toRawUTF8(), 1);

    ScriptedAlerts alerts;
    PlantConnection plant;
    plant.enteredCustomerNumber = "CT10001";
    plant.enteredProjectNumber = "SO20001";
    ASSERT_TRUE(plant.verifyUser());

    const auto folder = makeTestFolder("upload");
    juce::MemoryBlock content(4 * 1024 * 1024 + 1);
    juce::Random(7).fillBitsRandomly(content.getData(), content.getSize());
    ASSERT_TRUE(folder.getChildFile("big.bin").replaceWithData(content.getData(), content.getSize()));

    // The store holds the list request far longer than the user waits.
    standIns.control("POST", "blob-faults",
                     R"({"method": "GET", "contains": "comp=blocklist", "delayMs": 3000})");
    alerts.answer("Cancel");
    EXPECT_TRUE(plant.uploadFileset(folder, 0));

    ASSERT_GE(alerts.records.size(), 2u);
    EXPECT_EQ(alerts.records[1].message, "Downloading list of already uploaded parts");
    EXPECT_EQ(alerts.records[1].result, 0);
    const auto shown = alerts.titles().joinIntoString(" | ");
    EXPECT_EQ(shown,
              "Transfer Progress | Transfer Progress | Ready! | Transfer Progress | Transfer Progress | "
              "Transfer Progress");

    juce::StringArray puts;
    const auto log = juce::JSON::parse(standIns.control("GET", "blob-requests"));
    for (const auto& request : *log.getArray())
        if (request["method"] == "PUT")
            puts.add(request["status"].toString() + " " +
                     request["url"]
                         .toString()
                         .fromFirstOccurrenceOf("comp=", false, false)
                         .upToFirstOccurrenceOf("&", false, false));
    EXPECT_EQ(puts.joinIntoString(", "), "201 block, 201 block, 201 blocklist");
}

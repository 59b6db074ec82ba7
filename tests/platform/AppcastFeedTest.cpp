#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/platform/linux/AppcastFeed.h"

namespace tw {
namespace {

using ::testing::HasSubstr;
using Code = UpdateCheckError::Code;

QByteArray feed(const std::string& items) {
    return QByteArray::fromStdString(
        R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><title>Tarnwick</title>)" +
        items + "</channel></rss>");
}

std::string itemWith(const std::string& version,
                     const std::string& url = "https://dl.example/t.deb") {
    return R"(<item><title>t</title><enclosure url=")" + url + R"(" sparkle:version=")" + version +
           R"(" length="1" type="application/octet-stream"/></item>)";
}

// Where the version comes from.

TEST(AppcastFeedTest, ReadsTheVersionAndLinkOfAnEnclosure) {
    const auto release = AppcastFeed::latestRelease(feed(itemWith("1.4.2")));
    ASSERT_TRUE(release) << release.error().description();
    EXPECT_EQ(release->versionText, "1.4.2");
    EXPECT_EQ(release->link, "https://dl.example/t.deb");
}

TEST(AppcastFeedTest, ReadsVersionElementsAndTheItemLinkWithoutAnEnclosure) {
    const auto release = AppcastFeed::latestRelease(
        feed("<item><sparkle:version>\n  2.0  \n</sparkle:version><link> "
             "https://tarnwick.example/2.0 </link></item>"));
    ASSERT_TRUE(release);
    EXPECT_EQ(release->versionText, "2.0");
    EXPECT_EQ(release->link, "https://tarnwick.example/2.0");
}

TEST(AppcastFeedTest, PrefersTheShortVersionThatComparesWithTheApplications) {
    const auto release = AppcastFeed::latestRelease(feed(
        R"(<item><sparkle:version>300</sparkle:version><sparkle:shortVersionString>3.0.1</sparkle:shortVersionString>
           <enclosure url="https://dl.example/a" sparkle:version="301" sparkle:shortVersionString="3.0.2"/></item>)"));
    ASSERT_TRUE(release);
    EXPECT_EQ(release->versionText, "3.0.1");
    const auto attribute = AppcastFeed::latestRelease(feed(
        R"(<item><sparkle:version>300</sparkle:version>
           <enclosure url="https://dl.example/a" sparkle:shortVersionString="3.0.2"/></item>)"));
    ASSERT_TRUE(attribute);
    EXPECT_EQ(attribute->versionText, "3.0.2");
}

TEST(AppcastFeedTest, KnowsTheSparkleNamespaceByItsAddressNotItsPrefix) {
    const auto release = AppcastFeed::latestRelease(QByteArray(
        R"(<rss xmlns:s="http://www.andymatuschak.org/xml-namespaces/sparkle" xmlns:o="urn:other"><channel>
           <item><o:version>9.9</o:version><s:version>1.1</s:version><link>https://x.example/</link></item>
           </channel></rss>)"));
    ASSERT_TRUE(release);
    EXPECT_EQ(release->versionText, "1.1");
}

// Choosing the release.

TEST(AppcastFeedTest, ChoosesTheHighestVersionWhateverTheOrder) {
    const auto release = AppcastFeed::latestRelease(feed(itemWith("1.9", "https://a.example/") +
                                                         itemWith("1.10", "https://b.example/") +
                                                         itemWith("1.2", "https://c.example/")));
    ASSERT_TRUE(release);
    EXPECT_EQ(release->versionText, "1.10");
    EXPECT_EQ(release->link, "https://b.example/");
}

TEST(AppcastFeedTest, PassesOverItemsWithoutAUsableVersionOrLink) {
    const auto release = AppcastFeed::latestRelease(
        feed(itemWith("9.0-beta") + itemWith("8.0", "javascript:alert(1)") +
             itemWith("7.0", "file:///etc/passwd") +
             "<item><link>https://x.example/</link></item>" + itemWith("1.0")));
    ASSERT_TRUE(release);
    EXPECT_EQ(release->versionText, "1.0");
}

TEST(AppcastFeedTest, AFeedWithoutAUsableReleaseSaysSo) {
    for (const auto& items :
         {std::string(), itemWith("beta"), itemWith("2.0", "ftp://x.example/")}) {
        const auto release = AppcastFeed::latestRelease(feed(items));
        ASSERT_FALSE(release) << items;
        EXPECT_EQ(release.error().code, Code::noRelease) << items;
    }
}

// Documents that are not feeds.

TEST(AppcastFeedTest, AMalformedDocumentIsUnreadableWithTheLineOfTheFault) {
    const auto release =
        AppcastFeed::latestRelease(QByteArray("<rss><channel>\n<item></channel></rss>"));
    ASSERT_FALSE(release);
    EXPECT_EQ(release.error().code, Code::unreadable);
    EXPECT_THAT(release.error().description(), HasSubstr("line 2: "));
}

TEST(AppcastFeedTest, ACutOffFeedIsUnreadableEvenAfterAGoodItem) {
    const auto whole = feed(itemWith("2.0"));
    const auto release = AppcastFeed::latestRelease(whole.left(whole.size() - 12));
    ASSERT_FALSE(release);
    EXPECT_EQ(release.error().code, Code::unreadable);
}

TEST(AppcastFeedTest, EmptyTextAndOtherDocumentsAreUnreadable) {
    for (const char* text : {"", "   ", "not xml at all", "<html><body>Not found</body></html>",
                             "{\"version\":\"2.0\"}"}) {
        const auto release = AppcastFeed::latestRelease(QByteArray(text));
        ASSERT_FALSE(release) << text;
        EXPECT_EQ(release.error().code, Code::unreadable) << text;
    }
}

TEST(AppcastFeedTest, RefusesADocumentTypeSoThatEntitiesCannotExpand) {
    const auto release = AppcastFeed::latestRelease(QByteArray(
        R"(<?xml version="1.0"?><!DOCTYPE rss [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;">]>
           <rss><channel><item><title>&b;</title></item></channel></rss>)"));
    ASSERT_FALSE(release);
    EXPECT_EQ(release.error().description(),
              "The update feed could not be read: it declares a document type.");
}

}  // namespace
}  // namespace tw

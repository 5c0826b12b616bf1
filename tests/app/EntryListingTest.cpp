#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/EntryListing.h"

namespace {

using velmora::EntryInfo;

EntryInfo Entry(const std::string& name, uint32_t lasBytes, int64_t extent) {
    EntryInfo e;
    e.name = name;
    e.lasSize = lasBytes;
    e.storedSize = static_cast<uint64_t>(extent);
    return e;
}

EntryInfo WithHeader(EntryInfo e, int minor, int format, uint64_t points, bool checksum) {
    e.headerRead = true;
    e.versionMajor = 1;
    e.versionMinor = minor;
    e.pointFormat = format;
    e.pointCount = points;
    e.hasChecksum = checksum;
    return e;
}

EntryInfo Extended(EntryInfo e) {
    e.extended = true;
    return e;
}

// A checked entry, an extended one with a blank in its name and a LAS 1.4
// point count past 32 bits, and a damaged one whose header could not be read
// and whose LAS size is 0.
std::vector<EntryInfo> ThreeEntries() {
    return {WithHeader(Entry("autzen.las", 1000, 250), 2, 3, 3300000, true),
            Extended(WithHeader(Entry("b c.las", 2000000, 1500000), 4, 6, 5000000042ull, false)),
            Entry("bad.las", 0, 100)};
}

TEST(EntryListingText, OneAlignedLinePerEntryThenTheTotals) {
    EXPECT_EQ(FormatEntryListing(ThreeEntries()),
              " LAS size     Stored   Ratio  Version  Format         Points  Checksum  Kind      Name\n"
              "    1,000        250  25.00%      1.2       3      3,300,000  yes       classic   autzen.las\n"
              "2,000,000  1,500,000  75.00%      1.4       6  5,000,000,042  no        extended  b c.las\n"
              "        0        100       -        ?       ?              ?  ?         classic   bad.las\n"
              "2,001,000  1,500,350  74.98%                   5,003,300,042                      3 entries\n");
}

TEST(EntryListingText, AnEmptyArchiveHasOnlyHeadingAndTotals) {
    EXPECT_EQ(FormatEntryListing({}),
              "LAS size  Stored  Ratio  Version  Format  Points  Checksum  Kind  Name\n"
              "       0       0      -                        0                  0 entries\n");
    const std::string one = FormatEntryListing({Entry("a.las", 10, 5)});
    EXPECT_NE(one.find(" 1 entry\n"), std::string::npos) << one;
}

TEST(EntryListingText, NamesCannotReachTheTerminalAsControlCharacters) {
    const std::string text = FormatEntryListing({Entry("evil\x1b]0;title\x07\r.las", 10, 5)});
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_NE(text.find("evil\\x1b]0;title\\x07\\x0d.las\n"), std::string::npos) << text;
}

// A damaged checksum record is known from the directory, whether or not the
// entry's header could be read.
TEST(EntryListingText, ADamagedChecksumRecordIsShownAsSuch) {
    EntryInfo read = WithHeader(Entry("a.las", 10, 5), 2, 1, 3, false);
    read.checksumDamaged = true;
    EntryInfo unread = Entry("b.las", 10, 5);
    unread.checksumDamaged = true;
    const std::string text = FormatEntryListing({read, unread});
    EXPECT_NE(text.find("3  damaged   classic  a.las\n"), std::string::npos) << text;
    EXPECT_NE(text.find("?  damaged   classic  b.las\n"), std::string::npos) << text;
    const auto doc = nlohmann::json::parse(EntryListingJson("x.vmra", {read, unread}));
    EXPECT_EQ(doc["entries"][0]["checksum"], "damaged");
    EXPECT_EQ(doc["entries"][1]["checksum"], "damaged");
}

TEST(EntryListingJson, TheSameFiguresAsOneDocument) {
    const auto doc = nlohmann::json::parse(EntryListingJson("dir/x.vmra", ThreeEntries()));
    EXPECT_EQ(doc["archive"], "dir/x.vmra");
    ASSERT_EQ(doc["entries"].size(), 3u);
    const auto& a = doc["entries"][0];
    EXPECT_EQ(a["name"], "autzen.las");
    EXPECT_EQ(a["las_size"], 1000);
    EXPECT_EQ(a["stored_size"], 250);
    EXPECT_DOUBLE_EQ(a["ratio_percent"].get<double>(), 25.0);
    EXPECT_EQ(a["las_version"], "1.2");
    EXPECT_EQ(a["point_format"], 3);
    EXPECT_EQ(a["points"], 3300000);
    EXPECT_EQ(a["checksum"], true);
    EXPECT_EQ(a["kind"], "classic");
    EXPECT_EQ(doc["entries"][1]["checksum"], false);
    EXPECT_EQ(doc["entries"][1]["las_version"], "1.4");
    EXPECT_EQ(doc["entries"][1]["points"], 5000000042ull);
    EXPECT_EQ(doc["entries"][1]["kind"], "extended");

    // What the damaged entry's header would have said is not known.
    const auto& bad = doc["entries"][2];
    EXPECT_EQ(bad["stored_size"], 100);
    for (const char* key : {"ratio_percent", "las_version", "point_format", "points", "checksum"}) {
        EXPECT_TRUE(bad[key].is_null()) << key;
    }

    const auto& t = doc["totals"];
    EXPECT_EQ(t["entries"], 3);
    EXPECT_EQ(t["las_size"], 2001000);
    EXPECT_EQ(t["stored_size"], 1500350);
    EXPECT_DOUBLE_EQ(t["ratio_percent"].get<double>(), 1500350.0 / 2001000.0 * 100.0);
    EXPECT_EQ(t["points"], 5003300042ull);
}

TEST(EntryListingJson, NamesThatAreNotUtf8StillGiveADocument) {
    const std::string text = EntryListingJson("x.vmra", {Entry("a\xff\xfe.las", 10, 5)});
    const auto doc = nlohmann::json::parse(text);
    EXPECT_EQ(doc["entries"][0]["name"], "a\xef\xbf\xbd\xef\xbf\xbd.las");
    const auto empty = nlohmann::json::parse(EntryListingJson("x.vmra", {}));
    EXPECT_TRUE(empty["entries"].empty());
    EXPECT_TRUE(empty["totals"]["ratio_percent"].is_null());
}

}  // namespace

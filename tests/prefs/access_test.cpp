// Groups and keys: enumeration, first-match selection, case rules, the pending group, where
// new keys and groups land, integer values, and UTF-8 names. Every case runs with the group
// index and with the plain walk, which must agree.
#include <gtest/gtest.h>

#include <climits>

#include "support/store_fixture.h"

namespace {

using prefs::LineKind;
using testing_support::documentLines;
using testing_support::groupName;
using testing_support::readBytes;
using testing_support::visible;

class AccessTest : public testing_support::StoreTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    prefs::useGroupIndex(GetParam());
  }

  void open(const std::string& bytes) {
    path = fileWith(bytes);
    ASSERT_TRUE(prefs::openPreferences(path.c_str()));
  }

  std::string closeAndRead() {
    prefs::closePreferences();
    return visible(readBytes(path));
  }

  std::vector<std::string> enumerate() {
    std::vector<std::string> names;
    EXPECT_TRUE(prefs::examineGroups());
    while (prefs::nextGroup()) names.push_back(groupName());
    return names;
  }

  std::string path;
};

INSTANTIATE_TEST_SUITE_P(IndexAndWalk, AccessTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Index" : "Walk"; });

TEST_P(AccessTest, RepeatedAndCaseVariantGroupsSelectTheFirst) {
  open("[Bob]\nk=1\n[bob]\nk=2\n[BOB]\nk=3\n[Bob]\nk=4\n");
  EXPECT_EQ(enumerate(), (std::vector<std::string>{"Bob", "bob", "BOB", "Bob"}));
  EXPECT_FALSE(prefs::parsedDocument().groups.isPresent()) << "enumerating needs no index";
  prefs::selectGroup("bob");
  EXPECT_EQ(prefs::parsedDocument().groups.isPresent(), GetParam());
  // From the first group on, the header after the current one is a namesake, not the first.
  for (const char* name : {"Bob", "BOB", "bob", "bOb"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(prefs::selectGroup(name));
    EXPECT_EQ(prefs::readLong("k", -1), 1);
    EXPECT_EQ(groupName(), "Bob");
  }
  prefs::selectGroup("BOB");
  prefs::writeLong("K", 9);
  EXPECT_EQ(closeAndRead(),
            visible("[Bob]\r\nK = 9\r\n[bob]\r\nk = 2\r\n[BOB]\r\nk = 3\r\n[Bob]\r\nk = 4\r\n"));
}

TEST_P(AccessTest, OnlyAsciiLettersIgnoreCase) {
  // Latin-1 letters differ in case by the same bit as ASCII ones, but are not folded.
  open("[\xC4x]\nk=1\n[a_b]\nk=2\n");
  EXPECT_FALSE(prefs::selectGroup("\xE4x"));
  EXPECT_EQ(prefs::readLong("k", -1), -1);
  EXPECT_TRUE(prefs::selectGroup("\xC4X"));
  // '_' (0x5F) and DEL-range bytes are not letters either.
  EXPECT_FALSE(
      prefs::selectGroup("a\x7F"
                         "b"));
  EXPECT_TRUE(prefs::selectGroup("A_B"));
  EXPECT_EQ(prefs::readLong("k", -1), 2);
}

TEST_P(AccessTest, AMissingGroupReadsDefaultsAndIsCreatedAtTheEndByAWrite) {
  open("[a]\nk=1\n; trailing comment\n");
  EXPECT_TRUE(prefs::selectGroup("a"));
  EXPECT_FALSE(prefs::selectGroup("new"));
  EXPECT_EQ(prefs::readLong("k", 42), 42) << "a pending group has no values";
  EXPECT_EQ(prefs::findValue("k"), nullptr);
  EXPECT_EQ(groupName(), "a") << "the current group stays until the pending one is created";
  prefs::writeLong("Res_X", 800);
  EXPECT_EQ(groupName(), "new");
  prefs::writeLong("Res_Y", 600);
  // A later selection finds the new group.
  EXPECT_TRUE(prefs::selectGroup("NEW"));
  EXPECT_EQ(prefs::readLong("Res_Y", 0), 600);
  EXPECT_EQ(
      closeAndRead(),
      visible("[a]\r\nk = 1\r\n; trailing comment\r\n[new]\r\nRes_X = 800\r\nRes_Y = 600\r\n"));
}

TEST_P(AccessTest, APendingGroupIsReplacedOrDiscarded) {
  open("[a]\n");
  prefs::selectGroup("first");
  prefs::selectGroup("second");
  prefs::writeLong("k", 1);
  prefs::selectGroup("third");
  prefs::examineGroups();  // discards it: the next write goes to the top level
  prefs::writeLong("top", 2);
  prefs::selectGroup("fourth");
  prefs::selectGroup("A");  // a successful selection discards it too
  prefs::writeLong("k", 3);
  EXPECT_EQ(closeAndRead(), visible("top = 2\r\n[a]\r\nk = 3\r\n[second]\r\nk = 1\r\n"));
}

TEST_P(AccessTest, WritingAKeyTakesTheCallersFormAndReusesOrGrowsTheValue) {
  open("[g]\nRes_X=800\nRes_Y = 7\n");
  prefs::selectGroup("g");
  prefs::writeLong("RES_X", 5);
  prefs::writeLong("res_y", 1234567);
  EXPECT_EQ(prefs::readLong("Res_Y", 0), 1234567);
  EXPECT_EQ(closeAndRead(), visible("[g]\r\nRES_X = 5\r\nres_y = 1234567\r\n"));
}

TEST_P(AccessTest, AnEqualValueStillWritesTheFileBack) {
  open("[g]\n   Res_X=800\n");
  prefs::selectGroup("g");
  prefs::writeLong("Res_X", 800);
  EXPECT_TRUE(prefs::parsedDocument().modified);
  EXPECT_EQ(closeAndRead(), visible("[g]\r\nRes_X = 800\r\n"));
}

TEST_P(AccessTest, NewKeysLandAtTheEndOfTheirSection) {
  open("top=1\n[a]\nx=1\n; about a\n[b]\n[c]\n");
  prefs::selectGroup("a");
  prefs::writeLong("y", 2);
  prefs::selectGroup("b");
  prefs::writeLong("z", 3);
  prefs::selectGroup("");
  prefs::writeLong("w", 4);
  prefs::selectGroup("c");
  prefs::writeLong("v", 5);
  EXPECT_EQ(closeAndRead(), visible("top = 1\r\nw = 4\r\n[a]\r\nx = 1\r\n; about a\r\ny = 2\r\n"
                                    "[b]\r\nz = 3\r\n[c]\r\nv = 5\r\n"));
}

TEST_P(AccessTest, TheTopLevelOfAFileThatStartsWithAGroupIsBeforeIt) {
  open("[a]\nk=1\n");
  EXPECT_TRUE(prefs::selectGroup(""));
  EXPECT_EQ(prefs::readLong("k", -1), -1) << "the top level does not reach into a group";
  prefs::writeLong("k", 2);
  prefs::writeLong("k", 3);
  EXPECT_EQ(prefs::readLong("k", -1), 3);
  EXPECT_EQ(closeAndRead(), visible("k = 3\r\n[a]\r\nk = 1\r\n"));
  // An empty document takes the entry as its only line.
  open("");
  prefs::writeLong("k", 4);
  EXPECT_EQ(closeAndRead(), visible("k = 4\r\n"));
}

TEST_P(AccessTest, FindValueSkipsCommentsAndTakesTheFirstEntry) {
  open("[g]\n;k=0\nk = 1\nK = 2\n[h]\nk=3\n");
  prefs::selectGroup("g");
  EXPECT_STREQ(prefs::findValue("K"), "1");
  EXPECT_EQ(prefs::findValue("missing"), nullptr);
  EXPECT_TRUE(prefs::examineGroups());
  EXPECT_EQ(prefs::findValue("k"), nullptr) << "the top level holds no entries";
}

TEST_P(AccessTest, ValuesReadLikeAtoiAndSaturate) {
  struct Case {
    const char* text;
    std::int32_t value;
  };
  const Case cases[] = {
      {"1280x", 1280},
      {"", 0},
      {"abc", 0},
      {"  -12", -12},
      {"+7", 7},
      {"- 7", 0},
      {"007", 7},
      {"2147483647", INT_MAX},
      {"2147483648", INT_MAX},
      {"-2147483648", INT_MIN},
      {"-2147483649", INT_MIN},
      {"99999999999999999999999", INT_MAX},
      {"\v\f 5", 5},
      {"1 2", 1},
  };
  std::string file = "[g]\n";
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    file += "k" + std::to_string(i) + "=" + cases[i].text + "\n";
  }
  open(file);
  prefs::selectGroup("g");
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].text);
    EXPECT_EQ(prefs::readLong(("k" + std::to_string(i)).c_str(), 99), cases[i].value);
  }
  EXPECT_EQ(prefs::readLong("absent", 99), 99);
}

TEST_P(AccessTest, ExtremeValuesAreWrittenInDecimal) {
  open("[g]\n");
  prefs::selectGroup("g");
  prefs::writeLong("min", INT_MIN);
  prefs::writeLong("max", INT_MAX);
  prefs::writeLong("zero", 0);
  EXPECT_EQ(prefs::readLong("min", 0), INT_MIN);
  EXPECT_EQ(closeAndRead(),
            visible("[g]\r\nmin = -2147483648\r\nmax = 2147483647\r\nzero = 0\r\n"));
}

TEST_P(AccessTest, Utf8GroupNamesAreGivenAndTakenInLatin1) {
  open(
      "\xEF\xBB\xBF[J\xC3\xBCrgen]\nRes_X=1\n[\xE2\x82\xAC]\n[bad\x80]\n[cut\xE2\x41]\n"
      "[cutAtEnd\xE2]\n[C\xC3\x9C]\nk=2\n");
  EXPECT_EQ(enumerate(),
            (std::vector<std::string>{"J\xFCrgen", "", "", "cut", "cutAtEnd", "C\xDC"}));
  EXPECT_TRUE(prefs::selectGroup("J\xFCrgen"));
  EXPECT_EQ(prefs::readLong("Res_X", 0), 1);
  // The UTF-8 form of a non-ASCII letter is not case-folded.
  EXPECT_FALSE(prefs::selectGroup("c\xFC"));
  EXPECT_TRUE(prefs::selectGroup("c\xDC"));
  EXPECT_EQ(prefs::readLong("k", 0), 2);
  // A new group is stored in UTF-8 and read back in Latin-1.
  EXPECT_FALSE(prefs::selectGroup("Zo\xEB"));
  prefs::writeLong("Res_X", 3);
  EXPECT_EQ(
      closeAndRead(),
      visible("\xEF\xBB\xBF\r\n[J\xC3\xBCrgen]\r\nRes_X = 1\r\n[\xE2\x82\xAC]\r\n[bad\x80]\r\n"
              "[cut\xE2\x41]\r\n[cutAtEnd\xE2]\r\n[C\xC3\x9C]\r\nk = 2\r\n"
              "[Zo\xC3\xAB]\r\nRes_X = 3\r\n"));
  open(readBytes(path));
  EXPECT_EQ(enumerate().back(), "Zo\xEB");
}

TEST_P(AccessTest, AnAnsiFileKeepsItsBytesAsTheyAre) {
  open("[J\xFCrgen]\nk=1\n");
  EXPECT_EQ(enumerate(), std::vector<std::string>{"J\xFCrgen"});
  EXPECT_TRUE(prefs::selectGroup("J\xFCrgen"));
  EXPECT_FALSE(prefs::selectGroup("J\xC3\xBCrgen"));
}

TEST_P(AccessTest, EnumerationWalksHeadersInFileOrderAndStaysAtTheLast) {
  open("top=1\n[a]\nk=1\n;c\n[b]\n[c]\nk=2\n");
  EXPECT_EQ(groupName(), "");
  EXPECT_EQ(enumerate(), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_FALSE(prefs::nextGroup());
  EXPECT_EQ(groupName(), "c");
  EXPECT_EQ(prefs::readLong("k", 0), 2);
}

TEST_P(AccessTest, EveryOperationFailsQuietlyOnAClosedDocument) {
  prefs::closePreferences();
  EXPECT_FALSE(prefs::examineGroups());
  EXPECT_FALSE(prefs::nextGroup());
  EXPECT_EQ(groupName(), "");
  EXPECT_FALSE(prefs::selectGroup("a"));
  EXPECT_FALSE(prefs::selectGroup(""));
  EXPECT_EQ(prefs::findValue("k"), nullptr);
  EXPECT_EQ(prefs::reserveValue("k", 3), nullptr);
  EXPECT_EQ(prefs::readLong("k", 5), 5);
  prefs::writeLong("k", 1);
  prefs::closePreferences();
}

TEST_P(AccessTest, ManyNewGroupsStayFindable) {
  // Enough groups to make the index grow several times while it is in use, after names that
  // differ only in case.
  open("[a]\nk=-1\n[b]\n[A]\nk=-3\n");
  for (int i = 1; i < 300; ++i) {
    const std::string name = "g" + std::to_string(i);
    EXPECT_FALSE(prefs::selectGroup(name.c_str()));
    prefs::writeLong("k", i);
  }
  for (int i = 299; i >= 1; i -= 7) {
    const std::string name = "G" + std::to_string(i);
    ASSERT_TRUE(prefs::selectGroup(name.c_str())) << name;
    EXPECT_EQ(prefs::readLong("k", -1), i);
  }
  // From b, the next header is a namesake of a, not the first.
  EXPECT_TRUE(prefs::selectGroup("b"));
  EXPECT_TRUE(prefs::selectGroup("a"));
  EXPECT_EQ(prefs::readLong("k", 0), -1);
  EXPECT_EQ(documentLines().size(), 5u + 2u * 299u);
}

}  // namespace

// appendGroup adds a group beside its case variants, in the file's encoding, and selection
// still finds the first of the name.
TEST_P(AccessTest, AnAppendedGroupStandsBesideItsCaseVariants) {
  struct Case {
    const char* file;
    const char* name;
    const char* written;
  } cases[] = {
      {"[alice]\nRes_X=1\n", "Alice", "[alice]\r\nRes_X = 1\r\n[Alice]\r\nRes_X = 2\r\n"},
      {"\xEF\xBB\xBF[j\xC3\xBCrgen]\nRes_X=1\n", "J\xFCrgen",
       "\xEF\xBB\xBF\r\n[j\xC3\xBCrgen]\r\nRes_X = 1\r\n[J\xC3\xBCrgen]\r\nRes_X = 2\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    open(c.file);
    EXPECT_TRUE(prefs::selectGroup(c.name));  // the variant, selected first: index made
    EXPECT_TRUE(prefs::appendGroup(c.name));
    prefs::writeLong("Res_X", 2);
    EXPECT_TRUE(prefs::selectGroup(c.name));
    EXPECT_EQ(prefs::readLong("Res_X", 0), 1) << "selection still takes the first";
    EXPECT_EQ(closeAndRead(), visible(c.written));
    open(readBytes(path));
    EXPECT_EQ(enumerate().back(), c.name);
    prefs::closePreferences();
  }
  open("[a]\n");
  EXPECT_FALSE(prefs::appendGroup(""));
  EXPECT_EQ(closeAndRead(), visible("[a]\n")) << "nothing written";
  // Without memory for the name or the header, nothing changes: the current group still reads.
  // A name too long for the arena's present block takes a block of its own, the header another.
  const std::string longName(5000, 'n');
  for (std::uint64_t n = 1;; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n));
    open("[a]\nk=1\n");
    ASSERT_TRUE(prefs::selectGroup("a"));
    platform::failAllocation(n, /*persistent=*/false);
    const bool appended = prefs::appendGroup(longName.c_str());
    platform::failAllocation(0, /*persistent=*/false);
    if (appended) break;
    EXPECT_EQ(prefs::readLong("k", -1), 1);
    EXPECT_EQ(closeAndRead(), visible("[a]\nk=1\n"));
  }
}

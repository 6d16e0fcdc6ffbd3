// Opening, parsing and writing back preference files, byte for byte.
#include <gtest/gtest.h>

#include <functional>

#include "prefs/store.h"
#include "support/store_fixture.h"

namespace {

using prefs::LineKind;
using testing_support::documentLines;
using testing_support::LineView;
using testing_support::readBytes;
using testing_support::visible;

class DocumentTest : public testing_support::StoreTest {
 protected:
  // Opens `bytes`, runs `work` on the open document and closes it; gives the file afterwards.
  template <typename Work>
  std::string afterClose(const std::string& bytes, Work work) {
    const std::string path = fileWith(bytes);
    EXPECT_TRUE(prefs::openPreferences(path.c_str()));
    work();
    prefs::closePreferences();
    return readBytes(path);
  }

  // A write that changes nothing but marks the document modified, so that it is written back.
  static void touchLastGroup() {
    prefs::selectGroup("z");
    prefs::writeLong("k", 1);
  }
};

struct LineCase {
  const char* line;
  std::vector<LineView> parsed;
  const char* written;  // the line written back, without its CR LF; nullptr: no line
};

TEST_F(DocumentTest, SingleLinesParseAndWriteBackInNormalForm) {
  const LineCase cases[] = {
      {"  [Bob]  trailing", {{LineKind::Group, "", "Bob"}}, "[Bob]"},
      {"[Bob", {{LineKind::Group, "", "Bob"}}, "[Bob]"},
      {"[ Bob ]", {{LineKind::Group, "", " Bob "}}, "[ Bob ]"},
      {"[]", {{LineKind::Group, "", ""}}, "[]"},
      {";note", {{LineKind::Comment, "", "note"}}, "; note"},
      {"; note", {{LineKind::Comment, "", "note"}}, "; note"},
      {";  note", {{LineKind::Comment, "", " note"}}, ";  note"},
      {"\t;note ", {{LineKind::Comment, "", "note "}}, "; note "},
      {"Res_X \t=  800  ", {{LineKind::Entry, "Res_X", "800  "}}, "Res_X = 800  "},
      {"a=b=c", {{LineKind::Entry, "a", "b=c"}}, "a = b=c"},
      {"= 5", {{LineKind::Entry, "", "5"}}, " = 5"},
      {"word", {{LineKind::Entry, "word", ""}}, "word = "},
      {"x ; y", {{LineKind::Entry, "x ; y", ""}}, "x ; y = "},
      {"  \t", {}, nullptr},
      {"[a]b]", {{LineKind::Group, "", "a"}}, "[a]"},
      {"k=", {{LineKind::Entry, "k", ""}}, "k = "},
      {";", {{LineKind::Comment, "", ""}}, "; "},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(visible(c.line));
    // The line alone, also as the last line of the content.
    const std::string path = fileWith(c.line);
    ASSERT_TRUE(prefs::openPreferences(path.c_str()));
    EXPECT_EQ(documentLines(), c.parsed);
    prefs::closePreferences();
    EXPECT_EQ(readBytes(path), c.line) << "an unmodified document must not be written";
    // Followed by a group that is written into, so that the document is written back.
    const std::string written = afterClose(std::string(c.line) + "\n[z]\nk=1\n", touchLastGroup);
    const std::string expected =
        (c.written ? std::string(c.written) + "\r\n" : std::string()) + "[z]\r\nk = 1\r\n";
    EXPECT_EQ(visible(written), visible(expected));
  }
}

TEST_F(DocumentTest, EveryKindOfLineEndParsesTheSameAndIsWrittenAsCrLf) {
  const std::vector<LineView> expected = {{LineKind::Comment, "", "c"},
                                          {LineKind::Group, "", "g"},
                                          {LineKind::Entry, "k", "1"},
                                          {LineKind::Entry, "z", ""}};
  const std::string ends[] = {"\n", "\r", "\r\n", std::string(1, '\0'), "\n\r\n\n", "\r\r"};
  for (const std::string& end : ends) {
    SCOPED_TRACE(visible(end));
    const std::string bytes = ";c" + end + "[g]" + end + "k=1" + end + "z" + end;
    const std::string path = fileWith(bytes);
    ASSERT_TRUE(prefs::openPreferences(path.c_str()));
    EXPECT_EQ(documentLines(), expected);
    prefs::selectGroup("g");
    prefs::writeLong("k", 1);
    prefs::closePreferences();
    EXPECT_EQ(visible(readBytes(path)), visible("; c\r\n[g]\r\nk = 1\r\nz = \r\n"));
  }
}

TEST_F(DocumentTest, SmallFilesAndTheByteOrderMark) {
  struct Case {
    std::string bytes;
    prefs::Encoding encoding;
    std::size_t lines;
  };
  const Case cases[] = {
      {"", prefs::Encoding::Ansi, 0},
      {"\xEF", prefs::Encoding::Ansi, 1},
      {"\xEF\xBB", prefs::Encoding::Ansi, 1},
      {"\xEF\xBB\xBF", prefs::Encoding::Utf8, 0},
      {"\xEF\xBB\xBF[g]", prefs::Encoding::Utf8, 1},
      {"\xEF\xBB\xBE", prefs::Encoding::Ansi, 1},
      {"ab\n", prefs::Encoding::Ansi, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(visible(c.bytes));
    const std::string path = fileWith(c.bytes);
    ASSERT_TRUE(prefs::openPreferences(path.c_str()));
    EXPECT_EQ(prefs::parsedDocument().encoding, c.encoding);
    EXPECT_EQ(documentLines().size(), c.lines);
    prefs::closePreferences();
    EXPECT_EQ(readBytes(path), c.bytes);
  }
}

TEST_F(DocumentTest, AByteOrderMarkFileIsWrittenBackWithItAndAnEmptyLine) {
  const std::string written = afterClose("\xEF\xBB\xBF", [] {
    prefs::selectGroup("g");
    prefs::writeLong("Res_X", 800);
  });
  EXPECT_EQ(visible(written), visible("\xEF\xBB\xBF\r\n[g]\r\nRes_X = 800\r\n"));
  // Read again, the empty line vanishes and the text stays the same.
  EXPECT_EQ(visible(afterClose(written,
                               [] {
                                 prefs::selectGroup("g");
                                 prefs::writeLong("Res_X", 800);
                               })),
            visible(written));
}

TEST_F(DocumentTest, AFileInNormalFormIsRewrittenOverItsOwnContent) {
  struct Case {
    const char* name;
    std::string bytes;
    std::function<void()> work;
    std::string expected;
    bool inPlace;
  };
  const std::string normal = "; c\r\n[a]\r\nRes_X = 1280\r\nRes_Y = 1024\r\n[b]\r\nRes_X = 8\r\n";
  const std::string bom = "\xEF\xBB\xBF\r\n";
  const auto same = [] {
    prefs::selectGroup("a");
    prefs::writeLong("Res_X", 1280);
  };
  const Case cases[] = {
      {"same values", normal, same, normal, true},
      {"UTF-8, same values", bom + normal, same, bom + normal, true},
      {"shorter value", normal, [] { prefs::selectGroup("a"), prefs::writeLong("Res_X", 5); },
       "; c\r\n[a]\r\nRes_X = 5\r\nRes_Y = 1024\r\n[b]\r\nRes_X = 8\r\n", true},
      {"longer value, first group", normal,
       [] { prefs::selectGroup("a"), prefs::writeLong("Res_X", 123456); },
       "; c\r\n[a]\r\nRes_X = 123456\r\nRes_Y = 1024\r\n[b]\r\nRes_X = 8\r\n", false},
      {"longer value, last line", normal,
       [] { prefs::selectGroup("b"), prefs::writeLong("Res_X", 80); },
       "; c\r\n[a]\r\nRes_X = 1280\r\nRes_Y = 1024\r\n[b]\r\nRes_X = 80\r\n", true},
      {"new group", normal, [] { prefs::selectGroup("c"), prefs::writeLong("k", 1); },
       normal + "[c]\r\nk = 1\r\n", false},
      {"UTF-8 without the empty line", "\xEF\xBB\xBF[a]\r\nk = 1\r\n",
       [] { prefs::selectGroup("a"), prefs::writeLong("k", 2); }, bom + "[a]\r\nk = 2\r\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = fileWith(c.bytes);
    ASSERT_TRUE(prefs::openPreferences(path.c_str()));
    c.work();
    const std::uint64_t before = platform::allocationCount();
    prefs::closePreferences();
    EXPECT_EQ(platform::allocationCount() == before, c.inPlace);
    EXPECT_EQ(visible(readBytes(path)), visible(c.expected));
  }
}

TEST_F(DocumentTest, ARewriteAsReadWritesAParsedOrChangedDocumentInNormalForm) {
  const std::string untidy = "[a]\nk=1\n";
  const struct {
    std::function<void()> work;
    std::string expected;
  } cases[] = {
      {[] {}, untidy},
      {[] { prefs::examineGroups(); }, "[a]\r\nk = 1\r\n"},
      {[] { prefs::selectGroup("a"), prefs::writeLong("k", 2); }, "[a]\r\nk = 2\r\n"},
  };
  for (const auto& c : cases) {
    const std::string path = fileWith(untidy);
    ASSERT_TRUE(prefs::openPreferences(path.c_str()));
    c.work();
    prefs::closePreferencesRewritingAsRead();
    EXPECT_EQ(visible(readBytes(path)), visible(c.expected));
  }
}

TEST_F(DocumentTest, AnAnsiFileNeverTurnsIntoAUtf8OneWhenWrittenBack) {
  // Once the blank line is gone, the entry's key would start the file with the byte-order mark.
  const std::string written = afterClose("\n\xEF\xBB\xBF[a]\n[z]\n", touchLastGroup);
  EXPECT_EQ(visible(written), visible("\r\n\xEF\xBB\xBF[a] = \r\n[z]\r\nk = 1\r\n"));
  const std::string path = fileWith(written);
  ASSERT_TRUE(prefs::openPreferences(path.c_str()));
  EXPECT_EQ(prefs::parsedDocument().encoding, prefs::Encoding::Ansi);
  EXPECT_EQ(documentLines().front(), (LineView{LineKind::Entry, "\xEF\xBB\xBF[a]", ""}));
}

TEST_F(DocumentTest, OpeningNeverCreatesAFileAndTakesOnlyRegularFiles) {
  const std::string missing = folder.file("missing.txt");
  EXPECT_FALSE(prefs::openPreferences(missing.c_str()));
  EXPECT_FALSE(testing_support::exists(missing));
  EXPECT_FALSE(prefs::openPreferences(folder.path().string().c_str()));
  EXPECT_EQ(prefs::parsedDocument().file, platform::INVALID_FILE);
  // A failed open also closes the document that was open before it.
  const std::string path = fileWith("[a]\n");
  ASSERT_TRUE(prefs::openPreferences(path.c_str()));
  EXPECT_FALSE(prefs::openPreferences(missing.c_str()));
  EXPECT_FALSE(prefs::examineGroups());
}

TEST_F(DocumentTest, OpeningAgainWritesBackTheOpenDocumentFirst) {
  const std::string first = fileWith("[a]\n", "first.txt");
  const std::string second = fileWith("[b]\n", "second.txt");
  ASSERT_TRUE(prefs::openPreferences(first.c_str()));
  prefs::selectGroup("a");
  prefs::writeLong("k", 7);
  ASSERT_TRUE(prefs::openPreferences(second.c_str()));
  EXPECT_EQ(readBytes(first), "[a]\r\nk = 7\r\n");
  prefs::closePreferences();
  EXPECT_EQ(readBytes(second), "[b]\n");
}

TEST_F(DocumentTest, AShorterWriteBackCutsTheFileAtTheEndOfTheText) {
  const std::string written = afterClose("[g]\n\n\n   k   =   1\n\n\n; long comment line\n", [] {
    prefs::selectGroup("g");
    prefs::writeLong("k", 2);
  });
  EXPECT_EQ(visible(written), visible("[g]\r\nk = 2\r\n; long comment line\r\n"));
}

TEST_F(DocumentTest, AFileHeldForWritingCannotBeOpenedAgain) {
  const std::string path = fileWith("[a]\n");
  const platform::FileCalls& io = platform::fileCalls();
  platform::FileHandle writer = platform::INVALID_FILE;
  ASSERT_TRUE(io.openReadWrite(path.c_str(), &writer));
  platform::FileHandle other = platform::INVALID_FILE;
  EXPECT_FALSE(io.openReadWrite(path.c_str(), &other));
  EXPECT_FALSE(io.openReadOnly(path.c_str(), &other));
  EXPECT_FALSE(prefs::openPreferences(path.c_str()));
  io.close(writer);

  // Readers share the file with readers, but keep writers out.
  platform::FileHandle reader = platform::INVALID_FILE;
  ASSERT_TRUE(io.openReadOnly(path.c_str(), &reader));
  ASSERT_TRUE(io.openReadOnly(path.c_str(), &other));
  io.close(other);
  EXPECT_FALSE(io.openReadWrite(path.c_str(), &other));
  // The store then opens it for reading only, and its write-back is refused.
  ASSERT_TRUE(prefs::openPreferences(path.c_str()));
  prefs::selectGroup("a");
  prefs::writeLong("k", 1);
  prefs::closePreferences();
  io.close(reader);
  EXPECT_EQ(readBytes(path), "[a]\n");
  ASSERT_TRUE(io.openReadWrite(path.c_str(), &writer));
  io.close(writer);
}

}  // namespace

namespace {

TEST(Fingerprint, EveryChangeOfOneOrTwoBitsChangesIt) {
  std::string bytes;
  for (int i = 0; i < 200; ++i) bytes += static_cast<char>('a' + i % 26);
  const prefs::Fingerprint original = prefs::fingerprintOf(bytes.data(), 200);
  EXPECT_EQ(prefs::fingerprintOf(bytes.data(), 200), original);
  EXPECT_NE(prefs::fingerprintOf(bytes.data(), 199), original);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    for (int bit = 0; bit < 8; ++bit) {
      std::string changed = bytes;
      changed[i] = static_cast<char>(changed[i] ^ (1 << bit));
      ASSERT_NE(prefs::fingerprintOf(changed.data(), 200), original) << i << ":" << bit;
      // The same bit in a word 64 bytes on, which goes through the same lane.
      if (i + 64 < bytes.size()) {
        changed[i + 64] = static_cast<char>(changed[i + 64] ^ (1 << bit));
        ASSERT_NE(prefs::fingerprintOf(changed.data(), 200), original) << i << ":" << bit;
      }
    }
  }
}

}  // namespace

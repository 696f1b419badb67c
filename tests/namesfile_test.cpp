#include "core/namesfile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/files.h"

namespace fs = std::filesystem;

namespace {

const std::string kDefaultLine =
    "\"fileok\",\"1\",\"2\",\"3\",\"4\",\"5\",\"6\",\"7\",\"8\",\"9\",\"10\",\"11\",\"12\","
    "\"13\",\"14\",\"15\",\"16\"\r\n";

class NamesFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("lw-names-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        path = (dir / "remlabel.dat").string();
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string contents() const { return lwtest::readFile(path); }
    void write(const std::string& text) const { lwtest::writeFile(path, text); }

    fs::path dir;
    std::string path;
    lw::UnitNames captions = lw::defaultUnitNames();
};

TEST_F(NamesFile, MissingFileBecomesTheDefaultFile) {
    ASSERT_TRUE(lw::loadunitnames(path, captions).ok);
    EXPECT_EQ(contents(), kDefaultLine);
    EXPECT_EQ(captions, lw::defaultUnitNames());
}

TEST_F(NamesFile, ValidFileSetsTheCaptions) {
    write(
        "\"fileok\",\"Screen A\",\" two, with comma \",3,\"4\"\r\n\"5\",\"6\",\"7\",\"8\",\"9\","
        "\"10\",\"11\",\"12\",\"13\",\"14\",\"15\",\"\xe9t\xe9\"\r\n");
    ASSERT_TRUE(lw::loadunitnames(path, captions).ok);
    EXPECT_EQ(captions[0], "Screen A");
    EXPECT_EQ(captions[1], " two, with comma ");
    EXPECT_EQ(captions[2], "3");
    EXPECT_EQ(captions[4], "5");  // fields go on across line ends
    EXPECT_EQ(captions[15], "\xe9t\xe9");
}

TEST_F(NamesFile, InvalidMarkerOrEmptyFileIsReplacedAndCaptionsKept) {
    for (const std::string bad : {"\"FILEOK\",\"a\",\"b\"\r\n", "", "garbage", ",,,"}) {
        write(bad);
        captions[0] = "kept";
        ASSERT_TRUE(lw::loadunitnames(path, captions).ok);
        EXPECT_EQ(contents(), kDefaultLine) << bad;
        EXPECT_EQ(captions[0], "kept") << bad;
    }
}

TEST_F(NamesFile, ShortFileFillsOnlyTheSlotsItHas) {
    write("\"fileok\",\"A\",\"B\"\r\n");
    captions[2] = "C";
    lw::loadunitnames(path, captions);
    EXPECT_EQ(captions[0], "A");
    EXPECT_EQ(captions[1], "B");
    EXPECT_EQ(captions[2], "C");
    EXPECT_EQ(captions[15], "16");
}

TEST_F(NamesFile, RenameWritesAllCaptionsAndRefusesWhatCannotReadBack) {
    using O = lw::RenameResult::Outcome;
    captions[0] = "Cinema 1";
    EXPECT_EQ(lw::renameUnit(path, captions, 5, "").outcome, O::Unchanged);
    EXPECT_FALSE(fs::exists(path));

    EXPECT_EQ(lw::renameUnit(path, captions, 5, "Salle \xc3\xa9t\xc3\xa9").outcome, O::Renamed);
    EXPECT_EQ(captions[4], "Salle \xe9t\xe9");  // stored as Latin-1
    lw::UnitNames back = lw::defaultUnitNames();
    ASSERT_TRUE(lw::readNamesFile(path, back));
    EXPECT_EQ(back, captions);
    EXPECT_EQ(back[0], "Cinema 1");

    const std::string before = contents();
    for (const char* bad : {"say \"hi\"", "two\r\nlines", "\xe2\x82\xac", "\xff"}) {
        const auto r = lw::renameUnit(path, captions, 5, bad);
        EXPECT_EQ(r.outcome, O::Refused) << bad;
        EXPECT_FALSE(r.message.empty());
    }
    EXPECT_EQ(contents(), before);
    EXPECT_EQ(captions[4], "Salle \xe9t\xe9");
}

TEST_F(NamesFile, RenamingOneUnitKeepsEveryOtherNameAsRead) {
    // Files written by hand or by other programs, each read and then one
    // unit renamed: every other name must read back as it was read.
    const std::vector<std::string> files = {
        "\"fileok\",Screen \"A\",\"2\",3\r\n",
        "\"fileok\",a\"b\"c,  x\"y  ,\"with, comma\",\" padded \",\"two\r\nlines\"\r\n",
        "\"fileok\",\"kept\"dropped,\t\"tab\"\t,,\"\",\xe9t\xe9\r\n",
        "\"fileok\",1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18\r\n",
    };
    for (const std::string& file : files) {
        write(file);
        captions = lw::defaultUnitNames();
        ASSERT_TRUE(lw::loadunitnames(path, captions).ok) << file;
        const lw::UnitNames read = captions;
        ASSERT_EQ(lw::renameUnit(path, captions, 16, "Lobby").outcome,
                  lw::RenameResult::Outcome::Renamed)
            << file;
        lw::UnitNames back = lw::defaultUnitNames();
        ASSERT_TRUE(lw::readNamesFile(path, back)) << file;
        EXPECT_EQ(back[15], "Lobby") << file;
        for (int i = 0; i < 15; ++i) EXPECT_EQ(back[i], read[i]) << file << " slot " << i + 1;
    }
    write("\"fileok\",Screen \"A\"\r\n");
    captions = lw::defaultUnitNames();
    lw::loadunitnames(path, captions);
    EXPECT_EQ(captions[0], "Screen \"A\"");
}

TEST_F(NamesFile, ANameNoFieldCanHoldStopsTheRewrite) {
    // Not from a file: a name no field reads back whole is never written.
    for (const std::string odd : {"say \"hi\", twice", " \"lead", "trail\" ", "a\"b\r\nc"}) {
        EXPECT_FALSE(lw::nameField(odd)) << odd;
        write(kDefaultLine);
        captions = lw::defaultUnitNames();
        captions[6] = odd;
        const auto r = lw::renameUnit(path, captions, 2, "Two");
        EXPECT_EQ(r.outcome, lw::RenameResult::Outcome::Refused) << odd;
        EXPECT_NE(r.message.find("unit 7"), std::string::npos) << r.message;
        EXPECT_EQ(contents(), kDefaultLine);
        EXPECT_EQ(captions[1], "2");
    }
}

TEST_F(NamesFile, UnwritableFileIsReported) {
    const std::string inFolder = (dir / "nope" / "remlabel.dat").string();
    const auto r = lw::renameUnit(inFolder, captions, 1, "X");
    EXPECT_EQ(r.outcome, lw::RenameResult::Outcome::WriteFailed);
    EXPECT_NE(r.message.find(inFolder), std::string::npos);
    EXPECT_FALSE(lw::loadunitnames(inFolder, captions).ok);
}

TEST_F(NamesFile, HotSpotRenumbersEverySecondDoubleClick) {
    lw::HotSpot hot;
    captions[3] = "own";
    lw::loadunitnames(path, captions);  // default file
    hot.doubleClick(path, captions);    // reload only
    EXPECT_EQ(captions[3], "4");
    hot.doubleClick(path, captions);
    EXPECT_EQ(contents(), "\"fileok\",17,18,19,20,21,22,23,24,25,26,27,28,29,30,31,32\r\n");
    EXPECT_EQ(captions[0], "17");
    EXPECT_EQ(captions[15], "32");
    hot.doubleClick(path, captions);
    hot.doubleClick(path, captions);
    EXPECT_EQ(captions[0], "1");
    EXPECT_EQ(contents(), "\"fileok\",1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16\r\n");
}

TEST(NameFields, QuotesBlanksAndSeparators) {
    EXPECT_EQ(lw::parseNameFields("\"a\" , b ,\"c,d\"x,\r\n\"\""),
              (std::vector<std::string>{"a", "b", "c,d", ""}));
    EXPECT_EQ(lw::parseNameFields(""), std::vector<std::string>{});
    EXPECT_EQ(lw::parseNameFields("\"unclosed"), std::vector<std::string>{"unclosed"});
}

}  // namespace

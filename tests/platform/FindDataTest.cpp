#include "platform/FindData.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/Text.h"

namespace velk::platform {
namespace {

namespace fs = std::filesystem;

std::string name(const FindData& record) { return toUtf8(record.fileName); }
std::string alternate(const FindData& record) { return toUtf8(record.alternateName); }
std::uint64_t size(const FindData& record) {
    return (std::uint64_t{record.sizeHigh} << 32) | record.sizeLow;
}

// A fresh folder under the system temp folder, removed with its contents.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "velk-finddata-XXXXXX").string();
        const char* made = mkdtemp(pattern.data());
        EXPECT_NE(made, nullptr);
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }
    std::string operator/(const std::string& child) const { return (path_ / child).string(); }

    void writeFile(const std::string& child, std::size_t bytes) const {
        std::ofstream(path_ / child, std::ios::binary) << std::string(bytes, 'x');
    }

private:
    fs::path path_;
};

TEST(FindDataTest, MaskMatching) {
    struct Case {
        std::u16string name;
        std::u16string mask;
        bool matches;
    };
    const std::vector<Case> cases = {
        {u"readme", u"*.*", true},
        {u"readme.txt", u"*.*", true},
        {u".profile", u"*.*", true},
        {u"readme", u"*", true},
        {u"readme", u"", true},
        {u"Report.DOC", u"*.doc", true},
        {u"report.doc", u"*.DOC", true},
        {u"report.docx", u"*.doc", false},
        {u"report.doc.bak", u"*.doc", false},
        {u"report.doc.bak", u"*.doc*", true},
        {u"a.b.c", u"*.c", true},
        {u"abc", u"a?c", true},
        {u"ac", u"a?c", false},
        {u"abbc", u"a?c", false},
        {u"abc", u"???", true},
        {u"abc", u"????", false},
        {u"readme", u"*.", false},
        {u"readme", u"readme.*", false},
        {u"aXbXc", u"a*b*c", true},
        {u"aXbXcX", u"a*b*c", false},
        {u"abcbcd", u"*bcd", true},
        {u"mississippi", u"m*iss*ppi", true},
        {u"x", u"**x**", true},
        {u"\u00C9T\u00C9.TXT", u"\u00E9t\u00E9.*", true},
        {u"\u0416\u0423\u0420\u041D\u0410\u041B", u"\u0436*", true},
        // A character outside the BMP is one character for '?'.
        {u"a\xD83D\xDE00" u"b", u"a?b", true},
        {u"a\xD83D\xDE00" u"b", u"a??b", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(matchesMask(c.name, c.mask), c.matches)
            << toUtf8(c.name) << " against " << toUtf8(c.mask);
    }
}

TEST(FindDataTest, Valid83Names) {
    const std::vector<std::pair<std::u16string, bool>> cases = {
        {u"README.TXT", true},
        {u"readme.txt", true},
        {u"ABCDEFGH.IJK", true},
        {u"A", true},
        {u"A.B", true},
        {u"NO_EXT", true},
        {u"!#$%&'()", true},
        {u"-@^_`{}~.~", true},
        {u"ABCDEFGHI", false},
        {u"A.BCDE", false},
        {u"A.", false},
        {u".A", false},
        {u"", false},
        {u"A.B.C", false},
        {u"MY FILE", false},
        {u"A+B", false},
        {u"A,B", false},
        {u"A[1]", false},
        {u"CAF\u00C9", false},
    };
    for (const auto& [longName, valid] : cases) {
        EXPECT_EQ(isValid83Name(longName), valid) << toUtf8(longName);
    }
}

// Each row: the long names of one folder and the alternate name each gets.
TEST(FindDataTest, AlternateNamesOfAFolder) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::u16string, std::u16string>> names;
    };
    const std::vector<Case> cases = {
        {"the classic example", {{u"Annual Report 2008.doc", u"ANNUAL~1.DOC"}}},
        {"numbered by rank, not by input order",
         {{u"Annual Review.doc", u"ANNUAL~2.DOC"}, {u"Annual Report 2008.doc", u"ANNUAL~1.DOC"}}},
        {"valid names need none", {{u"README.TXT", u""}, {u"setup.exe", u""}}},
        {"last extension kept, cut to three", {{u"archive.tar.gzip", u"ARCHIV~1.GZI"}}},
        {"extension alone too long", {{u"notes.text", u"NOTES~1.TEX"}}},
        {"spaces and other characters dropped", {{u"a b+c,d.t x t", u"ABCD~1.TXT"}}},
        {"leading dot is no extension", {{u".profile", u"PROFIL~1"}, {u".config.json", u"CONFIG~1.JSO"}}},
        {"non-ASCII dropped", {{u"caf\u00E9 cr\u00E8me.txt", u"CAFCRM~1.TXT"}}},
        {"different extensions do not share numbers",
         {{u"Annual Report.doc", u"ANNUAL~1.DOC"}, {u"Annual Report.xls", u"ANNUAL~1.XLS"}}},
        {"a valid long name blocks its own form",
         {{u"ANNUAL~1.DOC", u""}, {u"Annual Report.doc", u"ANNUAL~2.DOC"}}},
        {"case twins of a valid name",
         {{u"README.TXT", u""}, {u"readme.txt", u"README~1.TXT"}}},
    };
    for (const auto& c : cases) {
        std::vector<std::u16string> longNames;
        for (const auto& entry : c.names) {
            longNames.push_back(entry.first);
        }
        const std::vector<std::u16string> alternates = makeAlternateNames(longNames);
        ASSERT_EQ(alternates.size(), longNames.size()) << c.what;
        for (std::size_t i = 0; i < longNames.size(); ++i) {
            EXPECT_EQ(toUtf8(alternates[i]), toUtf8(c.names[i].second))
                << c.what << ": " << toUtf8(longNames[i]);
        }
    }
}

TEST(FindDataTest, AlternateNamesPastNineShortenTheBase) {
    std::vector<std::u16string> longNames;
    for (int i = 101; i >= 1; --i) {
        longNames.push_back(toUtf16("Holiday photo " + std::to_string(1000 + i) + ".jpeg"));
    }
    const std::vector<std::u16string> alternates = makeAlternateNames(longNames);
    // The input runs backwards: "...1101" is last in rank.
    const std::map<std::string, std::string> expected = {
        {"Holiday photo 1001.jpeg", "HOLIDA~1.JPE"},
        {"Holiday photo 1009.jpeg", "HOLIDA~9.JPE"},
        {"Holiday photo 1010.jpeg", "HOLID~10.JPE"},
        {"Holiday photo 1099.jpeg", "HOLID~99.JPE"},
        {"Holiday photo 1100.jpeg", "HOLI~100.JPE"},
        {"Holiday photo 1101.jpeg", "HOLI~101.JPE"},
    };
    std::map<std::string, std::string> got;
    for (std::size_t i = 0; i < longNames.size(); ++i) {
        got[toUtf8(longNames[i])] = toUtf8(alternates[i]);
    }
    for (const auto& [longName, shortName] : expected) {
        EXPECT_EQ(got[longName], shortName) << longName;
    }
}

TEST(FindDataTest, AlternateNamesStayUniqueWhenShortenedBasesMeet) {
    // Past ~9 both the HOLIDA and the HOLIDB names shorten to HOLID~NN.
    std::vector<std::u16string> longNames;
    for (int i = 0; i < 12; ++i) {
        longNames.push_back(toUtf16("Holiday " + std::to_string(10 + i) + ".jpeg"));
        longNames.push_back(toUtf16("Holidbay " + std::to_string(10 + i) + ".jpeg"));
    }
    const std::vector<std::u16string> alternates = makeAlternateNames(longNames);
    EXPECT_EQ(toUtf8(alternates[22]), "HOLID~12.JPE");  // "Holiday 21.jpeg"
    EXPECT_EQ(toUtf8(alternates[1]), "HOLIDB~1.JPE");   // "Holidbay 10.jpeg"
    EXPECT_EQ(toUtf8(alternates[19]), "HOLID~13.JPE");  // "Holidbay 19.jpeg"
    std::map<std::u16string, std::size_t> seen;
    for (std::size_t i = 0; i < alternates.size(); ++i) {
        EXPECT_FALSE(alternates[i].empty());
        EXPECT_LE(alternates[i].size(), 12u);
        const auto [it, inserted] = seen.emplace(alternates[i], i);
        EXPECT_TRUE(inserted) << toUtf8(alternates[i]) << " for " << toUtf8(longNames[i])
                              << " and " << toUtf8(longNames[it->second]);
    }
}

TEST(FindDataTest, NameWithoutShortNameCharactersGetsAHashedBase) {
    const std::vector<std::u16string> longNames = {u"\u65E5\u672C.txt", u"\u4E2D\u6587.txt",
                                                   u"\u65E5\u672C.txt"};
    const std::vector<std::u16string> alternates = makeAlternateNames(longNames);
    std::vector<std::string> bases;
    for (const auto& shortName : alternates) {
        const std::string s = toUtf8(shortName);
        ASSERT_EQ(s.size(), 10u) << s;
        EXPECT_EQ(s.find_first_not_of("0123456789ABCDEF"), 4u) << s;
        EXPECT_TRUE(isValid83Name(shortName)) << s;
        bases.push_back(s.substr(0, 4));
    }
    EXPECT_EQ(toUtf8(alternates[0]).substr(4), "~1.TXT");
    EXPECT_EQ(toUtf8(alternates[1]).substr(4), "~1.TXT");
    EXPECT_EQ(toUtf8(alternates[2]).substr(4), "~2.TXT");
    EXPECT_NE(bases[0], bases[1]);
    EXPECT_EQ(bases[0], bases[2]);
}

TEST(FindDataTest, SetFileNameCutsBeforeASplitPair) {
    FindData record;
    std::u16string longName(258, u'a');
    longName += u"\xD83D\xDE00";  // units 258 and 259: the pair does not fit
    setFileName(record, longName);
    EXPECT_EQ(u16length(record.fileName), 258u);

    std::u16string fits(257, u'a');
    fits += u"\xD83D\xDE00";
    setFileName(record, fits);
    EXPECT_EQ(std::u16string(record.fileName), fits);

    setAlternateName(record, u"ABCDEFGHIJKLMNOP");
    EXPECT_EQ(std::u16string(record.alternateName), u"ABCDEFGHIJKLM");
}

TEST(FindDataTest, WidenConvertsNamesAndCopiesFields) {
    FindDataA narrow;
    narrow.attributes = AttrDirectory | AttrHidden;
    narrow.creationTime = 1;
    narrow.lastAccessTime = 2;
    narrow.lastWriteTime = 3;
    narrow.sizeHigh = 4;
    narrow.sizeLow = 5;
    const std::string longName = "\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80.txt";
    longName.copy(narrow.fileName, longName.size());
    std::string("ETE~1.TXT").copy(narrow.alternateName, 9);

    const FindData wide = widen(narrow);
    EXPECT_EQ(wide.attributes, AttrDirectory | AttrHidden);
    EXPECT_EQ(wide.creationTime, 1u);
    EXPECT_EQ(wide.lastAccessTime, 2u);
    EXPECT_EQ(wide.lastWriteTime, 3u);
    EXPECT_EQ(wide.sizeHigh, 4u);
    EXPECT_EQ(wide.sizeLow, 5u);
    EXPECT_EQ(std::u16string(wide.fileName), u"\u00E9t\u00E9 \xD83D\xDE00.txt");
    EXPECT_EQ(std::u16string(wide.alternateName), u"ETE~1.TXT");

    // An unterminated 8-bit name that fills the whole field still converts.
    FindDataA full;
    std::fill(std::begin(full.fileName), std::end(full.fileName), 'n');
    EXPECT_EQ(u16length(widen(full).fileName), 259u);
}

class FolderListing : public ::testing::Test {
protected:
    void SetUp() override {
        folder.writeFile("b.txt", 3);
        folder.writeFile("A.txt", 5);
        folder.writeFile(".hidden", 0);
        folder.writeFile("Annual Report 2008.doc", 7);
        folder.writeFile("Annual Review.doc", 9);
        folder.writeFile("caf\xC3\xA9.TXT", 1);
        fs::create_directory(folder.path() / "sub");
        folder.writeFile("sub/inner", 11);
        fs::create_symlink("b.txt", folder.path() / "link-to-file");
        fs::create_symlink("sub", folder.path() / "link-to-dir");
        fs::create_symlink("missing", folder.path() / "dangling");
    }

    std::vector<std::string> names(const std::vector<FindData>& records) {
        std::vector<std::string> out;
        for (const auto& r : records) {
            out.push_back(name(r));
        }
        return out;
    }

    TempFolder folder;
};

TEST_F(FolderListing, ListsEveryEntrySortedByBytesWithAttributes) {
    const auto records = listFolder(folder.path().string(), u"*.*");
    ASSERT_TRUE(records);
    const std::vector<std::string> expected = {
        ".hidden", "A.txt", "Annual Report 2008.doc", "Annual Review.doc", "b.txt",
        "caf\xC3\xA9.TXT", "link-to-dir", "link-to-file", "sub"};
    ASSERT_EQ(names(*records), expected);

    struct Expect {
        std::uint32_t attributes;
        std::uint64_t size;
        std::string alternate;
    };
    const std::map<std::string, Expect> expectations = {
        {".hidden", {AttrHidden, 0, "HIDDEN~1"}},
        {"A.txt", {0, 5, ""}},
        {"Annual Report 2008.doc", {0, 7, "ANNUAL~1.DOC"}},
        {"Annual Review.doc", {0, 9, "ANNUAL~2.DOC"}},
        {"b.txt", {0, 3, ""}},
        {"caf\xC3\xA9.TXT", {0, 1, "CAF~1.TXT"}},
        {"link-to-dir", {AttrDirectory, 0, "LINK-T~1"}},
        {"link-to-file", {0, 3, "LINK-T~2"}},
        {"sub", {AttrDirectory, 0, ""}},
    };
    for (const auto& record : *records) {
        const Expect& e = expectations.at(name(record));
        EXPECT_EQ(record.attributes, e.attributes) << name(record);
        EXPECT_EQ(size(record), e.size) << name(record);
        EXPECT_EQ(alternate(record), e.alternate) << name(record);
    }
}

TEST_F(FolderListing, MaskFiltersNamesButNotTheAlternateNameRanking) {
    const auto reviews = listFolder(folder.path().string(), u"*review*");
    ASSERT_TRUE(reviews);
    ASSERT_EQ(reviews->size(), 1u);
    EXPECT_EQ(name(reviews->front()), "Annual Review.doc");
    EXPECT_EQ(alternate(reviews->front()), "ANNUAL~2.DOC");

    const auto texts = listFolder(folder.path().string(), u"*.TXT");
    ASSERT_TRUE(texts);
    EXPECT_EQ(names(*texts), (std::vector<std::string>{"A.txt", "b.txt", "caf\xC3\xA9.TXT"}));

    const auto none = listFolder(folder.path().string(), u"*.iso");
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
}

TEST_F(FolderListing, TimesComeFromStat) {
    const std::string file = folder / "b.txt";
    const timespec times[2] = {{1'000'000'000, 500'000'000}, {1'234'567'890, 123'456'700}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    const auto record = findPath(file);
    ASSERT_TRUE(record);
    // (seconds + 11644473600) * 10^7 + nanoseconds / 100
    EXPECT_EQ(record->lastAccessTime, 126444736005000000u);
    EXPECT_EQ(record->lastWriteTime, 128790414901234567u);
    EXPECT_NE(record->creationTime, 0u);
}

TEST_F(FolderListing, FindPathAgreesWithTheListing) {
    const auto records = listFolder(folder.path().string(), u"*");
    ASSERT_TRUE(records);
    for (const auto& listed : *records) {
        const auto found = findPath(folder / name(listed));
        ASSERT_TRUE(found) << name(listed);
        EXPECT_EQ(name(*found), name(listed));
        EXPECT_EQ(alternate(*found), alternate(listed)) << name(listed);
        EXPECT_EQ(found->attributes, listed.attributes) << name(listed);
        EXPECT_EQ(size(*found), size(listed)) << name(listed);
        EXPECT_EQ(found->lastWriteTime, listed.lastWriteTime) << name(listed);
    }
}

TEST_F(FolderListing, FindPathNamesFoldersByTheirLastComponent) {
    const struct {
        std::string path;
        std::string name;
    } cases[] = {
        {folder / "sub", "sub"},
        {folder / "sub/", "sub"},
        {folder / "sub//", "sub"},
        {folder / "link-to-dir/", "link-to-dir"},
        {folder / "sub/.", "sub"},
        {folder / "sub/../sub", "sub"},
        {folder / "sub/..", folder.path().filename().string()},
        {"/", "/"},
        {"//", "/"},
    };
    for (const auto& c : cases) {
        const auto record = findPath(c.path);
        ASSERT_TRUE(record) << c.path;
        EXPECT_EQ(name(*record), c.name) << c.path;
        EXPECT_NE(record->attributes & AttrDirectory, 0u) << c.path;
    }
    EXPECT_EQ(alternate(*findPath("/")), "");
}

TEST_F(FolderListing, FindPathRelativeToTheWorkingFolder) {
    const fs::path before = fs::current_path();
    fs::current_path(folder.path());
    const auto record = findPath("Annual Review.doc");
    fs::current_path(before);
    ASSERT_TRUE(record);
    EXPECT_EQ(name(*record), "Annual Review.doc");
    EXPECT_EQ(alternate(*record), "ANNUAL~2.DOC");
}

TEST_F(FolderListing, MissingPathsGiveNothing) {
    EXPECT_FALSE(findPath(folder / "no such file"));
    EXPECT_FALSE(findPath(folder / "dangling"));
    EXPECT_FALSE(findPath(""));
    EXPECT_FALSE(listFolder(folder / "no such folder", u"*"));
    EXPECT_FALSE(listFolder(folder / "b.txt", u"*"));
}

TEST_F(FolderListing, FileIdentityFollowsLinks) {
    const auto dir = fileIdentity(folder / "sub");
    const auto viaLink = fileIdentity(folder / "link-to-dir");
    const auto viaDotDot = fileIdentity(folder / "sub/../sub");
    ASSERT_TRUE(dir && viaLink && viaDotDot);
    EXPECT_EQ(*dir, *viaLink);
    EXPECT_EQ(*dir, *viaDotDot);

    const auto file = fileIdentity(folder / "b.txt");
    const auto fileLink = fileIdentity(folder / "link-to-file");
    ASSERT_TRUE(file && fileLink);
    EXPECT_EQ(*file, *fileLink);
    EXPECT_NE(*file, *dir);
    EXPECT_NE(*file, *fileIdentity(folder / "A.txt"));
    EXPECT_FALSE(fileIdentity(folder / "dangling"));
}

// Special files are flagged in the full listing and left out of the plain
// one; names keep their own bytes beside the U+FFFD reading.
TEST_F(FolderListing, SpecialFilesAndRawNames) {
    ASSERT_EQ(std::system(("mkfifo '" + folder / "pipe" + "'").c_str()), 0);
    folder.writeFile("bad\xFF.txt", 2);
    const auto entries = listFolderEntries(folder.path().string(), u"*.*");
    ASSERT_TRUE(entries);
    std::map<std::string, const FolderEntry*> byName;
    for (const FolderEntry& entry : *entries) byName[entry.name] = &entry;
    ASSERT_TRUE(byName.count("pipe"));
    EXPECT_STREQ(byName["pipe"]->special, "FIFO");
    EXPECT_EQ(byName["sub"]->special, nullptr);
    EXPECT_EQ(byName["b.txt"]->special, nullptr);
    ASSERT_TRUE(byName.count("bad\xFF.txt"));
    EXPECT_EQ(name(byName["bad\xFF.txt"]->record), "bad\xEF\xBF\xBD.txt");

    const auto records = listFolder(folder.path().string(), u"*.*");
    ASSERT_TRUE(records);
    EXPECT_EQ(records->size(), entries->size() - 1);
    for (const FindData& record : *records) EXPECT_NE(name(record), "pipe");

    EXPECT_STREQ(specialFileKind(folder / "pipe"), "FIFO");
    EXPECT_STREQ(specialFileKind("/dev/null"), "character device");
    EXPECT_EQ(specialFileKind(folder / "b.txt"), nullptr);
    EXPECT_EQ(specialFileKind(folder / "sub"), nullptr);
    EXPECT_EQ(specialFileKind(folder / "absent"), nullptr);
}

}  // namespace
}  // namespace velk::platform

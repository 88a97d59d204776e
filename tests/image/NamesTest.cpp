#include "engine/image/Names.h"

#include <gtest/gtest.h>

#include "engine/api/BurnEngine.h"
#include "engine/image/ImageProject.h"
#include "engine/image/SourceTree.h"
#include "engine/image/UdfFiles.h"
#include "platform/Text.h"

namespace velk {
namespace {

platform::FindData record(std::u16string_view name, std::u16string_view alternate, bool folder) {
    platform::FindData data;
    platform::setFileName(data, name);
    platform::setAlternateName(data, alternate);
    data.attributes = folder ? platform::AttrDirectory : 0;
    return data;
}

TEST(NamesTest, ItemNames) {
    struct Case {
        const char16_t* name;
        const char16_t* alternate;
        bool folder;
        bool longMode;
        const char16_t* joliet;
        const char* iso;
        const char16_t* udf = nullptr;  // when it differs from the Joliet name
    } cases[] = {
        // The dot a name without an extension gets in Joliet stays out of UDF.
        {u"readme", u"", false, false, u"readme.", "README.", u"readme"},
        {u"readme.", u"", false, false, u"readme.", "README."},
        {u"Annual Report 2008.doc", u"ANNUAL~1.DOC", false, false, u"Annual Report 2008.doc",
         "ANNUAL~1.DOC"},
        // No alternate name: the first 12 characters, upper-cased, plus a dot.
        {u"abcdefghijklmnop", u"", false, false, u"abcdefghijklmnop.", "ABCDEFGHIJKL.", u"abcdefghijklmnop"},
        {u"abcdefgh.ijklmnop", u"", false, false, u"abcdefgh.ijklmnop", "ABCDEFGH.IJK"},
        {u"Work", u"", true, false, u"Work", "WORK"},
        // Long mode keeps the long name (the record writer upper-cases it).
        {u"Annual Report 2008.doc", u"ANNUAL~1.DOC", false, true, u"Annual Report 2008.doc",
         "Annual Report 2008.doc"},
        {u"readme", u"", false, true, u"readme.", "readme.", u"readme"},
        // UTF-8 bytes: the length counts bytes, so nothing is cut mid-character.
        {u"\u03a9\u03a9", u"", false, false, u"\u03a9\u03a9.", "\xce\xa9\xce\xa9.", u"\u03a9\u03a9"},
    };
    for (const Case& c : cases) {
        FileItem item;
        assignItemNames(item, record(c.name, c.alternate, c.folder), c.longMode);
        EXPECT_EQ(item.jolietName, c.joliet) << platform::toUtf8(c.name);
        EXPECT_EQ(item.jolietNameLength, std::u16string_view(c.joliet).size());
        EXPECT_EQ(item.isoName, c.iso) << platform::toUtf8(c.name);
        EXPECT_EQ(item.isoNameLength, std::string_view(c.iso).size());
        if (!c.folder) {
            EXPECT_EQ(image::udfIdentifierName(item), std::u16string_view(c.udf ? c.udf : c.joliet))
                << platform::toUtf8(c.name);
        }
    }
}

TEST(NamesTest, ShortIsoNameOfMultiByteCharactersStaysWithin13Bytes) {
    FileItem item;
    assignItemNames(item, record(u"\u4e2d\u6587\u6587\u4ef6\u540d\u79f0\u975e\u5e38\u957f\u7684\u540d\u5b57", u"", false),
                    false);
    // Four 3-byte characters fit in 13 bytes; the dot follows.
    EXPECT_EQ(item.isoName.size(), 13u);
    EXPECT_EQ(item.isoName.back(), '.');
    EXPECT_EQ(platform::toUtf16(item.isoName).size(), 5u);
}

TEST(NamesTest, FolderNodeNames) {
    struct Case {
        const char16_t* name;
        const char16_t* alternate;
        const char* iso;
        bool longMode = false;
    } cases[] = {
        {u"Work", u"", "WORK"},
        {u"Photographs 2008", u"PHOTOG~1", "PHOTOG~1"},
        {u"abcdefghijklmnopq", u"", "ABCDEFGHIJKLM"},
        {u"\U0001F600", u"", "\xf0\x9f\x98\x80"},
        // Long mode: the path tables carry the long name, as the folder's
        // directory record does.
        {u"Photographs 2008", u"PHOTOG~1", "PHOTOGRAPHS 2008", true},
        {u"abcdefghijklmnopq", u"", "ABCDEFGHIJKLMNOPQ", true},
    };
    for (const Case& c : cases) {
        FolderNode node;
        assignFolderNames(node, record(c.name, c.alternate, true), c.longMode);
        EXPECT_EQ(node.isoName, c.iso) << platform::toUtf8(c.name);
        EXPECT_EQ(node.isoNameLength, std::string_view(c.iso).size());
        EXPECT_EQ(node.longName, c.name);
    }
}

std::vector<std::u16string> pathTableNames(ImageProject& project) {
    std::vector<std::u16string> names;
    for (const FolderNode* folder : project.pathTableOrder) names.push_back(folder->longName);
    return names;
}

TEST(PathTableOrderTest, SiblingsInCodeUnitOrder) {
    BurnEngine engine;
    engine.CreateFolder("\\", "alpha");
    engine.CreateFolder("\\", "Zed");
    engine.CreateFolder("\\", "beta");
    ImageProject& project = engine.project();
    ASSERT_TRUE(orderPathTable(project));
    EXPECT_EQ(pathTableNames(project), (std::vector<std::u16string>{u"", u"Zed", u"alpha", u"beta"}));
    for (std::size_t i = 0; i < project.pathTableOrder.size(); ++i) {
        EXPECT_EQ(project.pathTableOrder[i]->number, i + 1);
    }
}

TEST(PathTableOrderTest, EveryFolderFollowsItsParentsGroup) {
    BurnEngine engine;
    // Created deepest-first and in reverse name order, so the first rounds
    // number parents after their children.
    engine.CreateFolder("\\", "b");
    engine.CreateFolder("\\b", "y");
    engine.CreateFolder("\\b\\y", "deep");
    engine.CreateFolder("\\", "a");
    engine.CreateFolder("\\a", "x");
    ImageProject& project = engine.project();
    ASSERT_TRUE(orderPathTable(project));
    EXPECT_EQ(pathTableNames(project),
              (std::vector<std::u16string>{u"", u"a", u"b", u"x", u"y", u"deep"}));
    for (const FolderNode* folder : project.pathTableOrder) {
        if (folder != project.root) {
            EXPECT_LT(folder->parent->number, folder->number);
        }
    }
}

}  // namespace
}  // namespace velk

// Images written by the test image writer, read back by independent
// readers: isoinfo (ISO and Joliet), xorriso, 7zz (ISO and UDF), udfinfo,
// pycdlib (ISO, Joliet, UDF and El Torito) and dumpet. Every reader must
// list every entry with its name and size, pycdlib and 7-Zip with its date, and
// extracted files must carry their sources' bytes.
//
// The tree holds what readers have misread before: a file without an
// extension, winter and summer dates (under a zone with daylight saving),
// names that differ only in case, a FIFO (left out), and in one variant a
// sparse file over 4 GiB (multi-extent in ISO 9660), which is checked by
// hashes streamed from the readers, never held in memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/image/ImageOperations.h"
#include "engine/image/UdfFiles.h"
#include "engine/image/VolumeLabels.h"
#include "image/ImageTestSupport.h"
#include "image/TestImageWriter.h"
#include "platform/Text.h"

namespace velk::testing {
namespace {

namespace fs = std::filesystem;

struct Entry {
    bool folder = false;
    std::uint64_t size = 0;
    std::string source;
    std::int64_t mtime = 0;  // the source's last-write time, Unix seconds
};
// Path in one tree ("/A/B") -> entry.
using Listing = std::map<std::string, Entry>;

struct CommandResult {
    int status = -1;
    std::string output;
};

std::string quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

CommandResult run(const std::string& command) {
    CommandResult result;
    std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, got);
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool haveTool(const std::string& name) { return run("command -v " + name).status == 0; }

std::string fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::string randomBytes(std::size_t length, unsigned seed) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(seed >> 16);
    }
    return bytes;
}

// The three name trees of the project, as the readers should list them.
struct Listings {
    Listing iso, joliet, udf;
};

// "/A./b." -> "/A/b": how readers show names whose dot only marks "no
// extension".
std::string withoutTrailingDots(const std::string& path) {
    std::string out;
    for (std::size_t i = 0; i < path.size(); ++i) {
        bool endOfName = i + 1 == path.size() || path[i + 1] == '/';
        if (path[i] == '.' && endOfName && i > 0 && path[i - 1] != '/') continue;
        out += path[i];
    }
    return out;
}

// A Joliet name as isoinfo (cdrkit) prints it: it has no UTF-8 output, so
// Latin-1 characters come as their byte and every other one as "_".
std::string isoinfoJolietName(const std::string& utf8) {
    std::string out;
    for (char16_t unit : platform::toUtf16(utf8)) {
        out += unit < 0x100 ? static_cast<char>(unit) : '_';
    }
    return out;
}

// Unix seconds of a source's last-write time, as the file system has it.
std::int64_t sourceSeconds(const std::string& path) {
    auto record = platform::findPath(path);
    if (!record) return 0;
    return static_cast<std::int64_t>(record->lastWriteTime / 10000000) - 11644473600;
}

void collect(const ImageProject& project, const FolderNode& folder, const std::string& iso,
             const std::string& joliet, const std::string& udf, Listings& out) {
    for (const FileItem* child = folder.firstChild; child; child = child->next) {
        std::string isoName = child->isoName.substr(0, child->isoNameLength);
        platform::upperAsciiInPlace(isoName);
        std::string jolietName =
            platform::toUtf8(std::u16string_view(child->jolietName).substr(0, child->jolietNameLength));
        std::string udfName = platform::toUtf8(image::udfIdentifierName(*child));
        std::string source = child->folder ? child->folder->origin : platform::toUtf8(child->sourcePath);
        Entry entry{child->isFolder(), child->size, platform::toUtf8(child->sourcePath),
                    sourceSeconds(source)};
        out.iso[iso + "/" + isoName] = entry;
        out.joliet[joliet + "/" + jolietName] = entry;
        out.udf[udf + "/" + udfName] = entry;
        if (child->folder) {
            collect(project, *child->folder, iso + "/" + isoName, joliet + "/" + jolietName,
                    udf + "/" + udfName, out);
        }
    }
}

struct Variant {
    const char* name;
    bool longNames = false;
    bool joliet = true;
    bool udf = true;
    const char* boot = nullptr;  // file name of a boot image in the work folder
    bool big = false;            // the sparse file over 4 GiB goes on too
};

// Over 4 GiB, so ISO 9660 needs two sections, with bytes at both ends and a
// hole between.
constexpr std::uint64_t BigFileBytes = (4ull << 30) + 5000;

class ImageReaders : public ::testing::TestWithParam<Variant> {
protected:
    static void SetUpTestSuite() {
        // Dates are checked in a zone whose offset differs between the two.
        berlin_ = new ScopedTimeZone("Europe/Berlin");
        char pattern[] = "/tmp/velk-image-readers-XXXXXX";
        work_ = mkdtemp(pattern);
        fs::path src = work_ / "src";
        fs::create_directories(src / "d1/d2/d3/d4/d5/d6");
        fs::create_directories(src / "many");
        fs::create_directories(src / "Ελληνικά");
        writeFile(src / "d1/d2/d3/d4/d5/d6/deep.txt", "six folders down\n");
        writeFile(src / "empty.bin", "");
        writeFile(src / "one.bin", "x");
        writeFile(src / "block.bin", randomBytes(2048, 1));
        writeFile(src / "block plus one.bin", randomBytes(2049, 2));
        writeFile(src / ".hidden", "hidden\n");
        writeFile(src / "café au lait.txt", "café\n");
        writeFile(src / "Ελληνικά/αλφάβητο.txt", "greek\n");
        writeFile(src / "中文文件名.txt", "cjk\n");
        writeFile(src / (std::string(94, 'n') + ".txt"), "ninety-eight\n");
        // Enough long names that the ISO and Joliet records and the UDF
        // identifier stream of this folder each take several blocks.
        for (int i = 0; i < 90; ++i) {
            writeFile(src / ("a rather long file name for many blocks " + std::to_string(i) + ".dat"),
                      randomBytes(static_cast<std::size_t>(i * 37), static_cast<unsigned>(i)));
        }
        // No extension: Joliet adds a dot, UDF must not.
        writeFile(src / "Makefile", "all:\n");
        writeFile(src / "COPYING", "copying\n");
        // Names that differ only in case: the second of each goes on as "(2)".
        writeFile(src / "Index.html", "<p>upper</p>\n");
        writeFile(src / "index.html", "<p>lower</p>\n");
        fs::create_directories(src / "Docs");
        fs::create_directories(src / "docs");
        writeFile(src / "Docs/guide.txt", "upper docs\n");
        writeFile(src / "docs/guide.txt", "lower docs\n");
        writeFile(src / "winter.txt", "january\n");
        writeFile(src / "summer.txt", "july\n");
        EXPECT_EQ(run("touch -d @1232020800 " + quote((src / "winter.txt").string())).status, 0);
        EXPECT_EQ(run("touch -d @1247659200 " + quote((src / "summer.txt").string())).status, 0);
        EXPECT_EQ(run("mkfifo " + quote((src / "pipe").string())).status, 0);
        // Folder dates are checked too: set them once their content is made.
        EXPECT_EQ(run("touch -d @1247659200 " + quote((src / "docs").string())).status, 0);
        writeFile(work_ / "loader.bin", randomBytes(2048, 7));
        writeFile(work_ / "floppy.img", randomBytes(1474560, 9));

        fs::create_directories(work_ / "big");
        std::ofstream big(work_ / "big/sparse.bin", std::ios::binary);
        big << "head of the big file";
        big.seekp(static_cast<std::streamoff>(BigFileBytes - 4));
        big << "tail";
    }
    static void TearDownTestSuite() {
        fs::remove_all(work_);
        delete berlin_;
    }

    // Builds, plans and writes the image of the variant.
    std::string makeImage(const Variant& v, std::unique_ptr<ImageProject>& project) {
        project = newProject();
        if (v.longNames) resetProject(*project, 1, 0);
        project->jolietOn = v.joliet;
        project->udfOn = v.udf;
        setVolumeLabel(*project, "velk readers");
        if (v.boot) {
            std::string boot = (work_ / v.boot).string();
            EXPECT_EQ(image::SetBootImage(*project, boot.c_str()), 1);
        }
        EXPECT_NE(addDirectory(*project, u"\\", platform::toUtf16((work_ / "src").string()), u"*.*", 1,
                               0, 1),
                  nullptr);
        if (v.big) {
            EXPECT_NE(addFile(*project, u"\\", platform::toUtf16((work_ / "big/sparse.bin").string()), 1),
                      nullptr);
        }
        // The FIFO is left out, and said so.
        EXPECT_EQ(project->notices.size(), 3u);  // two case twins renamed, the FIFO
        for (const SourceNotice& notice : project->notices) {
            if (notice.kind == SourceNoticeKind::SpecialFile) {
                EXPECT_EQ(notice.reason, "FIFO");
            }
        }
        image::PrepareImage(*project);
        std::string path = (work_ / (std::string(v.name) + ".iso")).string();
        TestImageOptions options;
        options.udfCallSizes = {1, 7, 255, 2};
        EXPECT_EQ(writeTestImage(*project, path, options), "");
        return path;
    }

    static std::string writeManifest(const Variant& v, const Listings& l) {
        std::string path = (work_ / (std::string(v.name) + ".manifest")).string();
        std::ofstream out(path, std::ios::binary);
        auto emit = [&](const char* tree, const Listing& listing) {
            for (auto& [p, e] : listing) {
                out << tree << '\t' << (e.folder ? 'd' : 'f') << '\t' << p << '\t' << e.size << '\t'
                    << (e.folder ? "-" : e.source) << '\t' << e.mtime << '\n';
            }
        };
        emit("iso", l.iso);
        if (v.joliet) emit("joliet", l.joliet);
        if (v.udf) emit("udf", l.udf);
        return path;
    }

    // Readers show an ISO name that ends in "." (no extension) without the
    // dot; the entry is the same.
    static fs::path onDisk(const fs::path& root, const std::string& path) {
        fs::path exact = root / path.substr(1);
        if (fs::exists(exact)) return exact;
        fs::path trimmed = root;
        for (const fs::path& part : fs::path(path.substr(1))) {
            std::string name = part.string();
            while (name.size() > 1 && name.back() == '.') name.pop_back();
            trimmed /= name;
        }
        return trimmed;
    }

    // Every file of `listing` under `root` has its source's bytes.
    // ISO names are not mapped to d-characters (on purpose), so a name with
    // two dots (".HIDDEN." in long-name mode), spaces, non-ASCII bytes or
    // more than 31 bytes is not
    // a valid ISO 9660 name and extracting readers rename or cut it; such
    // entries are checked by isoinfo and pycdlib only.
    static bool validIsoDots(const std::string& path) {
        std::string name = path.substr(path.rfind('/') + 1);
        bool dCharacters = std::all_of(name.begin(), name.end(), [](char c) {
            return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.';
        });
        return dCharacters && std::count(name.begin(), name.end(), '.') <= 1 && name.size() <= 31;
    }

    // SHA-256 of a file or of a command's output, streamed by sha256sum.
    static std::string sha256Of(const std::string& command) {
        CommandResult r = run(command + " | sha256sum");
        return r.output.substr(0, 64);
    }
    static std::string sourceHash(const std::string& source) {
        static std::map<std::string, std::string> hashes;
        auto [it, fresh] = hashes.try_emplace(source);
        if (fresh) it->second = sha256Of("cat " + quote(source));
        return it->second;
    }
    // Small files are compared byte for byte, big ones by hash.
    static bool sameBytes(const fs::path& extracted, const Entry& e) {
        if (e.size < (64u << 20)) return fileBytes(extracted) == fileBytes(e.source);
        return sha256Of("cat " + quote(extracted.string())) == sourceHash(e.source);
    }

    static void expectExtracted(const fs::path& root, const Listing& listing, const char* reader,
                                bool isoNames) {
        for (auto& [p, e] : listing) {
            if (isoNames && !validIsoDots(p)) continue;
            fs::path extracted = onDisk(root, p);
            if (e.folder) {
                EXPECT_TRUE(fs::is_directory(extracted)) << reader << ": " << p;
                continue;
            }
            ASSERT_TRUE(fs::exists(extracted)) << reader << ": missing " << p;
            EXPECT_EQ(fs::file_size(extracted), e.size) << reader << ": " << p;
            EXPECT_TRUE(sameBytes(extracted, e)) << reader << ": bytes of " << p;
        }
    }

    static fs::path work_;
    static ScopedTimeZone* berlin_;
};

fs::path ImageReaders::work_;
ScopedTimeZone* ImageReaders::berlin_ = nullptr;

TEST_P(ImageReaders, ListAndExtract) {
    const Variant v = GetParam();
    std::unique_ptr<ImageProject> project;
    std::string image = makeImage(v, project);
    ASSERT_FALSE(HasFailure());
    Listings l;
    collect(*project, *project->root, "", "", "", l);
    // The tree that extraction by name sees: Joliet when present.
    const Listing& named = v.joliet ? l.joliet : l.iso;
    std::vector<fs::path> made;  // removed at the end: a big image's copies are big

    {  // pycdlib: ISO, Joliet and UDF walks with contents and dates, El Torito entry.
        std::string command = "/usr/bin/python3 " + quote(VELK_SOURCE_DIR "/tests/image/ImageReaderCheck.py") +
                              " " + quote(image) + " " + quote(writeManifest(v, l));
        if (v.boot) {
            command += " --boot " + std::to_string(project->plan.bootImageBlock) + " " +
                       std::to_string(std::string(v.boot) == "loader.bin" ? 0 : 2);
        }
        CommandResult r = run(command);
        EXPECT_EQ(r.output, "OK\n") << "pycdlib";
    }
    if (haveTool("isoinfo")) {  // listing and extraction of the ISO tree, and with -J of Joliet
        struct Tree {
            const char* option;
            const Listing* listing;
        };
        std::vector<Tree> trees{{"", &l.iso}};
        if (v.joliet) trees.push_back({" -J", &l.joliet});
        for (const Tree& tree : trees) {
            CommandResult r = run("isoinfo" + std::string(tree.option) + " -f -i " + quote(image));
            ASSERT_EQ(r.status, 0) << r.output;
            std::set<std::string> listed;
            std::istringstream lines(r.output);
            for (std::string line; std::getline(lines, line);) listed.insert(line);
            for (auto& [entryPath, e] : *tree.listing) {
                const std::string p = tree.listing == &l.joliet ? isoinfoJolietName(entryPath) : entryPath;
                EXPECT_TRUE(listed.count(p)) << "isoinfo" << tree.option << ": missing " << p;
                // This isoinfo reads no multi-extent file (it takes the first
                // section); xorriso, 7-Zip, pycdlib and the kernel do.
                if (e.folder || e.size > 0xFFFFFFFFull) continue;
                std::string extracted =
                    sha256Of("isoinfo" + std::string(tree.option) + " -i " + quote(image) + " -x " + quote(p));
                EXPECT_EQ(extracted, sourceHash(e.source)) << "isoinfo" << tree.option << " -x " << p;
            }
            EXPECT_EQ(listed.size(), tree.listing->size()) << "isoinfo" << tree.option;
        }
    }
    if (haveTool("xorriso")) {
        fs::path out = work_ / (std::string(v.name) + ".xorriso");
        made.push_back(out);
        // Sparse extraction: the big file's hole stays a hole.
        CommandResult r = run("xorriso -indev " + quote(image) + " -osirrox on:sparse=1m -extract / " +
                              quote(out.string()));
        EXPECT_EQ(r.status, 0) << r.output;
        expectExtracted(out, named, "xorriso", !v.joliet);
    }
    // 7-Zip extracts everything but the big file, which it streams into a hash.
    auto sevenZip = [&](const char* type, const Listing& listing, bool isoNames) {
        fs::path out = work_ / (std::string(v.name) + ".7z-" + type);
        made.push_back(out);
        CommandResult x = run(std::string("7zz x -t") + type + " -y -xr!sparse.bin -xr!SPARSE.BIN -o" +
                              quote(out.string()) + " " + quote(image));
        EXPECT_EQ(x.status, 0) << x.output;
        Listing small;
        for (auto& [p, e] : listing) {
            if (e.size < BigFileBytes) {
                small[p] = e;
                continue;
            }
            std::string hash = sha256Of(std::string("7zz e -so -t") + type + " " + quote(image) + " " +
                                        quote(p.substr(1)));
            EXPECT_EQ(hash, sourceHash(e.source)) << "7zz -t" << type << ": bytes of " << p;
        }
        expectExtracted(out, small, (std::string("7zz -t") + type).c_str(), isoNames);
    };
    // 7-Zip lists a tree with every entry's size and date (shown in UTC
    // under TZ=UTC: it applies today's offset to every date otherwise).
    auto sevenZipListing = [&](const char* type, const Listing& listing) {
        CommandResult r = run(std::string("TZ=UTC 7zz l -slt -t") + type + " " + quote(image));
        struct Listed {
            std::uint64_t size = 0;
            std::string modified;
        };
        std::map<std::string, Listed> listed;
        std::istringstream lines(r.output);
        std::string path;
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("Path = ", 0) == 0) path = "/" + line.substr(7);
            if (path.empty()) continue;
            if (line.rfind("Size = ", 0) == 0) listed[path].size = line.size() > 7 ? std::stoull(line.substr(7)) : 0;
            if (line.rfind("Modified = ", 0) == 0) listed[path].modified = line.substr(11, 19);
        }
        for (auto& [p, e] : listing) {
            // 7-Zip shows a Joliet name without the dot of a name with no extension.
            auto found = listed.find(p);
            if (found == listed.end()) found = listed.find(withoutTrailingDots(p));
            ASSERT_NE(found, listed.end()) << "7zz -t" << type << ": missing " << p;
            if (!e.folder) {
                EXPECT_EQ(found->second.size, e.size) << "7zz -t" << type << ": " << p;
            }
            std::time_t seconds = static_cast<std::time_t>(e.mtime);
            std::tm utc{};
            gmtime_r(&seconds, &utc);
            char expected[32];
            std::strftime(expected, sizeof expected, "%Y-%m-%d %H:%M:%S", &utc);
            EXPECT_EQ(found->second.modified, expected) << "7zz -t" << type << ": date of " << p;
        }
    };
    if (haveTool("7zz")) {
        sevenZip("iso", named, !v.joliet);
        if (v.joliet) sevenZipListing("iso", l.joliet);
    }
    if (v.udf && haveTool("7zz")) {
        sevenZip("udf", l.udf, false);
        sevenZipListing("udf", l.udf);
    }
    if (v.udf && haveTool("udfinfo")) {
        CommandResult r = run("udfinfo " + quote(image));
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find("label=velk readers\n"), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("udfrev=1.50\n"), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("numfiles=" + std::to_string(project->udf.fileCount) + "\n"),
                  std::string::npos);
        EXPECT_NE(r.output.find("numdirs=" + std::to_string(project->udf.dirCount) + "\n"),
                  std::string::npos);
    }
    if (v.boot && haveTool("dumpet")) {
        CommandResult r = run("dumpet -i " + quote(image));
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find("Entry is bootable"), std::string::npos) << r.output;
        char rba[64];
        std::snprintf(rba, sizeof rba, "Load LBA: %u", project->plan.bootImageBlock);
        EXPECT_NE(r.output.find(rba), std::string::npos) << r.output;
    }
    for (const fs::path& path : made) fs::remove_all(path);
    fs::remove(image);
}

INSTANTIATE_TEST_SUITE_P(
    Trees, ImageReaders,
    ::testing::Values(Variant{"short_names", false, true, true, nullptr, true}, Variant{"long_names", true},
                      Variant{"no_joliet", false, false}, Variant{"no_udf", false, true, false},
                      Variant{"long_no_joliet_no_udf", true, false, false},
                      Variant{"boot_loader", false, true, true, "loader.bin"},
                      Variant{"boot_floppy", false, true, false, "floppy.img"}),
    [](const ::testing::TestParamInfo<Variant>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velk::testing

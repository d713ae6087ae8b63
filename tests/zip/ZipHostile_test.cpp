// Hostile and damaged archives are refused with a clear message before
// anything of them is written; failures never leave partial or corrupt files.

#include <map>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ZipArchive.h"
#include "ZipTestUtil.h"

using namespace ziptest;

namespace {

std::string ValidArchive(const TempDir& dir)
{
    WriteFile(dir / "src/a.txt", std::string(5000, 'a'));
    WriteFile(dir / "src/b.txt", "second member");
    ZipArchive::ZipDirectoryContents(dir / "v.zip", dir / "src", ZipMethod::Deflate, {});
    return ReadFile(dir / "v.zip");
}

Raw Named(const std::string& name, const std::string& content = "x")
{
    return M(name, content);
}

}  // namespace

Raw MadeOn(std::uint8_t host, const std::string& name)
{
    Raw r = Named(name);
    r.madeBy = static_cast<std::uint16_t>(host << 8 | 20);
    return r;
}

// "\\" separates and a drive prefix is refused only where the host writes names
// so: MS-DOS (0), NTFS (10), VFAT (14) and hosts we don't know (here 30).
constexpr std::uint8_t kDosHosts[] = {0, 10, 14, 30};
constexpr std::uint8_t kAllHosts[] = {0, 10, 14, 30, 3, 19};

TEST(ZipHostileNames, TraversalAbsoluteAndDriveNamesAreRefusedBeforeWriting)
{
    for (const std::uint8_t host : kAllHosts)
        for (const std::string name : {"../evil.txt", "a/../../evil.txt", "..", "/abs.txt"}) {
            SCOPED_TRACE(name + " made on host " + std::to_string(host));
            ExpectRefused(BuildZip({Named("good.txt"), MadeOn(host, name)}), "不安全的成员名");
        }
    for (const std::uint8_t host : kDosHosts)
        for (const std::string name : {"..\\evil.txt", "a\\..\\..\\evil.txt", "\\abs.txt", "C:/x.txt", "c:x.txt", "d:\\x.txt"}) {
            SCOPED_TRACE(name + " made on host " + std::to_string(host));
            ExpectRefused(BuildZip({Named("good.txt"), MadeOn(host, name)}), "不安全的成员名");
        }
}

// Made on Unix or macOS, "\\" and ":" are name characters like any other.
TEST(ZipHostileNames, BackslashAndDriveAreOrdinaryInUnixArchives)
{
    for (const std::uint8_t host : {3, 19}) {
        TempDir dir;
        WriteFile(dir / "u.zip", BuildZip({MadeOn(host, "..\\x.txt"), MadeOn(host, "c:y.txt"), MadeOn(host, "d\\")}));
        ZipArchive::ExtractZipFile(dir / "u.zip", dir / "out", {});
        EXPECT_EQ(Tree(dir / "out"), (std::vector<std::string>{"..\\x.txt", "c:y.txt", "d\\"})) << int(host);
    }
}

// Paths no batch could use afterwards, and names deep enough to exhaust a
// recursion per level or a plan that keeps every folder prefix, are refused
// cheaply before anything is written.
TEST(ZipHostileNames, OverlongPathsAndPartsAreRefusedBeforeWriting)
{
    std::string deep;
    while (deep.size() < 65533)
        deep += deep.empty() ? "a" : "/a";
    std::string wide;
    while (wide.size() < 40000)
        wide += "d/";
    wide += "f";
    struct Case {
        std::vector<Raw> members;
        const char* expected;
    } cases[] = {
        {{Named(deep)}, "4096 字节"},
        {{Named(std::string(4090, 'x') + "/y.txt")}, "255 字节"},
        {{Named(std::string(256, 'n'))}, "255 字节"},
        {std::vector<Raw>(24, Named(wide)), "4096 字节"},
    };
    for (auto& c : cases)
        ExpectRefused(BuildZip(c.members), c.expected);
    // The limit counts the target folder's path too.
    TempDir dir;
    std::string name;
    while (name.size() + dir.Path().size() + 5 < 4096)
        name += "p/";
    WriteFile(dir / "l.zip", BuildZip({Named(name + "ab")}));
    EXPECT_NE(ErrorOf([&] { ZipArchive::ExtractZipFile(dir / "l.zip", dir / "out", {}); }).find("4096"), std::string::npos);
}

TEST(ZipHostileNames, NulInNameAndDuplicateNamesAreRefused)
{
    ExpectRefused(BuildZip({Named("good.txt"), Named(std::string("a\0b.txt", 7))}), "NUL");
    ExpectRefused(BuildZip({Named("same.txt"), Named("same.txt")}), "出现了两次");
    ExpectRefused(BuildZip({MadeOn(0, "d/same.txt"), MadeOn(0, "d\\same.txt")}), "出现了两次");
    ExpectRefused(BuildZip({Named("f"), Named("f/under.txt")}), "既是文件又是文件夹");
    ExpectRefused(BuildZip({Named("f/under.txt"), Named("f")}), "既是文件又是文件夹");
}

Raw Link(const std::string& name, const std::string& target)
{
    Raw link = Named(name, target);
    link.external = 0120777u << 16;
    return link;
}

// A link member whose target stays inside the target folder is made as a
// link; any other refuses the whole archive before anything is written.
TEST(ZipHostileLinks, LinksInsideAreMadeAndLinksLeadingOutRefuseTheArchive)
{
    TempDir outside;
    const std::vector<std::pair<std::string, std::vector<Raw>>> refused = {
        {"absolute", {Named("good.txt"), Link("l", outside.Path())}},
        {"climbing out", {Named("good.txt"), Link("d/l", "../../x")}},
        {"climbing out of another link", {Link("a/up", ".."), Link("m", "a/up/../x"), Named("good.txt")}},
        {"written through", {Link("l", "sub"), Named("l/evil.txt")}},
    };
    for (const auto& [label, members] : refused) {
        SCOPED_TRACE(label);
        ExpectRefused(BuildZip(members), label == "written through" ? "既是文件又是文件夹" : "是符号链接");
    }
    EXPECT_TRUE(Tree(outside.Path()).empty());

    TempDir dir;
    WriteFile(dir / "out/l", "an earlier file of the link's name");
    WriteFile(dir / "l.zip", BuildZip({Named("d/f.txt", "data"), Link("l", "d/f.txt"), Link("d/up", "../d/./f.txt"),
                                       Link("d/self", ".")}));
    ZipArchive::ExtractZipFile(dir / "l.zip", dir / "out", {});
    for (const auto& [name, target] : std::map<std::string, std::string>{
             {"l", "d/f.txt"}, {"d/up", "../d/./f.txt"}, {"d/self", "."}}) {
        ASSERT_TRUE(std::filesystem::is_symlink(dir / ("out/" + name))) << name;
        EXPECT_EQ(std::filesystem::read_symlink(dir / ("out/" + name)).string(), target);
    }
    EXPECT_EQ(ReadFile(dir / "out/l"), "data");
}

TEST(ZipHostileLinks, LinksAlreadyInTheTargetAreNotWrittenThrough)
{
    TempDir dir, outside;
    WriteFile(outside / "secret.txt", "keep me");
    std::filesystem::create_directories(dir / "out");
    std::filesystem::create_directory_symlink(outside.Path(), dir / "out/sub");
    std::filesystem::create_symlink(outside / "secret.txt", dir / "out/f.txt");
    WriteFile(dir / "a.zip", BuildZip({Named("f.txt", "replaces the link")}));
    ZipArchive::ExtractZipFile(dir / "a.zip", dir / "out", {});
    EXPECT_EQ(ReadFile(outside / "secret.txt"), "keep me");
    EXPECT_FALSE(std::filesystem::is_symlink(dir / "out/f.txt"));
    EXPECT_EQ(ReadFile(dir / "out/f.txt"), "replaces the link");

    WriteFile(dir / "b.zip", BuildZip({Named("sub/secret.txt", "overwritten")}));
    EXPECT_NE(ErrorOf([&] { ZipArchive::ExtractZipFile(dir / "b.zip", dir / "out", {}); }), "no error");
    EXPECT_EQ(ReadFile(outside / "secret.txt"), "keep me");
    EXPECT_EQ(Tree(outside.Path()), std::vector<std::string>{"secret.txt"});
}

TEST(ZipHostileStructure, DamagedOrForeignFilesAreNoReadableArchive)
{
    TempDir dir;
    const std::string valid = ValidArchive(dir);
    ExpectRefused(valid.substr(0, valid.size() / 2), "不是可读取的 ZIP 压缩文件");
    ExpectRefused(valid.substr(0, valid.size() - 22), "找不到中央目录结束记录");
    ExpectRefused(std::string(4096, '\0'), "不是可读取的 ZIP 压缩文件");
    ExpectRefused("just some text that someone named .zip\n", "不是可读取的 ZIP 压缩文件");
    ExpectRefused("", "不是可读取的 ZIP 压缩文件");

    std::string shifted = valid;  // the central directory offset of the end record, off by one
    shifted[shifted.size() - 6] = static_cast<char>(shifted[shifted.size() - 6] + 1);
    ExpectRefused(shifted, "中央目录不在结束记录所指的位置");
    std::string multiDisk = valid;
    multiDisk[multiDisk.size() - 18] = 1;  // number of this disk
    ExpectRefused(multiDisk, "不支持分卷");
    std::string localOffset = valid;  // second member's local header offset pointing into the first's data
    const std::size_t second = FindOrFail(localOffset, std::string("PK\x01\x02", 4), FindOrFail(localOffset, std::string("PK\x01\x02", 4)) + 4);
    localOffset[second + 42] = 40;
    ExpectRefused(localOffset, "成员b.txt的本地文件头缺失");
}

TEST(ZipHostileStructure, LocalHeaderMustAgreeWithTheCentralDirectory)
{
    Raw otherName = Named("name.txt");
    otherName.localName = "nbme.txt";
    ExpectRefused(BuildZip({otherName}), "与中央目录不一致（名称）");

    TempDir dir;
    std::string bytes = ValidArchive(dir);
    bytes[8] = 0;  // the first local header says stored, the central one deflate
    ExpectRefused(bytes, "与中央目录不一致（压缩方法）");
    bytes = ValidArchive(dir);
    bytes[22] ^= 1;  // the local header's uncompressed size
    ExpectRefused(bytes, "与中央目录不一致（大小或校验和）");
}

TEST(ZipHostileStructure, OverlappingMembersAreRefused)
{
    // Two directory entries share one member's data: the non-recursive zip bomb.
    std::string bytes = BuildZip({Named("a.txt", std::string(1000, 'a'))});
    const std::size_t central = FindOrFail(bytes, std::string("PK\x01\x02", 4));
    bytes.insert(central, bytes.substr(central, 46 + 5));
    const std::size_t end = bytes.size() - 22;
    bytes[end + 8] = bytes[end + 10] = 2;        // two entries
    bytes[end + 12] = static_cast<char>(2 * 51);  // central directory size
    ExpectRefused(bytes, "成员a.txt与成员a.txt相互重叠");
}

TEST(ZipHostileStructure, BadExtraFieldsAreRefused)
{
    Raw badLength = Named("x.txt");
    badLength.centralExtra = std::string("\x55\x54\x40\x00\x01", 5);  // claims 64 bytes, holds 1
    ExpectRefused(BuildZip({badLength}), "成员x.txt的扩展字段长度有误");

    // Saturated sizes but a Zip64 field holding only one of them.
    Raw shortZip64 = Named("y.txt", "yy");
    shortZip64.centralExtra = std::string("\x01\x00\x08\x00", 4) + std::string("\x02\0\0\0\0\0\0\0", 8);
    std::string bytes = BuildZip({shortZip64});
    const std::size_t central = FindOrFail(bytes, std::string("PK\x01\x02", 4));
    for (int i = 20; i < 28; ++i)
        bytes[central + i] = '\xff';
    ExpectRefused(bytes, "成员y.txt的 Zip64 扩展字段太短");
}

TEST(ZipHostileData, UnsupportedMethodAndEncryptionHaveTheirOwnMessages)
{
    Raw ppmd = Named("b.txt", "not really PPMd");
    ppmd.method = 98;
    ExpectRefused(BuildZip({Named("good.txt"), ppmd}), "使用的压缩方法 PPMd（编号 98）不受支持");
    Raw encrypted = Named("e.txt", "012345678901ciphertext");
    encrypted.flags |= 1;
    ExpectRefused(BuildZip({Named("good.txt"), encrypted}), "已加密");
}

TEST(ZipHostileData, ChecksumOrSizeFailureLeavesNoPartialFileAndKeepsTheEarlierOne)
{
    struct Case {
        std::string label, message;
        std::function<std::string()> bytes;
    };
    const std::string content = Pseudorandom(3000, 9) + std::string(3000, 'k');
    std::vector<Case> cases = {
        {"flipped data byte", "CRC-32 校验和不符",
         [&] {
             std::string b = BuildZip({Named("f.txt", content)});
             b[30 + 5 + 100] ^= 0x10;
             return b;
         }},
        {"flipped byte late in a large member, written in pieces", "CRC-32 校验和不符",
         [&] {
             std::string b = BuildZip({Named("f.txt", Pseudorandom(6 << 20, 4))});
             b[30 + 5 + (5 << 20)] ^= 0x01;
             return b;
         }},
        {"declared size smaller than the data", "数据多于其声明的大小",
         [&] {
             Raw r = M("f.txt", content, 8);
             r.declaredSize = 100;
             return BuildZip({r});
         }},
        {"declared size larger than the data", "数据少于其声明的大小",
         [&] {
             Raw r = M("f.txt", content, 8);
             r.declaredSize = 100000;
             return BuildZip({r});
         }},
        {"bytes after the end of the deflate stream", "压缩流结束后还有数据",
         [&] {
             Raw r = M("f.txt", content, 8);
             r.trailing = "junk";
             return BuildZip({r});
         }},
        {"deflate stream damaged", "已损坏",
         [&] {
             std::string b = BuildZip({M("f.txt", content, 8)});
             b[30 + 5] = '\xff';
             return b;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        WriteFile(dir / "out/f.txt", "the earlier file");
        WriteFile(dir / "bad.zip", c.bytes());
        const std::string message = ErrorOf([&] { ZipArchive::ExtractZipFile(dir / "bad.zip", dir / "out", {}); });
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
        EXPECT_EQ(ReadFile(dir / "out/f.txt"), "the earlier file");
        EXPECT_EQ(Tree(dir / "out"), std::vector<std::string>{"f.txt"});  // no temporary file left
    }
}

TEST(ZipFailures, MissingSourcesAndUnwritableTargetsHaveMessages)
{
    TempDir dir;
    WriteFile(dir / "file", "a regular file");
    ZipArchive a;
    EXPECT_NE(ErrorOf([&] { a.Open(dir / "file/a.zip", ZipMode::Write); }).find("不存在"), std::string::npos);
    EXPECT_NE(ErrorOf([&] { a.Open(dir / "nofolder/a.zip", ZipMode::Write); }).find("不存在"),
              std::string::npos);
    EXPECT_NE(ErrorOf([&] { a.Open(dir / "missing.zip", ZipMode::Read); }).find("missing.zip"), std::string::npos);
    EXPECT_NE(ErrorOf([&] { ZipArchive::ZipDirectoryContents(dir / "x.zip", dir / "nothere", ZipMethod::Deflate, {}); }),
              "no error");
    EXPECT_FALSE(std::filesystem::exists(dir / "x.zip"));

    a.Open(dir / "w.zip", ZipMode::Write);
    EXPECT_NE(ErrorOf([&] { a.Add(dir / "gone.txt"); }).find("gone.txt"), std::string::npos);
    EXPECT_NE(ErrorOf([&] { a.Add(dir.Path()); }).find("文件夹"), std::string::npos);
    a.Close();

    WriteFile(dir / "ok.zip", BuildZip({Named("t.txt")}));
    // The target's parent is a regular file: the target can't be made.
    EXPECT_NE(ErrorOf([&] { ZipArchive::ExtractZipFile(dir / "ok.zip", dir / "file/target", {}); }), "no error");
}

TEST(ZipFailures, EarlierArchiveSurvivesAFailedCompression)
{
    TempDir dir;
    WriteFile(dir / "src/a.txt", "a");
    ZipArchive::ZipDirectoryContents(dir / "keep.zip", dir / "src", ZipMethod::Deflate, {});
    const std::string earlier = ReadFile(dir / "keep.zip");
    {
        // An archive object dropped without Close after a failed Add.
        ZipArchive a;
        a.Open(dir / "keep.zip", ZipMode::Write);
        a.Add(dir / "src/a.txt");
        EXPECT_THROW(a.Add(dir / "src/none.txt"), ZipError);
    }
    EXPECT_EQ(ReadFile(dir / "keep.zip"), earlier);

    // A write that fails part-way (file size limit in a child process).
    WriteFile(dir / "src/big.bin", Pseudorandom(3 << 20, 2));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {1 << 20, 1 << 20};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            ZipArchive::ZipDirectoryContents(dir / "keep.zip", dir / "src", ZipMethod::Stored, {});
        } catch (const ZipError&) {
            _exit(7);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 7);
    EXPECT_EQ(ReadFile(dir / "keep.zip"), earlier);
    EXPECT_EQ(Tree(dir.Path()), (std::vector<std::string>{"keep.zip", "src/", "src/a.txt", "src/big.bin"}));
}

// The fuzz target reads archives from memory; the memory reader must judge
// every archive exactly as the file reader does, and extraction into memory
// must keep to its cap.
TEST(ZipInMemory, JudgesArchivesLikeTheFileReader)
{
    TempDir dir;
    const std::string valid = ValidArchive(dir);
    std::string shifted = valid;
    shifted[shifted.size() - 6] = static_cast<char>(shifted[shifted.size() - 6] + 1);
    std::string flipped = BuildZip({Named("a.txt", "stored text")});
    flipped[FindOrFail(flipped, "stored text")] ^= 1;
    const std::vector<std::string> archives = {
        valid, valid.substr(0, valid.size() / 2), valid.substr(0, valid.size() - 1), shifted, flipped, "",
        std::string(4096, '\0'), BuildZip({Named("good.txt"), Named("../evil.txt")}),
        BuildZip({Named("d/x.txt", "deep"), Named("top.txt", std::string(70000, 'z'))})};
    for (std::size_t i = 0; i < archives.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string& bytes = archives[i];
        WriteFile(dir / "f.zip", bytes);
        std::map<std::string, std::string> fromFile, fromMemory;
        std::string fileMessage = ErrorOf([&] {
            ZipArchive a;
            a.Open(dir / "f.zip", ZipMode::Read);
            a.TestAll();
            a.ExtractAll(dir / "out");
            for (const std::string& rel : Tree(dir / "out"))
                if (rel.back() != '/')
                    fromFile[rel] = ReadFile(dir / ("out/" + rel));
        });
        for (std::size_t at; (at = fileMessage.find(dir / "f.zip")) != std::string::npos;)
            fileMessage.replace(at, (dir / "f.zip").size(), "the archive in memory");
        const std::string memoryMessage = ErrorOf([&] {
            ZipArchive a;
            a.OpenBuffer(bytes.data(), bytes.size());
            a.ExtractToMemory(1 << 20, [&](const ZipHeader& h, const std::string& rel, std::string&& data) {
                EXPECT_EQ(data.size(), h.UncompressedSize);
                fromMemory[rel] = std::move(data);
            });
        });
        EXPECT_EQ(memoryMessage, fileMessage);
        EXPECT_EQ(fromMemory, fromFile);
        std::filesystem::remove_all(dir / "out");
    }
}

TEST(ZipInMemory, ExtractionStopsAtTheCap)
{
    const std::string bytes = BuildZip({Named("a.txt", std::string(600, 'a')), Named("b.txt", std::string(600, 'b'))});
    ZipArchive a;
    a.OpenBuffer(bytes.data(), bytes.size());
    std::vector<std::string> seen;
    const auto keep = [&](const ZipHeader&, const std::string& rel, std::string&&) { seen.push_back(rel); };
    EXPECT_NE(ErrorOf([&] { a.ExtractToMemory(1000, keep); }).find("数据超过 1000 字节"), std::string::npos);
    EXPECT_EQ(seen, std::vector<std::string>{"a.txt"});
    seen.clear();
    EXPECT_EQ(ErrorOf([&] { a.ExtractToMemory(1200, keep); }), "no error");
    EXPECT_EQ(seen, (std::vector<std::string>{"a.txt", "b.txt"}));
}

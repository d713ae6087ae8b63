// Members compressed with every method the peers write extract as 7-Zip
// extracts them; damaged ones and ones asking for too much memory are refused
// with a message naming the member, and nothing of them is left behind.

#include <sys/stat.h>

#include <bzlib.h>
#include <lzma.h>
#include <zstd.h>

#include "ZipArchive.h"
#include "ZipTestUtil.h"

using namespace ziptest;

namespace {

// Files that take a codec through its paths: a member small enough to be
// decoded in one call, text over several output chunks, incompressible
// data, 50 KB blocks repeated (long matches reaching far back), an empty file.
void MakeMethodTree(const std::string& root)
{
    WriteFile(root + "/small.txt", "small enough to be decoded whole\n");
    std::string text;
    for (int i = 0; i < 60000; ++i)
        text += "line " + std::to_string(i * 7919 % 100003) + " of the text\n";
    WriteFile(root + "/sub/text.txt", text);
    WriteFile(root + "/sub/random.bin", Pseudorandom(300000, 9));
    std::string repeats;
    const std::string block = Pseudorandom(50000, 4);
    for (int i = 0; i < 30; ++i)
        repeats += block + std::string(static_cast<std::size_t>(i) * 3000, 'z');
    WriteFile(root + "/sub/repeats.bin", repeats);
    WriteFile(root + "/empty.txt", "");
}

std::string Zstd(const std::string& data)
{
    std::string out(ZSTD_compressBound(data.size()), '\0');
    out.resize(ZSTD_compress(out.data(), out.size(), data.data(), data.size(), 3));
    return out;
}

// An xz stream as a streaming writer makes it: no sizes in the block header.
std::string Xz(const std::string& data)
{
    lzma_stream strm = LZMA_STREAM_INIT;
    EXPECT_EQ(lzma_easy_encoder(&strm, 1, LZMA_CHECK_CRC32), LZMA_OK);
    std::string out(lzma_stream_buffer_bound(data.size()), '\0');
    strm.next_in = reinterpret_cast<const uint8_t*>(data.data());
    strm.avail_in = data.size();
    strm.next_out = reinterpret_cast<uint8_t*>(out.data());
    strm.avail_out = out.size();
    while (lzma_code(&strm, LZMA_FINISH) == LZMA_OK) {
    }
    out.resize(strm.total_out);
    lzma_end(&strm);
    return out;
}

std::string Bzip2(const std::string& data)
{
    std::string out(data.size() + data.size() / 100 + 600, '\0');
    unsigned size = static_cast<unsigned>(out.size());
    BZ2_bzBuffToBuffCompress(out.data(), &size, const_cast<char*>(data.data()), static_cast<unsigned>(data.size()), 9,
                             0, 0);
    out.resize(size);
    return out;
}

// Our extraction and 7-Zip's give the same tree, byte for byte.
void ExpectSameAs7z(const std::string& archive, const TempDir& dir)
{
    std::filesystem::remove_all(dir / "ours");
    std::filesystem::remove_all(dir / "theirs");
    ZipArchive::ExtractZipFile(archive, dir / "ours", {});
    std::string out;
    ASSERT_EQ(Shell("7z x -tzip -y -bd -o" + Quote(dir / "theirs") + " " + Quote(archive), &out), 0) << out;
    const std::vector<std::string> tree = Tree(dir / "theirs");
    EXPECT_EQ(Tree(dir / "ours"), tree);
    for (const std::string& rel : tree)
        if (rel.back() != '/') {
            EXPECT_EQ(ReadFile(dir / ("ours/" + rel)), ReadFile(dir / ("theirs/" + rel))) << rel;
        }
}

}  // namespace

TEST(ZipMethods, PeerArchivesOfEveryMethodExtractAs7zDoes)
{
    if (!HaveTool("7z") || !HaveTool("python3"))
        GTEST_SKIP() << "7z or python3 is not installed";
    TempDir dir;
    MakeMethodTree(dir / "src");
    const std::string python =
        "python3 -c 'import zipfile,sys,os\n"
        "with zipfile.ZipFile(\"../a.zip\",\"w\",int(sys.argv[1])) as z:\n"
        "  for r,ds,fs in os.walk(\".\"):\n"
        "    for f in fs: z.write(os.path.join(r,f))' ";
    const std::vector<std::pair<std::string, std::string>> forms = {
        {"7z Deflate64", "7z a -tzip -bd -mm=Deflate64 ../a.zip ."},
        {"7z bzip2", "7z a -tzip -bd -mm=BZip2 ../a.zip ."},
        {"7z LZMA", "7z a -tzip -bd -mm=LZMA ../a.zip ."},
        {"7z xz", "7z a -tzip -bd -mm=XZ ../a.zip ."},
        {"python bzip2", python + "12"},
        {"python LZMA", python + "14"},
    };
    for (const auto& [form, command] : forms) {
        SCOPED_TRACE(form);
        std::filesystem::remove(dir / "a.zip");
        std::string out;
        ASSERT_EQ(Shell("cd " + Quote(dir / "src") + " && " + command, &out), 0) << out;
        ExpectSameAs7z(dir / "a.zip", dir);
    }

    // No peer here writes zstd members: ours are made with libzstd, one of
    // them as two frames one after another.
    SCOPED_TRACE("zstd");
    std::vector<Raw> members;
    for (const std::string name : {"small.txt", "sub/text.txt", "sub/random.bin", "sub/repeats.bin"}) {
        Raw r = M(name, ReadFile(dir / ("src/" + name)), 93);
        r.packed = Zstd(r.content);
        members.push_back(r);
    }
    Raw frames = M("frames.txt", members[0].content + members[1].content, 93);
    frames.packed = members[0].packed + members[1].packed;
    members.push_back(frames);
    WriteFile(dir / "z.zip", BuildZip(members));
    ExpectSameAs7z(dir / "z.zip", dir);
}

TEST(ZipMethods, DamagedOrGreedyMembersAreRefusedAndLeaveNothing)
{
    const std::string text = Pseudorandom(2000, 1) + std::string(200000, 'a');
    auto flipped = [](std::string s, std::size_t at) {
        s[at] = static_cast<char>(s[at] ^ 0x55);
        return s;
    };
    // An xz stream with its block header's dictionary set to 2 GiB (and the
    // header's CRC-32 made to match).
    const std::string xz = Xz(text);
    std::string greedyXz = xz;
    greedyXz[16] = 38;
    const std::string blockHeader = greedyXz.substr(12, 8);
    for (int i = 0; i < 4; ++i)
        greedyXz[20 + i] = static_cast<char>(Crc(blockHeader) >> (8 * i));
    // Raw LZMA properties: lc=3 lp=0 pb=2 and a 1 GiB dictionary.
    const std::string greedyLzma = std::string("\x09\x14\x05\x00\x5d\x00\x00\x00\x40", 9) + std::string(20, '\0');
    // A zstd frame whose window is 1 GiB, holding "abc" in a raw block.
    const std::string greedyZstd = std::string("\x28\xb5\x2f\xfd\x00\xa0\x19\x00\x00" "abc", 12);

    const std::string zstd = Zstd(text);
    struct Case {
        std::string label;
        std::uint16_t method;
        std::string packed, content, message;
    };
    const std::vector<Case> cases = {
        {"Deflate64 bad block type", 9, "\x07", text, "成员m的压缩数据已损坏：Deflate64: 无效的块类型"},
        {"Deflate64 truncated", 9, std::string("\x00\xff", 2), text, "成员m的压缩数据已损坏：Deflate64: 压缩数据提前结束"},
        {"bzip2 damaged", 12, flipped(Bzip2(text), 20), text, "成员m的压缩数据已损坏：bzip2:"},
        {"xz damaged", 95, flipped(xz, xz.size() / 2), text, "成员m的压缩数据已损坏：liblzma:"},
        {"zstd damaged", 93, flipped(zstd, 0), text, "成员m的压缩数据已损坏：zstd:"},
        {"zstd truncated", 93, zstd.substr(0, zstd.size() - 20), text, "成员m的压缩数据已损坏："},
        {"LZMA dictionary of 1 GiB", 14, greedyLzma, text, "成员m的 LZMA 字典大于 256 MiB"},
        {"xz dictionary of 2 GiB", 95, greedyXz, text, "成员m解压时需要超过 256 MiB 的内存"},
        {"zstd window of 1 GiB", 93, greedyZstd, "abc", "成员m的 zstd 窗口大于 256 MiB"},
        {"no codec: PPMd", 98, "x", text, "成员m使用的压缩方法 PPMd（编号 98）不受支持"},
        {"no codec: Implode", 6, "x", text, "成员m使用的压缩方法 Implode（编号 6）不受支持"},
        {"no codec: Shrink", 1, "x", text, "成员m使用的压缩方法 Shrink（编号 1）不受支持"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Raw m = M("m", c.content, c.method);
        m.packed = c.packed;
        TempDir dir;
        WriteFile(dir / "h.zip", BuildZip({m}));
        const std::string message = ErrorOf([&] { ZipArchive::ExtractZipFile(dir / "h.zip", dir / "out", {}); });
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
        EXPECT_FALSE(std::filesystem::exists(dir / "out/m"));
    }
}

// Archives in the shapes other writers leave: data in front of the archive,
// a member count that wrapped, folders marked only by their DOS attribute,
// names carried in a Unicode Path field, disk numbers of 0xFFFF.
TEST(ZipShapes, PeerArchivesOfEveryShapeExtractAs7zDoes)
{
    if (!HaveTool("7z") || !HaveTool("zip"))
        GTEST_SKIP() << "7z or zip is not installed";
    TempDir dir;
    MakeMethodTree(dir / "src");
    std::string out;
    ASSERT_EQ(Shell("cd " + Quote(dir / "src") + " && zip -q -r ../plain.zip . && zip -q -fz -r ../z64.zip .", &out), 0)
        << out;
    const std::string stub = "#!/bin/sh\necho a self-extracting stub\nexit 0\n" + Pseudorandom(5000, 2);

    std::vector<Raw> many;
    for (int i = 0; i < 70000; ++i)
        many.push_back(M("m/" + std::to_string(i), std::to_string(i)));
    Raw dosFolder = M("dosfolder", "");
    dosFolder.madeBy = 0x0014;
    dosFolder.external = 0x10;
    Raw inDosFolder = M("dosfolder/f.txt", "in a folder marked by its attribute");
    inDosFolder.madeBy = 0x0014;
    // A legacy name whose local header holds other bytes; both headers carry
    // the Unicode Path field that names it.
    const std::string unicodeName = "名字.txt";
    std::string unicodePath = "\x75\x70";
    P16(unicodePath, 5 + static_cast<std::uint32_t>(unicodeName.size()));
    unicodePath += '\x01';
    P32(unicodePath, Crc("legacy.txt"));
    unicodePath += unicodeName;
    Raw unicode = M("legacy.txt", "named by its Unicode Path field");
    unicode.flags = 0;
    unicode.madeBy = 0x0014;
    unicode.centralExtra = unicodePath;
    unicode.localName = "legacy.txt";
    unicode.localExtra = unicodePath;
    const std::string structure = BuildZip({M("a.txt", "disk numbers of 0xFFFF"), dosFolder, inDosFolder, unicode});

    const std::vector<std::pair<std::string, std::string>> archives = {
        {"stub in front", stub + ReadFile(dir / "plain.zip")},
        {"stub in front of Zip64", stub + ReadFile(dir / "z64.zip")},
        {"70,000 members, count wrapped", BuildZip(many)},
        {"DOS folder, Unicode Path", structure},
    };
    for (const auto& [label, bytes] : archives) {
        SCOPED_TRACE(label);
        WriteFile(dir / "a.zip", bytes);
        ExpectSameAs7z(dir / "a.zip", dir);
    }
    EXPECT_EQ(ReadFile(dir / "ours/名字.txt"), "named by its Unicode Path field");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "ours/dosfolder"));

    // 7-Zip takes disk numbers of 0xFFFF for a missing volume; unzip and
    // Python read them as 0, and so do we.
    std::string diskFields = structure;
    for (const std::size_t at : {diskFields.size() - 18, diskFields.size() - 16})
        diskFields[at] = diskFields[at + 1] = '\xff';
    WriteFile(dir / "d.zip", diskFields);
    ZipArchive::ExtractZipFile(dir / "d.zip", dir / "disk", {});
    EXPECT_EQ(Tree(dir / "disk"), Tree(dir / "ours"));
    EXPECT_EQ(ReadFile(dir / "disk/名字.txt"), "named by its Unicode Path field");
}

// Empty folders survive our archive, and unzip and 7z make them too; a tree
// without one gets no folder entries at all.
TEST(ZipShapes, EmptyFoldersRoundTripThroughUsUnzipAnd7z)
{
    if (!HaveTool("7z") || !HaveTool("unzip"))
        GTEST_SKIP() << "7z or unzip is not installed";
    TempDir dir;
    WriteFile(dir / "src/a/file.txt", "a");
    std::filesystem::create_directories(dir / "src/a/empty");
    std::filesystem::create_directories(dir / "src/b/c/d");
    std::filesystem::create_directories(dir / "src/fifo only");
    ASSERT_EQ(mkfifo((dir / "src/fifo only/pipe").c_str(), 0600), 0);
    ZipArchive::ZipDirectoryContents(dir / "e.zip", dir / "src", ZipMethod::Deflate, {});
    const std::vector<std::string> expected = {"a/", "a/empty/", "a/file.txt", "b/", "b/c/", "b/c/d/", "fifo only/"};
    ZipArchive::ExtractZipFile(dir / "e.zip", dir / "ours", {});
    EXPECT_EQ(Tree(dir / "ours"), expected);
    std::string out;
    ASSERT_EQ(Shell("unzip -q " + Quote(dir / "e.zip") + " -d " + Quote(dir / "unzip"), &out), 0) << out;
    EXPECT_EQ(Tree(dir / "unzip"), expected);
    ASSERT_EQ(Shell("7z x -bd -o" + Quote(dir / "7z") + " " + Quote(dir / "e.zip"), &out), 0) << out;
    EXPECT_EQ(Tree(dir / "7z"), expected);

    std::filesystem::remove_all(dir / "src/a/empty");
    std::filesystem::remove_all(dir / "src/b");
    std::filesystem::remove_all(dir / "src/fifo only");
    ZipArchive::ZipDirectoryContents(dir / "f.zip", dir / "src", ZipMethod::Deflate, {});
    ZipArchive a;
    a.Open(dir / "f.zip", ZipMode::Read);
    ASSERT_EQ(a.Headers().size(), 1u);
    EXPECT_EQ(a.Headers()[0].Name, "a/file.txt");
}

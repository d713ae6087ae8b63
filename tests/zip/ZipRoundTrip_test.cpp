// Archives we write, read back by us: names, contents, times, progress,
// folders, replacing, and the Zip64 paths.

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <map>

#include "ZipArchive.h"
#include "ZipTestUtil.h"

using namespace ziptest;

namespace {

void SetMtime(const std::string& path, std::time_t when)
{
    const struct timeval tv[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimes(path.c_str(), tv), 0);
}

std::vector<std::string> Names(const std::string& archivePath)
{
    ZipArchive a;
    a.Open(archivePath, ZipMode::Read);
    std::vector<std::string> names;
    for (const ZipHeader& h : a.Headers())
        names.push_back(h.Name);
    return names;
}

}  // namespace

TEST(ZipRoundTrip, FolderContentsKeepNamesContentsAndTimes)
{
    TempDir src, out;
    const std::string binary = Pseudorandom(300000, 7);
    WriteFile(src / "x.txt", "hello\n");
    WriteFile(src / "s/y.txt", "nested\n");
    WriteFile(src / "s/deeper/bin.dat", binary);
    WriteFile(src / "empty.txt", "");
    WriteFile(src / "中文目录/文件名.txt", "中文内容");
    WriteFile(src / ".hidden", "h");
    std::filesystem::create_directories(src / "emptyfolder");
    SetMtime(src / "x.txt", 1600000000);

    const std::string zip = out / "a.zip";
    ZipArchive::ZipDirectoryContents(zip, src.Path(), ZipMethod::Deflate, {});
    // Files of the top folder first, then each subfolder's, as the folder walk
    // lists them; then an entry for the folder that holds nothing.
    EXPECT_EQ(Names(zip), (std::vector<std::string>{".hidden", "empty.txt", "x.txt", "s/y.txt", "s/deeper/bin.dat",
                                                    "中文目录/文件名.txt", "emptyfolder/"}));

    TempDir target;
    ZipArchive::ExtractZipFile(zip, target.Path(), {});
    EXPECT_EQ(Tree(target.Path()), (std::vector<std::string>{".hidden", "empty.txt", "emptyfolder/", "s/", "s/deeper/",
                                                             "s/deeper/bin.dat", "s/y.txt", "x.txt", "中文目录/",
                                                             "中文目录/文件名.txt"}));
    EXPECT_EQ(ReadFile(target / "s/deeper/bin.dat"), binary);
    EXPECT_EQ(ReadFile(target / "中文目录/文件名.txt"), "中文内容");
    EXPECT_EQ(ReadFile(target / "empty.txt"), "");
    struct stat st{};
    ASSERT_EQ(stat((target / "x.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1600000000);

    ZipArchive a;
    a.Open(zip, ZipMode::Read);
    for (const ZipHeader& h : a.Headers())
        EXPECT_TRUE(h.Flags & 0x0800) << h.Name;
}

TEST(ZipRoundTrip, StoredAndDeflateMembersAndBareNames)
{
    TempDir dir;
    const std::string text(200000, 'a');
    WriteFile(dir / "in/one.txt", text);
    WriteFile(dir / "in/two.bin", Pseudorandom(5000, 3));
    {
        ZipArchive a;
        a.Open(dir / "m.zip", ZipMode::Write);
        a.Add(dir / "in/one.txt");  // empty member name: the bare file name
        a.Add(dir / "in/two.bin", "sub/named.bin", ZipMethod::Stored);
        a.Close();
    }
    ZipArchive r;
    r.Open(dir / "m.zip", ZipMode::Read);
    const auto h = r.Headers();
    ASSERT_EQ(h.size(), 2u);
    EXPECT_EQ(h[0].Name, "one.txt");
    EXPECT_EQ(h[0].Method, 8);
    EXPECT_LT(h[0].CompressedSize, 2000u);
    EXPECT_EQ(h[1].Name, "sub/named.bin");
    EXPECT_EQ(h[1].Method, 0);
    EXPECT_EQ(h[1].CompressedSize, 5000u);
    r.ExtractAll(dir / "out");
    EXPECT_EQ(ReadFile(dir / "out/one.txt"), text);
    EXPECT_EQ(ReadFile(dir / "out/sub/named.bin"), Pseudorandom(5000, 3));
}

TEST(ZipRoundTrip, EmptyArchiveIsValidAndExtractsNothing)
{
    TempDir dir;
    ZipArchive a;
    a.Open(dir / "e.zip", ZipMode::Write);
    a.Close();
    EXPECT_EQ(ReadFile(dir / "e.zip").size(), 22u);
    ZipArchive::ExtractZipFile(dir / "e.zip", dir / "out", {});
    EXPECT_TRUE(Tree(dir / "out").empty());
}

TEST(ZipRoundTrip, ProgressReportsFullPathsSizesAndGrowingPositions)
{
    TempDir dir;
    const std::string big = Pseudorandom(5 << 20, 11);
    WriteFile(dir / "src/big.bin", big);
    WriteFile(dir / "src/small.txt", "abc");
    std::vector<std::tuple<std::string, std::uint64_t, std::int64_t>> calls;
    auto record = [&](ZipArchive* sender, const std::string& file, const ZipHeader& h, std::int64_t pos) {
        EXPECT_NE(sender, nullptr);
        calls.emplace_back(file, h.UncompressedSize, pos);
    };
    ZipArchive::ZipDirectoryContents(dir / "p.zip", dir / "src", ZipMethod::Deflate, record);
    std::map<std::string, std::vector<std::int64_t>> positions;
    for (const auto& [file, size, pos] : calls) {
        EXPECT_EQ(size, file == dir / "src/big.bin" ? big.size() : 3u) << file;
        positions[file].push_back(pos);
    }
    ASSERT_EQ(positions.size(), 2u);
    const auto& bigPos = positions[dir / "src/big.bin"];
    EXPECT_GE(bigPos.size(), 3u);  // several reports for a large member
    EXPECT_TRUE(std::is_sorted(bigPos.begin(), bigPos.end()));
    EXPECT_EQ(bigPos.back(), static_cast<std::int64_t>(big.size()));

    calls.clear();
    ZipArchive::ExtractZipFile(dir / "p.zip", dir / "out", record);
    positions.clear();
    for (const auto& [file, size, pos] : calls)
        positions[file].push_back(pos);
    ASSERT_EQ(positions.size(), 2u);
    const auto& outPos = positions[dir / "out/big.bin"];
    EXPECT_GE(outPos.size(), 3u);
    EXPECT_EQ(outPos.front(), 0);
    EXPECT_EQ(outPos.back(), static_cast<std::int64_t>(big.size()));
    EXPECT_EQ(positions[dir / "out/small.txt"].back(), 3);
}

TEST(ZipRoundTrip, ArchiveInsideTheFolderNeverHoldsItself)
{
    TempDir dir;
    WriteFile(dir / "a.txt", "a");
    WriteFile(dir / "self.zip", "an earlier archive of that name");
    ZipArchive::ZipDirectoryContents(dir / "self.zip", dir.Path(), ZipMethod::Deflate, {});
    EXPECT_EQ(Names(dir / "self.zip"), std::vector<std::string>{"a.txt"});
    // Again, now that a real archive of that name lies in the folder.
    ZipArchive::ZipDirectoryContents(dir / "self.zip", dir.Path() + "/", ZipMethod::Deflate, {});
    EXPECT_EQ(Names(dir / "self.zip"), std::vector<std::string>{"a.txt"});
}

TEST(ZipRoundTrip, AddingTheArchivesOwnPathStoresItsEarlierContent)
{
    TempDir dir;
    WriteFile(dir / "list.zip", "the user's file that happens to carry the archive's name");
    ZipArchive a;
    a.Open(dir / "list.zip", ZipMode::Write);
    a.Add(dir / "list.zip");
    a.Close();
    ZipArchive::ExtractZipFile(dir / "list.zip", dir / "out", {});
    EXPECT_EQ(ReadFile(dir / "out/list.zip"), "the user's file that happens to carry the archive's name");
}

TEST(ZipRoundTrip, FolderMembersAndReplacingEarlierFiles)
{
    TempDir dir;
    WriteFile(dir / "z.zip", BuildZip({M("dir/", ""), M("dir/f.txt", "new"), M("top.txt", "top", 8)}));
    WriteFile(dir / "out/dir/f.txt", "old content that is longer");
    ZipArchive::ExtractZipFile(dir / "z.zip", dir / "out", {});
    ZipArchive::ExtractZipFile(dir / "z.zip", dir / "out", {});
    EXPECT_EQ(Tree(dir / "out"), (std::vector<std::string>{"dir/", "dir/f.txt", "top.txt"}));
    EXPECT_EQ(ReadFile(dir / "out/dir/f.txt"), "new");
    // An empty member flagged deflate with no data bytes at all.
    std::string empty = BuildZip({M("zero.txt", "")});
    empty[8] = 8;
    empty[FindOrFail(empty, std::string("PK\x01\x02", 4)) + 10] = 8;
    WriteFile(dir / "zero.zip", empty);
    ZipArchive::ExtractZipFile(dir / "zero.zip", dir / "out", {});
    EXPECT_EQ(ReadFile(dir / "out/zero.txt"), "");
    // Only a folder member: the folder is made, no file.
    WriteFile(dir / "d.zip", BuildZip({M("only/", "")}));
    ZipArchive::ExtractZipFile(dir / "d.zip", dir / "out2", {});
    EXPECT_EQ(Tree(dir / "out2"), std::vector<std::string>{"only/"});
}

TEST(ZipRoundTrip, DuplicateMemberNameIsRefusedWhenAdding)
{
    TempDir dir;
    WriteFile(dir / "a/readme.txt", "1");
    WriteFile(dir / "b/readme.txt", "2");
    ZipArchive a;
    a.Open(dir / "dup.zip", ZipMode::Write);
    a.Add(dir / "a/readme.txt");
    EXPECT_THROW(a.Add(dir / "b/readme.txt"), ZipError);
    a.Close();
    EXPECT_EQ(Names(dir / "dup.zip"), std::vector<std::string>{"readme.txt"});
}

TEST(ZipRoundTrip, ForcedZip64FieldsReadBack)
{
    TempDir dir;
    WriteFile(dir / "a.txt", std::string(100000, 'q'));
    WriteFile(dir / "b.bin", Pseudorandom(777, 1));
    ZipArchive a;
    a.SetForceZip64(true);
    a.Open(dir / "z64.zip", ZipMode::Write);
    a.Add(dir / "a.txt");
    a.Add(dir / "b.bin", {}, ZipMethod::Stored);
    a.Close();
    ZipArchive::ExtractZipFile(dir / "z64.zip", dir / "out", {});
    EXPECT_EQ(ReadFile(dir / "out/a.txt"), std::string(100000, 'q'));
    EXPECT_EQ(ReadFile(dir / "out/b.bin"), Pseudorandom(777, 1));
    const std::string bytes = ReadFile(dir / "z64.zip");
    EXPECT_NE(bytes.find(std::string("PK\x06\x06", 4)), std::string::npos);
}

TEST(ZipRoundTrip, MoreThan65535MembersUseZip64EndRecords)
{
    TempDir dir;
    WriteFile(dir / "f", "x");
    const int count = 70000;
    {
        ZipArchive a;
        a.Open(dir / "many.zip", ZipMode::Write);
        for (int i = 0; i < count; ++i)
            a.Add(dir / "f", "m" + std::to_string(i), ZipMethod::Stored);
        a.Close();
    }
    ZipArchive r;
    r.Open(dir / "many.zip", ZipMode::Read);
    const auto headers = r.Headers();
    ASSERT_EQ(headers.size(), static_cast<std::size_t>(count));
    EXPECT_EQ(headers.back().Name, "m69999");
    r.TestAll();
    if (HaveTool("python3")) {
        std::string out;
        EXPECT_EQ(Shell("python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); print(len(z.namelist()), "
                      "z.testzip())\" " + Quote(dir / "many.zip"), &out), 0);
        EXPECT_EQ(out, "70000 None\n");
    }
}

// A sparse source of 4 GiB + 1 byte: read as zeros without using disk, so the
// real 64-bit size paths are taken. The headers are checked by us and by
// Python; inflating 4 GiB again would add nothing the small cases don't cover.
TEST(ZipRoundTrip, MemberOfMoreThan4GiBFromSparseFile)
{
    TempDir dir;
    const std::string sparse = dir / "huge.bin";
    const std::uint64_t size = (1ull << 32) + 1;
    {
        FILE* f = fopen(sparse.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(ftruncate(fileno(f), static_cast<off_t>(size)), 0);
        fclose(f);
    }
    ZipArchive a;
    a.Open(dir / "huge.zip", ZipMode::Write);
    a.Add(sparse);
    a.Close();
    // CRC-32 of 2^32 + 1 zero bytes, from the CRC of 1 MiB of zeros.
    const std::string zeros(1 << 20, '\0');
    const uLong mib = crc32(0L, reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uInt>(zeros.size()));
    uLong crc = mib;
    for (int i = 1; i < 4096; ++i)
        crc = crc32_combine(crc, mib, 1 << 20);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(zeros.data()), 1);

    ZipArchive r;
    r.Open(dir / "huge.zip", ZipMode::Read);
    ASSERT_EQ(r.Headers().size(), 1u);
    EXPECT_EQ(r.Headers()[0].UncompressedSize, size);
    EXPECT_EQ(r.Headers()[0].Crc32, crc);
    if (HaveTool("python3")) {
        std::string out;
        EXPECT_EQ(Shell("python3 -c \"import zipfile,sys; i=zipfile.ZipFile(sys.argv[1]).infolist()[0]; "
                        "print(i.file_size, i.CRC)\" " + Quote(dir / "huge.zip"), &out), 0);
        EXPECT_EQ(out, std::to_string(size) + " " + std::to_string(crc) + "\n");
    }
}

// Encrypted, the same member gets Zip64 sizes that count the salt, verifier
// and code; Python reads them. (Codes over streams of many chunks are checked
// by the peers on smaller members.)
TEST(ZipRoundTrip, EncryptedMemberOfMoreThan4GiBFromSparseFile)
{
    if (!HaveTool("python3"))
        GTEST_SKIP() << "python3 is not installed";
    TempDir dir;
    const std::string sparse = dir / "huge.bin";
    ASSERT_EQ(truncate((WriteFile(sparse, ""), sparse.c_str()), static_cast<off_t>((1ull << 32) + 1)), 0);
    ZipArchive a;
    a.SetPassword("pw");
    a.Open(dir / "huge.zip", ZipMode::Write);
    a.Add(sparse);
    a.Close();
    std::string out;
    EXPECT_EQ(Shell("python3 -c \"import zipfile,sys; i=zipfile.ZipFile(sys.argv[1]).infolist()[0]; "
                    "print(i.file_size, i.flag_bits & 1, i.compress_type, i.header_offset, i.compress_size)\" " +
                    Quote(dir / "huge.zip"), &out), 0) << out;
    std::istringstream fields(out);
    std::uint64_t usize = 0, encrypted = 0, method = 0, offset = 0, csize = 0;
    fields >> usize >> encrypted >> method >> offset >> csize;
    EXPECT_EQ(usize, (1ull << 32) + 1);
    EXPECT_EQ(encrypted, 1u);
    EXPECT_EQ(method, 99u);
    // The member's data runs up to the central directory: its size counts everything.
    const std::string zip = ReadFile(dir / "huge.zip");
    EXPECT_EQ(zip.find("PK\x01\x02"), offset + 30 + G16(zip, offset + 26) + G16(zip, offset + 28) + csize);
}

// Random-looking chunks are stored inside the deflate stream; random data
// that repeats within the window must still be compressed.
TEST(ZipRoundTrip, IncompressibleChunksStoredRepeatedRandomStillCompressed)
{
    TempDir dir;
    const std::string random = Pseudorandom(1 << 20, 21);
    std::string repeated;
    for (int i = 0; i < 22; ++i)  // near-uniform bytes, yet every 24 KiB repeats
        repeated += Pseudorandom(24 * 1024, 22);
    WriteFile(dir / "src/random.bin", random);
    WriteFile(dir / "src/repeated.bin", repeated);
    ZipArchive::ZipDirectoryContents(dir / "r.zip", dir / "src", ZipMethod::Deflate, {});
    ZipArchive r;
    r.Open(dir / "r.zip", ZipMode::Read);
    for (const ZipHeader& h : r.Headers()) {
        if (h.Name == "random.bin")
            EXPECT_LT(h.CompressedSize, random.size() + random.size() / 1000);
        else
            EXPECT_LT(h.CompressedSize, repeated.size() / 10);
    }
    r.ExtractAll(dir / "out");
    EXPECT_EQ(ReadFile(dir / "out/random.bin"), random);
    EXPECT_EQ(ReadFile(dir / "out/repeated.bin"), repeated);
    if (HaveTool("unzip")) {
        EXPECT_EQ(Shell("unzip -tq " + Quote(dir / "r.zip")), 0);
    }
}

// A FIFO is never opened (that would wait for a writer forever), nor a link
// that leaves the folder or leads nowhere: compression leaves each out and
// names it, and the reader refuses a FIFO as no archive. A link inside the
// folder is the file it points to.
TEST(ZipRoundTrip, FifosAndLinksTheFolderCantVouchForAreLeftOutAndNeverOpened)
{
    TempDir dir;
    WriteFile(dir / "src/a.txt", "a");
    WriteFile(dir / "secret", "secret");
    ASSERT_EQ(mkfifo((dir / "src/pipe").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((dir / "x.zip").c_str(), 0600), 0);
    ASSERT_EQ(symlink("nowhere", (dir / "src/dead").c_str()), 0);
    ASSERT_EQ(symlink("a.txt", (dir / "src/inside").c_str()), 0);
    ASSERT_EQ(symlink((dir / "secret").c_str(), (dir / "src/out").c_str()), 0);
    std::vector<std::pair<std::string, reach::Skip>> skipped;
    ZipArchive::ZipDirectoryContents(dir / "f.zip", dir / "src", ZipMethod::Deflate, {},
                                     [&](const std::string& path, reach::Skip why) { skipped.emplace_back(path, why); });
    EXPECT_EQ(skipped, (std::vector<std::pair<std::string, reach::Skip>>{{dir / "src/dead", reach::Skip::DanglingLink},
                                                                          {dir / "src/out", reach::Skip::OutsideLink},
                                                                          {dir / "src/pipe", reach::Skip::Special}}));
    ZipArchive reader;
    reader.Open(dir / "f.zip", ZipMode::Read);
    ASSERT_EQ(reader.Headers().size(), 2u);
    EXPECT_EQ(reader.Headers()[0].Name, "a.txt");
    EXPECT_EQ(reader.Headers()[1].Name, "inside");
    EXPECT_THROW(reader.Open(dir / "x.zip", ZipMode::Read), ZipError);
    ZipArchive writer;
    writer.Open(dir / "g.zip", ZipMode::Write);
    EXPECT_THROW(writer.Add(dir / "src/pipe"), ZipError);
}

// A file that grows while it is compressed is taken at the size it had when
// it was opened; reading on past it once went one byte per chunk.
TEST(ZipRoundTrip, AGrowingFileIsTakenAtItsFirstSize)
{
    TempDir dir;
    const std::string first = Pseudorandom(16 << 20, 3);
    WriteFile(dir / "src/grows.bin", first);
    bool grown = false;
    ZipArchive::ZipDirectoryContents(dir / "g.zip", dir / "src", ZipMethod::Deflate,
                                     [&](ZipArchive*, const std::string& file, const ZipHeader&, std::int64_t) {
                                         if (!grown)
                                             std::ofstream(file, std::ios::app) << std::string(4096, 'g');
                                         grown = true;
                                     });
    ASSERT_TRUE(grown);
    ZipArchive::ExtractZipFile(dir / "g.zip", dir / "out", {});
    EXPECT_TRUE(ReadFile(dir / "out/grows.bin") == first);
}

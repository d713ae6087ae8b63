// Interoperability with tools nobody here wrote: Info-ZIP zip/unzip, 7-Zip,
// bsdtar and Python's zipfile read what we write, and we read what they write.
// A test whose tool is missing is skipped with a message.

#include <sys/stat.h>
#include <sys/time.h>

#include <ctime>
#include <set>

#include "ZipArchive.h"
#include "ZipTestUtil.h"

using namespace ziptest;

namespace {

#define REQUIRE_TOOL(name)                                       \
    if (!HaveTool(name))                                         \
    GTEST_SKIP() << name << " is not installed; peer test skipped"

const std::string kUtf8 = "LC_ALL=C.UTF-8 ";

// A small tree with Chinese names, nesting, binary and empty files, files
// below and above 1 MiB; x.txt has a known even-second time.
void MakeTree(const std::string& root)
{
    WriteFile(root + "/x.txt", "hello peers\n");
    WriteFile(root + "/中文目录/文件名.txt", "中文内容\n");
    WriteFile(root + "/sub/deep/random.bin", Pseudorandom(400000, 5));
    WriteFile(root + "/sub/empty.txt", "");
    std::string text;  // compressible and over several compression chunks
    for (int i = 0; i < 40000; ++i)
        text += "line " + std::to_string(i * 7919 % 100003) + " of the text\n";
    WriteFile(root + "/sub/text.txt", text);
    // Large enough to be compressed and inflated as a stream rather than whole.
    WriteFile(root + "/sub/long.txt", text + text);
    const struct timeval tv[2] = {{1577880000, 0}, {1577880000, 0}};  // 2020-01-01 12:00:00 UTC
    utimes((root + "/x.txt").c_str(), tv);
}

const std::vector<std::string> kTreeNames = {"x.txt", "中文目录/文件名.txt", "sub/deep/random.bin", "sub/empty.txt",
                                             "sub/text.txt", "sub/long.txt"};

void ExpectSameTree(const std::string& source, const std::string& extracted)
{
    EXPECT_EQ(Tree(extracted), Tree(source));
    for (const std::string& name : kTreeNames)
        EXPECT_EQ(ReadFile(extracted + "/" + name), ReadFile(source + "/" + name)) << name;
}

std::string OurArchive(const TempDir& dir, bool forceZip64 = false, const std::string& password = {})
{
    MakeTree(dir / "src");
    const std::string zip = dir / "ours.zip";
    if (!forceZip64) {
        ZipArchive::ZipDirectoryContents(zip, dir / "src", ZipMethod::Deflate, {}, {}, {}, password);
    } else {
        ZipArchive a;
        a.SetForceZip64(true);
        a.SetPassword(password);
        a.Open(zip, ZipMode::Write);
        for (const std::string& name : kTreeNames)
            a.Add(dir / ("src/" + name), name, name == "sub/text.txt" ? ZipMethod::Stored : ZipMethod::Deflate);
        a.Close();
    }
    return zip;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t nl = text.find('\n', start);
        lines.push_back(text.substr(start, nl - start));
        start = nl == std::string::npos ? text.size() : nl + 1;
    }
    return lines;
}

std::vector<std::string> Sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

}  // namespace

TEST(ZipInteropOurs, InfoZipUnzipTestsAndExtractsIt)
{
    REQUIRE_TOOL("unzip");
    for (const bool zip64 : {false, true}) {
        TempDir dir;
        const std::string zip = OurArchive(dir, zip64);
        std::string out;
        EXPECT_EQ(Shell(kUtf8 + "unzip -t " + Quote(zip), &out), 0) << out;
        EXPECT_EQ(Shell(kUtf8 + "unzip -q " + Quote(zip) + " -d " + Quote(dir / "un"), &out), 0) << out;
        ExpectSameTree(dir / "src", dir / "un");
    }
}

TEST(ZipInteropOurs, SevenZipTestsIt)
{
    REQUIRE_TOOL("7z");
    for (const bool zip64 : {false, true}) {
        TempDir dir;
        const std::string zip = OurArchive(dir, zip64);
        std::string out;
        EXPECT_EQ(Shell("7z t " + Quote(zip), &out), 0) << out;
        EXPECT_EQ(Shell(kUtf8 + "7z x -y -o" + Quote(dir / "7") + " " + Quote(zip), &out), 0) << out;
        ExpectSameTree(dir / "src", dir / "7");
    }
}

TEST(ZipInteropOurs, BsdtarListsTheRightNames)
{
    REQUIRE_TOOL("bsdtar");
    for (const bool zip64 : {false, true}) {
        TempDir dir;
        const std::string zip = OurArchive(dir, zip64);
        std::string out;
        EXPECT_EQ(Shell(kUtf8 + "bsdtar -tf " + Quote(zip), &out), 0) << out;
        EXPECT_EQ(Sorted(Lines(out)), Sorted(kTreeNames));
        EXPECT_EQ(Shell(kUtf8 + "mkdir -p " + Quote(dir / "bt") + " && bsdtar -xf " + Quote(zip) + " -C " +
                        Quote(dir / "bt"), &out), 0) << out;
        ExpectSameTree(dir / "src", dir / "bt");
    }
}

// Encrypted archives: every member, the empty one included, carries the
// encryption flag and the AES field in both headers and a salt of its own,
// and 7-Zip and bsdtar extract it with the password and only with it.
TEST(ZipInteropOurs, EncryptedArchivesOpenWithThePasswordOnly)
{
    REQUIRE_TOOL("7z");
    REQUIRE_TOOL("bsdtar");
    const std::string password = "pass word!";
    for (const bool zip64 : {false, true}) {
        TempDir dir;
        const std::string zip = OurArchive(dir, zip64, password);
        std::string out;
        EXPECT_NE(Shell("7z t -pwrong " + Quote(zip), &out), 0) << out;
        EXPECT_EQ(Shell(kUtf8 + "7z x -y -p" + Quote(password) + " -o" + Quote(dir / "7") + " " + Quote(zip), &out),
                  0) << out;
        ExpectSameTree(dir / "src", dir / "7");
        EXPECT_EQ(Shell(kUtf8 + "mkdir -p " + Quote(dir / "bt") + " && bsdtar -xf " + Quote(zip) + " --passphrase " +
                        Quote(password) + " -C " + Quote(dir / "bt"), &out), 0) << out;
        ExpectSameTree(dir / "src", dir / "bt");
        if (zip64)
            continue;  // the parser below reads 32-bit sizes only
        std::set<std::string> salts;
        for (const Parsed& m : ParseZip(ReadFile(zip))) {
            EXPECT_TRUE((m.localFlags & 1) && (m.flags & 1)) << m.name;
            EXPECT_EQ(m.method, 99u) << m.name;
            EXPECT_EQ(m.crc, 0u) << m.name;
            const std::string aes = std::string("\x02\x00" "AE" "\x03\x08\x00", 7);
            EXPECT_EQ(ExtraField(m.localExtra, 0x9901), aes) << m.name;
            EXPECT_EQ(ExtraField(m.centralExtra, 0x9901), aes) << m.name;
            salts.insert(m.data.substr(0, 16));
        }
        EXPECT_EQ(salts.size(), kTreeNames.size());
    }
}

TEST(ZipInteropOurs, PythonZipfileTestsNamesContentsAndDates)
{
    REQUIRE_TOOL("python3");
    for (const bool zip64 : {false, true}) {
        TempDir dir;
        const std::string zip = OurArchive(dir, zip64);
        std::string out;
        const std::string script =
            "import zipfile,sys\n"
            "z=zipfile.ZipFile(sys.argv[1])\n"
            "print(z.testzip())\n"
            "print(sorted(z.namelist())==sorted(sys.argv[2:]))\n"
            "print(z.read('中文目录/文件名.txt').decode())\n"
            "print(z.getinfo('x.txt').date_time)\n";
        WriteFile(dir / "check.py", script);
        std::string args;
        for (const std::string& n : kTreeNames)
            args += " " + Quote(n);
        EXPECT_EQ(Shell(kUtf8 + "python3 " + Quote(dir / "check.py") + " " + Quote(zip) + args, &out), 0) << out;
        std::tm local{};
        const std::time_t t = 1577880000;
        localtime_r(&t, &local);
        char date[64];
        std::snprintf(date, sizeof date, "(%d, %d, %d, %d, %d, %d)", local.tm_year + 1900, local.tm_mon + 1,
                      local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
        EXPECT_EQ(out, std::string("None\nTrue\n中文内容\n\n") + date + "\n");
    }
}

// Archives the peers write, in each of their forms, extract correctly with us.
TEST(ZipInteropTheirs, InfoZipArchivesInEveryForm)
{
    REQUIRE_TOOL("zip");
    TempDir dir;
    MakeTree(dir / "src");
    const std::string cd = "cd " + Quote(dir / "src") + " && " + kUtf8;
    const std::vector<std::pair<std::string, std::string>> forms = {
        {"deflate", "zip -q -r ../a.zip ."},
        {"stored", "zip -q -0 -r ../a.zip ."},
        {"descriptors", "zip -q -fd -r ../a.zip ."},
        {"zip64", "zip -q -fz -r ../a.zip ."},
        {"streamed", "find . -type f | sort | zip -q - -@ | cat > ../a.zip"},
        {"streamed stdin data", "cat sub/text.txt | zip -q - - | cat > ../a.zip"},
    };
    for (const auto& [form, command] : forms) {
        SCOPED_TRACE(form);
        std::filesystem::remove(dir / "a.zip");
        std::filesystem::remove_all(dir / "out");
        std::string out;
        ASSERT_EQ(Shell(cd + command, &out), 0) << out;
        ZipArchive::ExtractZipFile(dir / "a.zip", dir / "out", {});
        if (form == "streamed stdin data") {
            EXPECT_EQ(ReadFile(dir / "out/-"), ReadFile(dir / "src/sub/text.txt"));
            continue;
        }
        ExpectSameTree(dir / "src", dir / "out");
        struct stat st{};
        ASSERT_EQ(stat((dir / "out/x.txt").c_str(), &st), 0);
        EXPECT_EQ(st.st_mtime, 1577880000);
    }
}

TEST(ZipInteropTheirs, SevenZipAndBsdtarArchives)
{
    TempDir dir;
    MakeTree(dir / "src");
    const std::string cd = "cd " + Quote(dir / "src") + " && " + kUtf8;
    std::vector<std::pair<std::string, std::string>> forms;
    if (HaveTool("7z")) {
        forms.push_back({"7z deflate", "7z a -tzip -bd ../a.zip . >/dev/null"});
        forms.push_back({"7z stored", "7z a -tzip -mx=0 -bd ../a.zip . >/dev/null"});
    }
    if (HaveTool("bsdtar")) {
        forms.push_back({"bsdtar", "bsdtar --format zip -cf ../a.zip ."});
        forms.push_back({"bsdtar stored", "bsdtar --format zip --options zip:compression=store -cf ../a.zip ."});
        forms.push_back({"bsdtar streamed", "bsdtar --format zip -cf - . | cat > ../a.zip"});
    }
    if (forms.empty())
        GTEST_SKIP() << "neither 7z nor bsdtar is installed";
    for (const auto& [form, command] : forms) {
        SCOPED_TRACE(form);
        std::filesystem::remove(dir / "a.zip");
        std::filesystem::remove_all(dir / "out");
        std::string out;
        ASSERT_EQ(Shell(cd + command, &out), 0) << out;
        ZipArchive::ExtractZipFile(dir / "a.zip", dir / "out", {});
        ExpectSameTree(dir / "src", dir / "out");
    }
}

TEST(ZipInteropTheirs, PythonArchivesSeekableAndStreamed)
{
    REQUIRE_TOOL("python3");
    TempDir dir;
    MakeTree(dir / "src");
    // The streamed form writes to a pipe, so every member gets a data descriptor.
    const std::string script =
        "import zipfile,sys,os\n"
        "src,mode=sys.argv[1],sys.argv[2]\n"
        "out=sys.stdout.buffer if mode=='stream' else open(sys.argv[3],'wb')\n"
        "with zipfile.ZipFile(out,'w',zipfile.ZIP_STORED if mode=='stored' else zipfile.ZIP_DEFLATED) as z:\n"
        "  for root,dirs,files in os.walk(src):\n"
        "    for f in files:\n"
        "      p=os.path.join(root,f)\n"
        "      with open(p,'rb') as i, z.open(os.path.relpath(p,src),'w') as o: o.write(i.read())\n";
    WriteFile(dir / "w.py", script);
    for (const std::string mode : {"deflate", "stored", "stream"}) {
        SCOPED_TRACE(mode);
        std::filesystem::remove(dir / "a.zip");
        std::filesystem::remove_all(dir / "out");
        std::string out;
        const std::string tail = mode == "stream" ? " | cat > " + Quote(dir / "a.zip") : " " + Quote(dir / "a.zip");
        ASSERT_EQ(Shell(kUtf8 + "python3 " + Quote(dir / "w.py") + " " + Quote(dir / "src") + " " + mode + tail, &out), 0)
            << out;
        ZipArchive::ExtractZipFile(dir / "a.zip", dir / "out", {});
        ExpectSameTree(dir / "src", dir / "out");
    }
}

// Names from other systems: the Unicode Path field when its CRC matches,
// UTF-8 without the flag, and legacy GBK bytes whose trail byte is "\".
TEST(ZipInteropNames, UnicodePathUtf8AndLegacyCodePage)
{
    TempDir dir;
    // A Chinese locale: names without the UTF-8 flag are read as GBK (code page 936).
    const char* before = getenv("LC_ALL");
    const std::string saved = before ? before : "";
    setenv("LC_ALL", "zh_CN.UTF-8", 1);
    const std::string gbk = "\x81\x5c.txt";          // 乗.txt in GBK: its trail byte is 0x5C
    const std::string gbkName = "\xd6\xd0\xce\xc4.txt";  // 中文.txt in GBK
    auto unicodePath = [](const std::string& stored, const std::string& utf8, bool goodCrc) {
        std::string e;
        P16(e, 0x7075);
        P16(e, static_cast<std::uint32_t>(5 + utf8.size()));
        e.push_back(1);
        P32(e, Crc(stored) ^ (goodCrc ? 0u : 1u));
        return e + utf8;
    };
    // Archives from Windows: legacy names are in the code page of the system.
    auto fromWindows = [](std::string name, std::string content) {
        Raw r = M(std::move(name), std::move(content));
        r.flags = 0;
        r.madeBy = 0x0014;
        return r;
    };
    Raw withField = fromWindows(gbkName, "field");
    withField.centralExtra = unicodePath(gbkName, "统一码.txt", true);
    Raw badCrc = fromWindows("\xb1\xed.txt", "bad crc");  // 表.txt in GBK
    badCrc.centralExtra = unicodePath("\xb1\xed.txt", "ignored.txt", false);
    Raw trail = fromWindows(gbk, "trail");
    Raw macUtf8 = M("苹果.txt", "utf8 without flag");
    macUtf8.flags = 0;
    WriteFile(dir / "n.zip", BuildZip({withField, badCrc, trail, macUtf8}));

    ZipArchive::ExtractZipFile(dir / "n.zip", dir / "out", {});
    if (before)
        setenv("LC_ALL", saved.c_str(), 1);
    else
        unsetenv("LC_ALL");
    EXPECT_EQ(Tree(dir / "out"), Sorted({"统一码.txt", "表.txt", "乗.txt", "苹果.txt"}));
    EXPECT_EQ(ReadFile(dir / "out/乗.txt"), "trail");
}

// Linux names that aren't UTF-8, or hold "\" or start like a drive, come back
// from our own archives as the same bytes, and every peer opens the archive:
// only a name that is UTF-8 carries the UTF-8 flag.
TEST(ZipInteropNames, OddLinuxNamesRoundTripAndPeersOpenTheArchive)
{
    REQUIRE_TOOL("unzip");
    REQUIRE_TOOL("python3");
    TempDir dir;
    const std::vector<std::string> names = {"a\\b.txt", "c:x.txt", "\xD6\xD0\xCE\xC4.txt", "s\xFF.bin",
                                            "s\xEF\xBF\xBD.bin", "\xE4\xB8\xAD.txt"};
    for (std::size_t i = 0; i < names.size(); ++i)
        WriteFile(dir / ("src/" + names[i]), "content " + std::to_string(i));
    ZipArchive::ZipDirectoryContents(dir / "n.zip", dir / "src", ZipMethod::Deflate, {});

    ZipArchive reader;
    reader.Open(dir / "n.zip", ZipMode::Read);
    for (const ZipHeader& h : reader.Headers())
        EXPECT_EQ((h.Flags & 0x800) != 0, h.Name != "\xD6\xD0\xCE\xC4.txt" && h.Name != "s\xFF.bin") << h.Name;
    reader.Close();
    ZipArchive::ExtractZipFile(dir / "n.zip", dir / "ours", {});
    EXPECT_EQ(Tree(dir / "ours"), Tree(dir / "src"));
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(ReadFile(dir / ("ours/" + names[i])), "content " + std::to_string(i));

    // Info-ZIP drops the stray byte from the name it writes; it still reads every member.
    EXPECT_EQ(Shell("cd " + Quote(dir.Path()) + " && " + kUtf8 + "unzip -q n.zip -d peer"), 0);
    EXPECT_EQ(Tree(dir / "peer").size(), names.size());
    std::string out;
    EXPECT_EQ(Shell("python3 -c 'import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); print(len(z.namelist()), "
                    "z.testzip())' " + Quote(dir / "n.zip"), &out), 0) << out;
    EXPECT_EQ(out, "6 None\n");
    if (HaveTool("bsdtar")) {
        EXPECT_EQ(Shell(kUtf8 + "bsdtar -tf " + Quote(dir / "n.zip") + " | wc -l", &out), 0);
        EXPECT_EQ(out.substr(out.find_first_not_of(' ')), "6\n");
    }
}

// The same names in an encrypted archive keep their bytes, and the peers that
// decrypt read every member.
TEST(ZipInteropNames, OddLinuxNamesInAnEncryptedArchive)
{
    REQUIRE_TOOL("7z");
    REQUIRE_TOOL("bsdtar");
    TempDir dir;
    const std::set<std::string> names = {"\xD6\xD0\xCE\xC4.txt", "s\xFF.bin", "a\\b.txt"};
    for (const std::string& name : names)
        WriteFile(dir / ("src/" + name), "content of " + name);
    ZipArchive::ZipDirectoryContents(dir / "n.zip", dir / "src", ZipMethod::Deflate, {}, {}, {}, "pw");
    std::set<std::string> stored;
    for (const Parsed& m : ParseZip(ReadFile(dir / "n.zip")))
        stored.insert(m.name);
    EXPECT_EQ(stored, names);
    std::string out;
    EXPECT_EQ(Shell("7z t -ppw " + Quote(dir / "n.zip"), &out), 0) << out;
    EXPECT_EQ(Shell(kUtf8 + "mkdir -p " + Quote(dir / "bt") + " && bsdtar -xf " + Quote(dir / "n.zip") +
                    " --passphrase pw -C " + Quote(dir / "bt") + " && find " + Quote(dir / "bt") + " -type f | wc -l",
                    &out), 0) << out;
    EXPECT_EQ(out, "3\n");
}

// A Unicode Path field with no name in it is ignored (it once read the last
// character of an empty name), and the stored name is used.
TEST(ZipInteropNames, EmptyUnicodePathFieldIsIgnored)
{
    TempDir dir;
    Raw m = M("plain.txt", "x");
    P16(m.centralExtra, 0x7075);
    P16(m.centralExtra, 5);
    m.centralExtra.push_back(1);
    P32(m.centralExtra, Crc("plain.txt"));
    WriteFile(dir / "e.zip", BuildZip({m}));
    ZipArchive::ExtractZipFile(dir / "e.zip", dir / "out", {});
    EXPECT_EQ(Tree(dir / "out"), (std::vector<std::string>{"plain.txt"}));
}

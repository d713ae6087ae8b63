// The rule language and the new-name computation, as data tables.
#include "RuleLanguage.h"

#include <gtest/gtest.h>

namespace {

QString U(const char* s) { return QString::fromUtf8(s); }

QString Preview(const strRule& r)
{
    return RuleName(r, 0) + "," + RuleName(r, 1) + "," + RuleName(r, 2);
}

struct ValidRule {
    const char* rule;
    const char* pre;
    const char* suf;
    std::int32_t start, step;
    const char* preview;
};

const ValidRule kValid[] = {
    {"abc[2][2]", "abc", "", 2, 2, "abc2,abc4,abc6"},
    {"[1][2]_保密", "", "_保密", 1, 2, "1_保密,3_保密,5_保密"},
    {"[100][1]", "", "", 100, 1, "100,101,102"},       // the first name carries the start itself
    {"[007][5]", "", "", 7, 5, "7,12,17"},              // leading zeros vanish
    {"pic[1][1].bak", "pic", ".bak", 1, 1, "pic1.bak,pic2.bak,pic3.bak"},
    {"x[1][2]y[3]", "x", "y[3]", 1, 2, "x1y[3],x3y[3],x5y[3]"},  // brackets after the second "]" are suffix
    {"5][2]", "", "", 5, 2, "5,7,9"},                   // no "[" before the first "]"
    {"[5][0]", "", "", 5, 0, "5,5,5"},
    {"[2147483647][1]", "", "", 2147483647, 1, "2147483647,-2147483648,-2147483647"},
    {"[0][2147483647]", "", "", 0, 2147483647, "0,2147483647,-2"},
    {"a b [0000000000001][10]] c", "a b ", "] c", 1, 10, "a b 1] c,a b 11] c,a b 21] c"},
    {"前缀[3][3]后缀", "前缀", "后缀", 3, 3, "前缀3后缀,前缀6后缀,前缀9后缀"},
};

TEST(RuleLanguage, ValidRulesParseAndPreview)
{
    for (const ValidRule& c : kValid) {
        SCOPED_TRACE(c.rule);
        QString err = "untouched";
        EXPECT_TRUE(CheckRule(U(c.rule), err));
        strRule r;
        ASSERT_TRUE(ParseRule(U(c.rule), r, err)) << err.toStdString();
        EXPECT_EQ(r.preTxt, U(c.pre));
        EXPECT_EQ(r.sufText, U(c.suf));
        EXPECT_EQ(r.startNumber, c.start);
        EXPECT_EQ(r.interval, c.step);
        EXPECT_EQ(Preview(r), U(c.preview));
    }
}

const char* const kBracket = "[][]输入不符合规定，可能输入为英文格式，也有可能输入不配套。";
const char* const kFirst = "前一个[]中有非法数字";
const char* const kSecond = "后一个[]中有非法数字";

struct BadRule {
    const char* rule;
    const char* err;
};

const BadRule kBad[] = {
    {"[1] [2]", kBracket},    // a blank between the brackets
    {"[1][2", kBracket},      // no closing bracket
    {"a]b[1][2]", kBracket},  // a "]" before the first "["
    {"［1］［2］", kBracket},  // full-width brackets
    {"", kBracket},
    {"abc", kBracket},
    {"[1]", kBracket},
    {"[1]x", kBracket},
    {"[1a][2]", kFirst},
    {"[1a][2b]", kFirst},     // only the first failure is reported
    {"[１][2]", kFirst},       // full-width digit
    {"[+1][2]", kFirst},
    {"a[b[1][2]", kFirst},    // the first "[" opens the first number
    {"[1][-2]", kSecond},
    {"[1][ 2]", kSecond},
    {"[1][２]", kSecond},
};

TEST(RuleLanguage, MalformedRulesReportTheFirstFailure)
{
    for (const BadRule& c : kBad) {
        SCOPED_TRACE(c.rule);
        QString err;
        EXPECT_FALSE(CheckRule(U(c.rule), err));
        EXPECT_EQ(err, U(c.err));
        strRule r;
        r.preTxt = "kept";
        QString err2;
        EXPECT_FALSE(ParseRule(U(c.rule), r, err2));
        EXPECT_EQ(err2, U(c.err));
        EXPECT_EQ(r.preTxt, "kept");
    }
}

// The digit test lets these pass, but they are no 32-bit number: the parse
// fails with the conversion's message and leaves the record as it was.
TEST(RuleLanguage, BracketsThatDoNotConvertFailTheParse)
{
    const struct {
        const char* rule;
        const char* err;
    } cases[] = {
        {"a[][1]", "“”不是有效的整数值"},
        {"[1][]", "“”不是有效的整数值"},
        {"[2147483648][1]", "“2147483648”不是有效的整数值"},
        {"[1][99999999999999999999]", "“99999999999999999999”不是有效的整数值"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        QString err;
        EXPECT_TRUE(CheckRule(U(c.rule), err));
        strRule r{"p", "s", 4, 5};
        EXPECT_FALSE(ParseRule(U(c.rule), r, err));
        EXPECT_EQ(err, U(c.err));
        EXPECT_EQ(r.preTxt, "p");
        EXPECT_EQ(r.startNumber, 4);
        EXPECT_EQ(r.interval, 5);
    }
}

TEST(RuleLanguage, NumberingWrapsAroundInThirtyTwoBits)
{
    const struct {
        std::int32_t start, step;
        int k;
        std::int32_t number;
    } cases[] = {
        {2147483647, 1, 1, INT32_MIN},
        {INT32_MIN, -1, 1, 2147483647},
        {0, 2147483647, 3, 2147483645},
        {1, 1000000, 10000, 1410065409},  // 10^10 + 1 modulo 2^32, as a signed number
        {-5, 2, 2, -1},
    };
    for (const auto& c : cases) {
        const strRule r{"", "", c.start, c.step};
        EXPECT_EQ(RuleNumber(r, c.k), c.number) << c.start << " " << c.step << " " << c.k;
        EXPECT_EQ(RuleName(r, c.k), QString::number(c.number));
    }
}

TEST(NewName, NumberedPathKeepsFolderAndExtension)
{
    const strRule img{"img", "", 1, 1};
    const struct {
        const char* path;
        int k;
        const char* expected;
    } cases[] = {
        {"/t/a.jpg", 0, "/t/img1.jpg"},
        {"/t/b.png", 1, "/t/img2.png"},
        {"/t/sub/readme", 2, "/t/sub/img3"},
        {"/t/report.final.zip", 0, "/t/img1.zip"},
        {"/t/x.y/noext", 0, "/t/x.y/img1"},  // a dot in the folder is no extension
        {"/t/a b.中文", 4, "/t/img5.中文"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NumberedPath(U(c.path), img, c.k), U(c.expected)) << c.path;
}

TEST(NewName, ReplaceIsCaseSensitiveAndSparesFolderAndExtension)
{
    const struct {
        const char* path;
        const char* oldstr;
        const char* replacestr;
        int type;
        const char* expected;
    } cases[] = {
        {"/t/IMG_IMG.jpg", "IMG", "pic", 1, "/t/pic_IMG.jpg"},
        {"/t/IMG_IMG.jpg", "IMG", "pic", 2, "/t/pic_pic.jpg"},
        {"/t/img_1.jpg", "IMG", "pic", 2, "/t/img_1.jpg"},
        {"/t/photo.IMG", "IMG", "pic", 2, "/t/photo.IMG"},
        {"/IMG/x.jpg", "IMG", "pic", 2, "/IMG/x.jpg"},
        {"/t/aaa.txt", "aa", "b", 2, "/t/ba.txt"},           // non-overlapping, left to right
        {"/t/aaaa.txt", "aa", "b", 2, "/t/bb.txt"},
        {"/t/a.a.txt", "a", "aa", 2, "/t/aa.aa.txt"},         // only the last dot starts the extension
        {"/t/abab", "ab", "x", 1, "/t/xab"},
        {"/t/文件文件.doc", "文件", "档", 2, "/t/档档.doc"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReplacedPath(U(c.path), U(c.oldstr), U(c.replacestr), c.type), U(c.expected)) << c.path;
}

TEST(NewName, ForbiddenCharactersOfAWholeText)
{
    QChar bad;
    for (const char* refused : {"*", "/", ":", ";", "<", ">", "?", "\\", "|"}) {
        EXPECT_TRUE(FirstForbiddenNameChar(QString("ab") + refused + "c/", bad)) << refused;
        EXPECT_EQ(bad, QLatin1Char(refused[0]));
    }
    EXPECT_TRUE(FirstForbiddenNameChar(QString("x") + QChar(0) + "y", bad));
    EXPECT_TRUE(bad.isNull());
    EXPECT_FALSE(FirstForbiddenNameChar(U("a\"b[1]中文；．／"), bad));  // full-width forms pass
}

}  // namespace

#include "config/IniFile.h"

#include "IniTestFiles.h"
#include "common/Errors.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace ostrel::test {
namespace {

const std::string Absent = "<absent>";

struct Read {
    std::string path;
    std::string expected; // Absent: the default came back
};

struct FormatCase {
    const char* name;
    std::string file;
    std::vector<Read> reads;
    std::vector<std::pair<std::string, std::string>> writes;
    std::string rewritten; // the whole file after the writes
};

const std::vector<FormatCase> FormatCases = {
    {"lower-case section and key",
     "[rdpostrel]\nsqlserver=db1\n",
     {{"SQLServer", "db1"}, {"SQLSERVER", "db1"}, {"RDPOSTREL\\SqlServer", "db1"}},
     {{"SQLServer", "db2"}},
     "[rdpostrel]\r\nSQLServer=db2\r\n\r\n"},
    {"blanks around the equals sign and after the value",
     "[RDPOstrel]\r\n   SQLServer   =   db 1  \t\r\n",
     {{"SQLServer", "db 1"}},
     {},
     "[RDPOstrel]\r\nSQLServer=db 1\r\n\r\n"},
    {"first of two equal keys counts, a write replaces only it",
     "[RDPOstrel]\nA=1\nB=x\na=2\n",
     {{"A", "1"}},
     {{"A", "3"}},
     "[RDPOstrel]\r\nA=3\r\nB=x\r\na=2\r\n\r\n"},
    {"comments and empty lines vanish, lines without equals sign stay",
     "[RDPOstrel]\n; a comment\n\nplain line\nA=1\n   ;indented comment\n",
     {{"A", "1"}, {"plain line", Absent}},
     {{"B", "2"}},
     "[RDPOstrel]\r\nplain line\r\nA=1\r\nB=2\r\n\r\n"},
    {"lines before the first section are dropped",
     "A=0\nloose\n[RDPOstrel]\nA=1\n",
     {{"A", "1"}},
     {{"A", "1"}},
     "[RDPOstrel]\r\nA=1\r\n\r\n"},
    {"new key at the end of its section, new section at the end of the file",
     "[RDPOstrel]\nA=1\n[Layout]\nLeft=5\n",
     {{"Layout\\Left", "5"}, {"Left", Absent}},
     {{"B", "2"}, {"Other\\X", "y"}, {"layout\\Top", "7"}},
     "[RDPOstrel]\r\nA=1\r\nB=2\r\n\r\n[Layout]\r\nLeft=5\r\nTop=7\r\n\r\n[Other]\r\nX=y\r\n\r\n"},
    {"path rule: leading backslash, empty section part, last backslash splits",
     "[RDPOstrel]\nK=default\n[A\\B]\nC=nested\n[Layout]\nK=layout\n",
     {{"\\K", "default"}, {"\\\\K", "default"}, {"\\Layout\\K", "layout"}, {"A\\B\\C", "nested"}, {"B\\C", Absent}},
     {},
     "[RDPOstrel]\r\nK=default\r\n\r\n[A\\B]\r\nC=nested\r\n\r\n[Layout]\r\nK=layout\r\n\r\n"},
    {"LF, CR LF and lone CR all end lines",
     "[RDPOstrel]\nA=1\r\nB=2\rC=3",
     {{"A", "1"}, {"B", "2"}, {"C", "3"}},
     {},
     "[RDPOstrel]\r\nA=1\r\nB=2\r\nC=3\r\n\r\n"},
    {"values keep quotes, inner blanks and later equals signs; empty values exist",
     "[RDPOstrel]\nQ=\"quoted\"\nE=a=b = c\nEmpty=\n",
     {{"Q", "\"quoted\""}, {"E", "a=b = c"}, {"Empty", ""}},
     {},
     "[RDPOstrel]\r\nQ=\"quoted\"\r\nE=a=b = c\r\nEmpty=\r\n\r\n"},
    {"section names are trimmed and a repeated section continues the first",
     "[ Layout ]\nA=1\n[RDPOstrel]\nX=1\n[layout]\nA=2\nB=3\n",
     {{"Layout\\A", "1"}, {"Layout\\B", "3"}},
     {},
     "[Layout]\r\nA=1\r\nA=2\r\nB=3\r\n\r\n[RDPOstrel]\r\nX=1\r\n\r\n"},
    {"a section without entries is kept",
     "[Empty]\n[RDPOstrel]\nA=1\n",
     {},
     {{"A", "2"}},
     "[Empty]\r\n\r\n[RDPOstrel]\r\nA=2\r\n\r\n"},
};

TEST(IniFileFormat, ReadsAndRewritesEachCase) {
    for (const FormatCase& c : FormatCases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const auto file = folder / "Config.ini";
        writeBytes(file, c.file);
        {
            IniFile ini(file);
            for (const Read& read : c.reads)
                EXPECT_EQ(ini.ReadString(read.path, Absent), read.expected) << read.path;
            for (const auto& [path, value] : c.writes)
                ini.WriteString(path, value);
            if (c.writes.empty())
                ini.UpdateFile();
            EXPECT_EQ(readBytes(file), c.rewritten);
        }
        EXPECT_EQ(readBytes(file), c.rewritten) << "the final rewrite changed the file";
    }
}

TEST(IniFileFormat, NoFileGivesDefaultsAndTheFirstWritesMakeItInOrder) {
    TempFolder folder;
    const auto file = folder / "Config.ini";
    IniFile ini(file);
    EXPECT_EQ(ini.ReadString("SQLServer", ""), "");
    EXPECT_EQ(ini.ReadInteger("BlockInvalidUserInterval", 120), 120);
    EXPECT_TRUE(ini.ReadBoolean("Report", true));
    EXPECT_FALSE(ini.ValueExists("SQLServer"));
    EXPECT_FALSE(std::filesystem::exists(file)) << "reading must not create the file";

    ini.WriteString("SQLServer", "SQL SERVER");
    ini.WriteString("SQLPort", "3306");
    ini.WriteString("SQLDatabase", "SQL DATENBANK");
    ini.WriteString("SQLUsername", "SQL USERNAME");
    ini.WriteString("SQLPasswort", "DB GEHEIMNIS");
    EXPECT_EQ(readBytes(file), "[RDPOstrel]\r\nSQLServer=SQL SERVER\r\nSQLPort=3306\r\nSQLDatabase=SQL DATENBANK\r\n"
                               "SQLUsername=SQL USERNAME\r\nSQLPasswort=DB GEHEIMNIS\r\n\r\n");

    ini.BeginUpdate();
    ini.WriteInteger("Layout\\Left", -8);
    ini.WriteBoolean("Layout\\Maximized", true);
    ini.EndUpdate();
    EXPECT_EQ(readBytes(file), "[RDPOstrel]\r\nSQLServer=SQL SERVER\r\nSQLPort=3306\r\nSQLDatabase=SQL DATENBANK\r\n"
                               "SQLUsername=SQL USERNAME\r\nSQLPasswort=DB GEHEIMNIS\r\n\r\n"
                               "[Layout]\r\nLeft=-8\r\nMaximized=TRUE\r\n\r\n");
}

TEST(IniFileFormat, WritesNumbersAndBooleansInTheirFixedForms) {
    TempFolder folder;
    const auto file = folder / "Config.ini";
    IniFile ini(file);
    ini.WriteInteger("Min", -2147483647 - 1);
    ini.WriteInteger("Zero", 0);
    ini.WriteBoolean("On", true);
    ini.WriteBoolean("Off", false);
    ini.WriteString("Padded", "  spaced  ");
    EXPECT_EQ(readBytes(file),
              "[RDPOstrel]\r\nMin=-2147483648\r\nZero=0\r\nOn=TRUE\r\nOff=FALSE\r\nPadded=  spaced  \r\n\r\n");
    EXPECT_EQ(ini.ReadInteger("Min", 1), -2147483647 - 1);
    EXPECT_TRUE(ini.ReadBoolean("On", false));
    EXPECT_FALSE(ini.ReadBoolean("Off", true));
    // The file is read back after a rewrite, and reading trims.
    EXPECT_EQ(ini.ReadString("Padded", ""), "spaced");
}

// ---- Value forms --------------------------------------------------------------------

struct BooleanCase {
    const char* value; // nullptr: key absent
    bool defaultValue;
    bool expected;
};

TEST(IniFileValues, ReadBooleanWordsAndNumbers) {
    const std::vector<BooleanCase> cases = {
        {"yes", false, true},    {"Y", false, true},  {"y", false, true}, {"TRUE", false, true},
        {"tRuE", false, true},   {"1", false, true},  {"7", false, true}, {"-1", false, true},
        {" 7 ", false, true},    {"no", true, false}, {"n", true, false}, {"N", true, false},
        {"False", true, false},  {"0", true, false},  {"", true, false},  {nullptr, true, true},
        {nullptr, false, false},
    };
    TempFolder folder;
    const auto file = folder / "Config.ini";
    for (const BooleanCase& c : cases) {
        const std::string shown = c.value ? "'" + std::string(c.value) + "'" : "absent";
        SCOPED_TRACE(shown + (c.defaultValue ? " default true" : " default false"));
        writeBytes(file, c.value ? "[RDPOstrel]\nBlockInvalidUser=" + std::string(c.value) + "\n" : "[RDPOstrel]\n");
        IniFile ini(file);
        EXPECT_EQ(ini.ReadBoolean("BlockInvalidUser", c.defaultValue), c.expected);
    }
}

struct IntegerCase {
    const char* value; // nullptr: key absent
    std::int32_t expected;
};

TEST(IniFileValues, ReadIntegerEmptyAbsentAndNumbers) {
    const std::vector<IntegerCase> cases = {
        {"", 0}, {nullptr, 120}, {"45", 45}, {"-5", -5}, {"0", 0}, {"2147483647", 2147483647},
    };
    TempFolder folder;
    const auto file = folder / "Config.ini";
    for (const IntegerCase& c : cases) {
        SCOPED_TRACE(c.value ? "'" + std::string(c.value) + "'" : "absent");
        writeBytes(file, c.value ? "[RDPOstrel]\nBlockInvalidUserInterval=" + std::string(c.value) + "\n" : "");
        IniFile ini(file);
        EXPECT_EQ(ini.ReadInteger("BlockInvalidUserInterval", 120), c.expected);
    }
}

TEST(IniFileValues, TextsThatAreNoWholeNumberRaiseTheConversionError) {
    struct Case {
        const char* value;
        bool asBoolean;
    };
    const std::vector<Case> cases = {{"abc", false}, {"1.5", false}, {"ja", true}, {"on", true}, {"9999999999", false}};
    TempFolder folder;
    const auto file = folder / "Config.ini";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        writeBytes(file, "[RDPOstrel]\nValue=" + std::string(c.value) + "\n");
        IniFile ini(file);
        try {
            if (c.asBoolean)
                ini.ReadBoolean("Value", true);
            else
                ini.ReadInteger("Value", 120);
            ADD_FAILURE() << "no conversion error";
        } catch (const EConvertError& error) {
            EXPECT_EQ(std::string(error.what()), "'" + std::string(c.value) + "' ist kein gültiger Integerwert");
            EXPECT_STREQ(error.typeName(), "EConvertError");
        }
    }
}

TEST(IniFileValues, EmptyValueIsPresentAndGivesNoDefault) {
    TempFolder folder;
    const auto file = folder / "Config.ini";
    writeBytes(file, "[RDPOstrel]\nSQLTBLPrefix=\n");
    IniFile ini(file);
    EXPECT_TRUE(ini.ValueExists("SQLTBLPrefix"));
    EXPECT_TRUE(ini.ValueExists("sqltblprefix"));
    EXPECT_EQ(ini.ReadString("SQLTBLPrefix", "fallback"), "");
    EXPECT_FALSE(ini.ValueExists("SQLTBLPrefixHistory"));
}

// ---- Encodings ----------------------------------------------------------------------

struct EncodingCase {
    const char* name;
    std::string file;      // as found on disk
    std::string rewritten; // after writing Euro="€" and Greek="Ω"
};

std::vector<EncodingCase> encodingCases() {
    const std::u16string before = u"[RDPOstrel]\r\nName=ä\r\n";
    const std::u16string after = u"[RDPOstrel]\r\nName=ä\r\nEuro=€\r\nGreek=Ω\r\nSmile=\U0001F600\r\n\r\n";
    return {
        {"Windows-1252 without a mark", "[RDPOstrel]\r\nName=\xE4\r\n",
         "[RDPOstrel]\r\nName=\xE4\r\nEuro=\x80\r\nGreek=?\r\nSmile=?\r\n\r\n"},
        {"UTF-8 with its mark", "\xEF\xBB\xBF[RDPOstrel]\r\nName=\xC3\xA4\r\n",
         "\xEF\xBB\xBF[RDPOstrel]\r\nName=\xC3\xA4\r\nEuro=\xE2\x82\xAC\r\nGreek=\xCE\xA9\r\n"
         "Smile=\xF0\x9F\x98\x80\r\n\r\n"},
        {"UTF-16LE with its mark", "\xFF\xFE" + utf16Bytes(before, false), "\xFF\xFE" + utf16Bytes(after, false)},
        {"UTF-16BE with its mark", "\xFE\xFF" + utf16Bytes(before, true), "\xFE\xFF" + utf16Bytes(after, true)},
    };
}

TEST(IniFileEncoding, ReadsAsUtf8AndRewritesInTheFilesEncoding) {
    for (const EncodingCase& c : encodingCases()) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const auto file = folder / "Config.ini";
        writeBytes(file, c.file);
        IniFile ini(file);
        EXPECT_EQ(ini.ReadString("Name", ""), "ä");
        ini.BeginUpdate();
        ini.WriteString("Euro", "€");
        ini.WriteString("Greek", "Ω");
        ini.WriteString("Smile", "\U0001F600");
        ini.EndUpdate();
        EXPECT_EQ(readBytes(file), c.rewritten);
        EXPECT_EQ(ini.ReadString("Euro", ""), "€");
    }
}

TEST(IniFileEncoding, EveryWindows1252ByteSurvivesARewrite) {
    std::string values;
    for (int b = 0x21; b <= 0xFF; ++b)
        values += static_cast<char>(b);
    const std::string content = "[RDPOstrel]\r\nAll=" + values + "\r\n\r\n";
    TempFolder folder;
    const auto file = folder / "Config.ini";
    writeBytes(file, content);
    IniFile ini(file);
    ini.WriteString("All", ini.ReadString("All", ""));
    EXPECT_EQ(readBytes(file), content);
}

TEST(IniFileEncoding, ANewFileIsWindows1252WithoutAMark) {
    TempFolder folder;
    const auto file = folder / "Config.ini";
    IniFile ini(file);
    ini.WriteString("Name", "Müller");
    EXPECT_EQ(readBytes(file), "[RDPOstrel]\r\nName=M\xFCller\r\n\r\n");
    EXPECT_EQ(ini.ReadString("Name", ""), "Müller");
}

} // namespace
} // namespace ostrel::test

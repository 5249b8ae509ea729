#include "elements/ini.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/probes.h"
#include "tests/support/temp_dir.h"
#include "winlib/inifile.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

TSource TextSource(const char* s, std::vector<std::string>* log = nullptr, const char* name = "") {
    TSource source;
    SetText(source.Value, s);
    source.Log = log;
    source.Name = name;
    return source;
}

class IniTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous = OverrideProgramDirectory(dir.WithSeparator());
        StartFramework();
        ini.onRead = QX_LINK(&read, doEvent, 0);
    }
    void TearDown() override {
        StopFramework();
        OverrideProgramDirectory(previous);
    }

    // The stored-value sub-scheme's settings.
    void RequestSettings(TQXini& element) {
        element.FileName = "vr.ini";
        element.Section = "znah";
        element.Key = "p1";
        element.ValueType = 0;
    }
    void Read(TQXini& element, TData value = TData()) { FireEvent(QX_LINK(&element, doRead, 0), value); }
    void Write(TQXini& element, TData value) { FireEvent(QX_LINK(&element, doWrite, 1), value); }
    void Delete(TQXini& element) {
        TData none;
        FireEvent(QX_LINK(&element, doDeleteKey, 2), none);
    }

    TTempDir dir;
    std::optional<std::string> previous;
    TQXini ini;
    TRecorder read;
};

TEST_F(IniTest, TheRequestPollReadsAndDeletesTheKey) {
    RequestSettings(ini);
    const std::string file = dir.File("vr.ini");
    Spit(file, "[znah]\r\np1=1\r\n");
    Read(ini);
    ASSERT_EQ(read.Seen.size(), 1u);
    EXPECT_EQ(read.Seen[0].Kind, dtInteger);
    EXPECT_EQ(read.Seen[0].IntValue, 1);
    EXPECT_EQ(ini.Ini, nullptr) << "the object lives only during the operation";

    Delete(ini);
    EXPECT_EQ(Slurp(file), "[znah]\r\n") << "the key goes, the file stays";
    Read(ini);
    ASSERT_EQ(read.Seen.size(), 2u);
    EXPECT_EQ(read.Seen[1].IntValue, 0);

    // Deleting again, as after every switch, touches nothing.
    const std::string odd = " [znah] \n other = 5 \n";
    Spit(file, odd);
    Delete(ini);
    EXPECT_EQ(Slurp(file), odd);
}

TEST_F(IniTest, AMissingFileSectionOrKeyReadsAsTheDefaultAndStillFires) {
    RequestSettings(ini);
    Read(ini);
    EXPECT_FALSE(FileExists(dir.File("vr.ini"))) << "reading must not create the file";
    Delete(ini);
    EXPECT_FALSE(FileExists(dir.File("vr.ini"))) << "deleting from no file must not create it";

    Spit(dir.File("vr.ini"), "[other]\r\np1=5\r\n[znah]\r\np2=6\r\n");
    Read(ini);
    ini.ValueType = 1;
    Read(ini);
    ASSERT_EQ(read.Seen.size(), 3u);
    EXPECT_EQ(read.Seen[0].IntValue, 0);
    EXPECT_EQ(read.Seen[1].IntValue, 0);
    EXPECT_EQ(read.Seen[2].Kind, dtString);
    EXPECT_EQ(read.Seen[2].TextValue, "");
}

TEST_F(IniTest, ValueTypeChoosesIntegerOrString) {
    Spit(dir.File("t.ini"), "[s]\r\nnum= 12x \r\nword=abc\r\nlong=" + std::string(3000, 'z') + "\r\n");
    ini.FileName = "t.ini";
    ini.Section = "s";
    const char* keys[] = {"num", "word", "long"};
    for (std::uint8_t type : {0, 1}) {
        ini.ValueType = type;
        for (const char* key : keys) {
            ini.Key = key;
            Read(ini);
        }
    }
    ASSERT_EQ(read.Seen.size(), 6u);
    EXPECT_EQ(read.Seen[0].Kind, dtInteger);
    EXPECT_EQ(read.Seen[0].IntValue, 12);
    EXPECT_EQ(read.Seen[1].IntValue, 0) << "text without leading digits";
    EXPECT_EQ(read.Seen[3].Kind, dtString);
    EXPECT_EQ(read.Seen[3].TextValue, "12x");
    EXPECT_EQ(read.Seen[4].TextValue, "abc");
    EXPECT_EQ(read.Seen[5].TextValue, std::string(2047, 'z'));
}

TEST_F(IniTest, WriteUsesTheEventValueWhenValueIsUnlinked) {
    RequestSettings(ini);
    Write(ini, Text("42"));  // Integer mode converts the text
    EXPECT_EQ(Slurp(dir.File("vr.ini")), "[znah]\r\np1=42\r\n");
    Write(ini, Int(-3));
    EXPECT_EQ(Slurp(dir.File("vr.ini")), "[znah]\r\np1=-3\r\n");

    ini.ValueType = 1;
    ini.Key = "p2";
    Write(ini, Text("com 5"));
    EXPECT_EQ(Slurp(dir.File("vr.ini")), "[znah]\r\np1=-3\r\np2=com 5\r\n");
    Write(ini, Int(7));  // String mode takes the integer's text
    EXPECT_EQ(Slurp(dir.File("vr.ini")), "[znah]\r\np1=-3\r\np2=7\r\n");
}

TEST_F(IniTest, AFilledDataPointWinsOverTheEventValue) {
    RequestSettings(ini);
    TSource source;
    SetInteger(source.Value, 9);
    ini.Value = QX_LINK(&source, readValue, 0);
    Write(ini, Int(1));
    EXPECT_EQ(Slurp(dir.File("vr.ini")), "[znah]\r\np1=9\r\n");

    // A point answering Break falls back to the event value.
    SetNull(source.Value);
    source.Value.Kind = dtBreak;
    Write(ini, Int(4));
    EXPECT_EQ(Slurp(dir.File("vr.ini")), "[znah]\r\np1=4\r\n");
}

TEST_F(IniTest, DataPointsAreReadInTheirOrder) {
    std::vector<std::string> log;
    TSource file = TextSource("order.ini", &log, "FileName");
    TSource section = TextSource("s", &log, "Section");
    TSource key = TextSource("k", &log, "Key");
    TSource value = TextSource("5", &log, "Value");
    ini.FileNamePoint = QX_LINK(&file, readValue, 0);
    ini.SectionPoint = QX_LINK(&section, readValue, 0);
    ini.KeyPoint = QX_LINK(&key, readValue, 0);
    ini.Value = QX_LINK(&value, readValue, 0);

    Read(ini);
    EXPECT_EQ(log, (std::vector<std::string>{"FileName", "Section", "Key"}));
    log.clear();
    Write(ini, TData());
    EXPECT_EQ(log, (std::vector<std::string>{"FileName", "Section", "Value", "Key"}));
    log.clear();
    Delete(ini);
    EXPECT_EQ(log, (std::vector<std::string>{"FileName", "Section", "Key"}));
    EXPECT_EQ(Slurp(dir.File("order.ini")), "[s]\r\n");
}

TEST_F(IniTest, TheEventValueIsUsedUpByTheFirstEmptyDefault) {
    // No file name: the event's text names the file, and the value read
    // after it finds nothing left.
    ini.Section = "s";
    ini.Key = "k";
    ini.ValueType = 1;
    Write(ini, Text("req.ini"));
    EXPECT_EQ(Slurp(dir.File("req.ini")), "[s]\r\nk=\r\n");

    Spit(dir.File("req.ini"), "[s]\r\nk=found\r\n");
    Read(ini, Text("req.ini"));
    ASSERT_EQ(read.Seen.size(), 1u);
    EXPECT_EQ(read.Seen[0].TextValue, "found");
}

TEST_F(IniTest, AnEmptyFileNameIsQuietlyUseless) {
    ini.Section = "s";
    ini.Key = "k";
    Read(ini);
    Write(ini, TData());
    Delete(ini);
    ASSERT_EQ(read.Seen.size(), 1u);
    EXPECT_EQ(read.Seen[0].IntValue, 0);
    EXPECT_EQ(dir.FileCount(), 0);
}

TEST_F(IniTest, ElementsSharingAFileSeeEachOthersWrites) {
    TQXini port, pulse;
    for (TQXini* e : {&port, &pulse}) {
        e->FileName = "com i dlit.ini";
        e->Section = "params";
        e->ValueType = 1;
    }
    port.Key = "p1";
    pulse.Key = "p2";
    TQXini reader = port;
    reader.onRead = QX_LINK(&read, doEvent, 0);

    Write(port, Text("5"));
    Write(pulse, Text("10"));
    Read(reader);
    Write(port, Text("6"));
    Read(reader);
    ASSERT_EQ(read.Seen.size(), 2u);
    EXPECT_EQ(read.Seen[0].TextValue, "5");
    EXPECT_EQ(read.Seen[1].TextValue, "6");
    EXPECT_EQ(Slurp(dir.File("com i dlit.ini")), "[params]\r\np1=6\r\np2=10\r\n");
}

// A data read that runs another operation of the same element meanwhile.
struct TReentrant {
    TQXini* Element = nullptr;
    int Depth = 0;
    void readValue(TData& value, std::uint16_t) {
        if (++Depth == 1) {
            TData inner;
            Element->doWrite(inner, 1);  // reads this point again: "inner"
            SetText(value, "outer");
        } else {
            SetText(value, "inner");
        }
        --Depth;
    }
};

TEST_F(IniTest, AnOperationInsideAnotherKeepsBothObjects) {
    ini.FileName = "re.ini";
    ini.Section = "s";
    ini.Key = "k";
    ini.ValueType = 1;
    TReentrant reentrant{&ini, 0};
    ini.Value = QX_LINK(&reentrant, readValue, 0);
    Write(ini, TData());
    EXPECT_EQ(ini.Ini, nullptr);
    EXPECT_EQ(Slurp(dir.File("re.ini")), "[s]\r\nk=outer\r\n");
}

// --- File names ---

class ResolveTest : public ::testing::Test {
protected:
    void SetUp() override { previous = OverrideProgramDirectory(dir.WithSeparator()); }
    void TearDown() override { OverrideProgramDirectory(previous); }
    TTempDir dir;
    std::optional<std::string> previous;
};

TEST_F(ResolveTest, PlainNamesLiveInTheProgramDirectory) {
    EXPECT_EQ(ResolveFileName("com i dlit.ini"), dir.WithSeparator() + "com i dlit.ini");
    EXPECT_EQ(ResolveFileName(""), dir.WithSeparator());
    EXPECT_EQ(ResolveFileName("C:x.ini"), "C:x.ini");
    EXPECT_EQ(ResolveFileName("\\x.ini"), "\\x.ini");
    EXPECT_EQ(ResolveFileName("sub\\x.ini"), "sub\\x.ini");
}

TEST_F(ResolveTest, MacrosAreReplacedEveryTimeAndOnlyInTheirCase) {
    const std::string windir = WindowsDirectory();
    ASSERT_FALSE(windir.empty());
    EXPECT_EQ(ResolveFileName("%windir%x.ini"), windir + "x.ini");
    EXPECT_EQ(ResolveFileName("%windir%a%windir%b.ini"), windir + "a" + windir + "b.ini");
    EXPECT_EQ(ResolveFileName("%windir%%windir%"), windir + windir);
    EXPECT_EQ(ResolveFileName("%tmpdir%t.ini"), TempDirectory() + "t.ini");
    EXPECT_EQ(ResolveFileName("%sysdir%s.ini"), SystemDirectory() + "s.ini");
    EXPECT_EQ(ResolveFileName("%WINDIR%x.ini"), dir.WithSeparator() + "%WINDIR%x.ini");
    EXPECT_EQ(ResolveFileName("%windir"), dir.WithSeparator() + "%windir");
    for (const std::string& d : {windir, TempDirectory(), SystemDirectory()}) {
        ASSERT_FALSE(d.empty());
        EXPECT_TRUE(d.back() == '\\' || d.back() == '/') << d;
    }
}

void SetTempVariable(const char* value) {
#if defined(_WIN32)
    SetEnvironmentVariableA("TMP", value);
#else
    if (value)
        setenv("TMPDIR", value, 1);
    else
        unsetenv("TMPDIR");
#endif
}

std::optional<std::string> GetTempVariable() {
#if defined(_WIN32)
    char buffer[4096];
    const DWORD n = GetEnvironmentVariableA("TMP", buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer) return std::nullopt;
    return std::string(buffer, n);
#else
    const char* v = std::getenv("TMPDIR");
    return v ? std::optional<std::string>(v) : std::nullopt;
#endif
}

TEST_F(ResolveTest, InsertedTextIsNeverSearchedAgain) {
    const std::optional<std::string> saved = GetTempVariable();
#if defined(_WIN32)
    const std::string tmp = "C:\\x%sysdir%y%tmpdir%";
#else
    const std::string tmp = "/x%sysdir%y%tmpdir%";
#endif
    SetTempVariable(tmp.c_str());
    const std::string inserted = TempDirectory();
    const std::string resolved = ResolveFileName("%tmpdir%a.ini");
    SetTempVariable(saved ? saved->c_str() : nullptr);
    ASSERT_NE(inserted.find("%sysdir%"), std::string::npos) << inserted;
    EXPECT_EQ(resolved, inserted + "a.ini");
}

}  // namespace

// Our own profile store, on every platform: reading rules, writing rules and
// the safety of a write.

#include "winlib/profile.h"

#include <gtest/gtest.h>

#include <string>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#endif

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace {

class ProfileTest : public ::testing::Test {
protected:
    TProfileStore& store = NativeProfileStore();
    TTempDir dir;
    std::string file = dir.File("test.ini");

    std::string Get(const char* section, const char* key, const char* dflt = "dflt") {
        return store.GetString(section, key, dflt, file.c_str());
    }
    std::int32_t Int(const char* section, const char* key, std::int32_t dflt = -99) {
        return store.GetInt(section, key, dflt, file.c_str());
    }
    bool Write(const char* section, const char* key, const char* value) {
        return store.WriteString(section, key, value, file.c_str());
    }
};

TEST_F(ProfileTest, NamesMatchWhateverTheirCaseAndBlanks) {
    Spit(file, "[Params]\r\nP1=5\r\n[  spaced name \t]\r\n  Key Two  =  two words  \r\n");
    EXPECT_EQ(Get("params", "p1"), "5");
    EXPECT_EQ(Get("PARAMS", "P1"), "5");
    EXPECT_EQ(Get("spaced name", "key two"), "two words");
    EXPECT_EQ(Get("  spaced name ", " KEY TWO\t"), "two words");
}

TEST_F(ProfileTest, LineEndsOfEveryKindSplitLines) {
    Spit(file, "[a]\nk1=1\r\nk2=2\rk3=3\n\n\r\n[b]\nk1=b1");  // last line unterminated
    EXPECT_EQ(Get("a", "k1"), "1");
    EXPECT_EQ(Get("a", "k2"), "2");
    EXPECT_EQ(Get("a", "k3"), "3");
    EXPECT_EQ(Get("b", "k1"), "b1");
}

TEST_F(ProfileTest, MatchingQuotesAreDropped) {
    Spit(file,
         "[q]\n"
         "double=\"in quotes\"\n"
         "single='in quotes'\n"
         "mixed=\"not a pair'\n"
         "lone=\"\n"
         "inner=a \"b\" c\n"
         "padded=  \" kept inside \"  \n"
         "empty=\"\"\n");
    EXPECT_EQ(Get("q", "double"), "in quotes");
    EXPECT_EQ(Get("q", "single"), "in quotes");
    EXPECT_EQ(Get("q", "mixed"), "\"not a pair'");
    EXPECT_EQ(Get("q", "lone"), "\"");
    EXPECT_EQ(Get("q", "inner"), "a \"b\" c");
    EXPECT_EQ(Get("q", "padded"), " kept inside ");
    EXPECT_EQ(Get("q", "empty"), "");
}

TEST_F(ProfileTest, LongValuesAreCutTo2047Characters) {
    const std::string longValue(3000, 'x');
    Spit(file, "[s]\nplain=" + longValue + "\nquoted=\"" + longValue + "\"\nexact=" + std::string(2047, 'y') + "\n");
    EXPECT_EQ(Get("s", "plain"), std::string(2047, 'x'));
    EXPECT_EQ(Get("s", "quoted"), std::string(2047, 'x'));
    EXPECT_EQ(Get("s", "exact"), std::string(2047, 'y'));
    // A long default is cut the same way.
    EXPECT_EQ(store.GetString("s", "none", longValue.c_str(), file.c_str()), std::string(2047, 'x'));
}

TEST_F(ProfileTest, MissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_EQ(Get("s", "k"), "dflt");
    EXPECT_EQ(Int("s", "k", 17), 17);
    EXPECT_FALSE(FileExists(file)) << "a read must not create the file";

    Spit(file, "[s]\nk=v\nnoequals\nempty=\n");
    EXPECT_EQ(Get("other", "k"), "dflt");
    EXPECT_EQ(Get("s", "other"), "dflt");
    EXPECT_EQ(Get("s", "other", nullptr), "");
    EXPECT_EQ(Get("s", "noequals"), "dflt");
    EXPECT_EQ(Get("s", "empty"), "");
    EXPECT_EQ(Int("s", "empty", 5), 5);
    // Trailing spaces of a default are dropped.
    EXPECT_EQ(Get("s", "other", "d  "), "d");
    // Null names and a null file are safe.
    EXPECT_EQ(store.GetString(nullptr, nullptr, "d", file.c_str()), "d");
    EXPECT_EQ(store.GetString("s", "k", "d", nullptr), "d");
    EXPECT_EQ(store.GetInt("s", "k", 3, nullptr), 3);
    EXPECT_FALSE(store.WriteString("s", "k", "v", nullptr));
}

TEST_F(ProfileTest, AFileThatIsADirectoryReadsAsDefaults) {
    EXPECT_EQ(store.GetString("s", "k", "d", dir.Path().c_str()), "d");
    EXPECT_FALSE(store.WriteString("s", "k", "v", dir.Path().c_str()));
}

TEST_F(ProfileTest, IntegersAreReadFromTheLeadingDigits) {
    Spit(file,
         "[n]\n"
         "plain=42\nneg=-7\nplus=+5\nhex=0x1F\nHEX=0XFF\ntrail=12abc\ntext=abc\n"
         "wrap=4294967297\nbig=2147483648\nquoted=\"33\"\nspaced=  9 9\nzero=0\n");
    EXPECT_EQ(Int("n", "plain"), 42);
    EXPECT_EQ(Int("n", "neg"), -7);
    EXPECT_EQ(Int("n", "plus"), 5);
    EXPECT_EQ(Int("n", "hex"), 31);
    EXPECT_EQ(Int("n", "trail"), 12);
    EXPECT_EQ(Int("n", "text"), 0);
    EXPECT_EQ(Int("n", "wrap"), 1);
    EXPECT_EQ(Int("n", "big"), INT32_MIN);
    EXPECT_EQ(Int("n", "quoted"), 33);
    EXPECT_EQ(Int("n", "spaced"), 9);
    EXPECT_EQ(Int("n", "zero", 8), 0);
}

TEST_F(ProfileTest, TheFirstOfDuplicateSectionsAndKeysWins) {
    Spit(file, "[a]\nk=first\nk=second\n[b]\nk=b\n[A]\nk=third\nonlylater=x\n");
    EXPECT_EQ(Get("a", "k"), "first");
    EXPECT_EQ(Get("b", "k"), "b");
    EXPECT_EQ(Get("a", "onlylater"), "dflt");
    // A write changes the first occurrence only.
    ASSERT_TRUE(Write("a", "K", "new"));
    EXPECT_EQ(Get("a", "k"), "new");
    EXPECT_EQ(Slurp(file), "[a]\r\nk=new\r\nk=second\r\n[b]\r\nk=b\r\n[A]\r\nk=third\r\nonlylater=x\r\n");
}

TEST_F(ProfileTest, ADeleteLooksThroughSectionsOfTheSameName) {
    Spit(file, "[a]\nk=1\n[b]\nj=b\n[A]\nj=2\n");
    ASSERT_TRUE(Write("a", "j", nullptr));
    EXPECT_EQ(Slurp(file), "[a]\r\nk=1\r\n[b]\r\nj=b\r\n[A]\r\n");
}

TEST_F(ProfileTest, SectionsNamedEmptyKeepTheirKeysApart) {
    // Among lines that belong to "" anyway "[]" is dropped; after a named
    // section it must stay, or its keys would join that section.
    Spit(file, "[]\nk=top\n[ ]\nm=top too\n[s]\nk=s\n[]\nj=later\n");
    ASSERT_TRUE(Write("s", "n", "1"));
    EXPECT_EQ(Slurp(file), "k=top\r\nm=top too\r\n[s]\r\nk=s\r\nn=1\r\n[]\r\nj=later\r\n");
    EXPECT_EQ(Get("s", "j"), "dflt");
}

TEST_F(ProfileTest, CommentLinesAreOrdinaryLinesThatSurviveWrites) {
    Spit(file, "; top comment\n[s]\n;k=commented\nk=real\n# hash\n");
    EXPECT_EQ(Get("s", "k"), "real");
    EXPECT_EQ(Get("", "; top comment"), "dflt");  // no '=': a key without value
    ASSERT_TRUE(Write("s", "new", "1"));
    EXPECT_EQ(Slurp(file), "; top comment\r\n[s]\r\n;k=commented\r\nk=real\r\n# hash\r\nnew=1\r\n");
}

TEST_F(ProfileTest, AWriteCreatesFileSectionAndKey) {
    ASSERT_TRUE(Write("params", "p1", "5"));
    EXPECT_EQ(Slurp(file), "[params]\r\np1=5\r\n");
    ASSERT_TRUE(Write("params", "p2", ""));
    ASSERT_TRUE(Write("other", "x", "  lead"));
    EXPECT_EQ(Slurp(file), "[params]\r\np1=5\r\np2=\r\n[other]\r\nx=lead\r\n");
    EXPECT_EQ(Get("params", "p2"), "");
    EXPECT_EQ(Get("other", "x"), "lead");
}

TEST_F(ProfileTest, AWriteKeepsEverythingElse) {
    const std::string before =
        "; settings\r\n[first]\r\na=1\r\nb = two \r\n\r\n[second]\r\nc=3\r\n;note\r\n[third]\r\nd=4\r\n";
    Spit(file, before);
    ASSERT_TRUE(Write("second", "c", "30"));
    // Blanks around '=' and empty lines go; every other line stays, in order.
    EXPECT_EQ(Slurp(file), "; settings\r\n[first]\r\na=1\r\nb=two\r\n[second]\r\nc=30\r\n;note\r\n[third]\r\nd=4\r\n");
    EXPECT_EQ(Get("first", "b"), "two");
    EXPECT_EQ(Get("third", "d"), "4");
}

TEST_F(ProfileTest, NoTemporaryFilesAreLeftBehind) {
    ASSERT_TRUE(Write("s", "k", "1"));
    ASSERT_TRUE(Write("s", "k", "2"));
    ASSERT_TRUE(Write("s", "k", nullptr));
    EXPECT_EQ(dir.FileCount(), 1);
    EXPECT_EQ(Slurp(file), "[s]\r\n");
}

TEST_F(ProfileTest, TemporaryFilesOfGoneWritersGoWithTheNextWrite) {
    // 4194305 is above every system's largest process id: its writer is gone.
    const std::string stale = file + ".tmp4194305.7";
    const std::string otherTarget = dir.File("other.ini.tmp4194305.7");
    const std::string notOurs = file + ".tmp4194305.x";
    for (const std::string& f : {stale, otherTarget, notOurs}) Spit(f, "[half");
    ASSERT_TRUE(Write("s", "k", "1"));
    EXPECT_FALSE(FileExists(stale));
    EXPECT_TRUE(FileExists(otherTarget));  // another file's business
    EXPECT_TRUE(FileExists(notOurs));      // not our pattern
#if !defined(_WIN32)
    const std::string living = file + ".tmp1.3";  // pid 1 runs as long as the system does
    Spit(living, "[half");
    ASSERT_TRUE(Write("s", "k", "2"));
    EXPECT_TRUE(FileExists(living));
#endif
}

// Under Wine also run with a Russian ANSI code page (the name holds
// "CodePage"); Wine's C locale can name no such folder on the Unix side.
TEST_F(ProfileTest, FoldersNamedInAnyScriptAreReachedWhateverTheCodePage) {
    // UTF-8 names: Cyrillic and Greek, which no single ANSI code page holds.
    for (const char* folder : {"\xD0\xA2\xD0\xB5\xD1\x81\xD1\x82", "\xCE\x94\xCE\xBF\xCE\xBA"}) {
        const std::string path = dir.File(folder);
        std::error_code error;
        if (!std::filesystem::create_directory(std::filesystem::u8path(path), error))
            GTEST_SKIP() << "this system cannot name the folder: " << error.message();
        const std::string named = path + (dir.File("x").substr(dir.Path().size(), 1)) + "com i dlit.ini";
        ASSERT_TRUE(store.WriteString("params", "p2", "\xFB\xE6", named.c_str()));
        EXPECT_EQ(store.GetString("params", "p2", "", named.c_str()), "\xFB\xE6") << folder;
        EXPECT_EQ(store.GetInt("params", "p2", -1, named.c_str()), 0) << folder;
    }
}

#if !defined(_WIN32)
// A writer killed anywhere in a write leaves the old or the new settings,
// and the next write takes away whatever temporary file it left.
TEST_F(ProfileTest, WritersKilledMidWriteLeaveIntactSettingsAndNoLitter) {
    std::mt19937 random(12345);
    const std::string padding(4000, 'x');  // a write long enough to be caught in
    ASSERT_TRUE(Write("params", "p1", "0"));
    for (int kill = 0; kill < 200; ++kill) {
        const pid_t writer = ::fork();
        ASSERT_GE(writer, 0);
        if (writer == 0) {
            for (int i = 0;; ++i) {
                NativeProfileStore().WriteString("params", "p1", std::to_string(i).c_str(), file.c_str());
                NativeProfileStore().WriteString("params", "pad", (padding + std::to_string(i)).c_str(), file.c_str());
            }
        }
        ::usleep(200 + random() % 3000);
        ::kill(writer, SIGKILL);
        ::waitpid(writer, nullptr, 0);
        const std::string p1 = Get("params", "p1", "");
        ASSERT_FALSE(p1.empty()) << "kill " << kill << ": " << Slurp(file).substr(0, 80);
        ASSERT_TRUE(Write("params", "last", std::to_string(kill).c_str()));
        ASSERT_EQ(dir.FileCount(), 1) << "kill " << kill;
    }
    EXPECT_EQ(Get("params", "last"), "199");
}
#endif

TEST_F(ProfileTest, ANullValueDeletesTheKeyOnly) {
    Spit(file, "[znah]\r\np1=1\r\np2=2\r\n[other]\r\np1=9\r\n");
    ASSERT_TRUE(Write("ZNAH", "P1", nullptr));
    EXPECT_EQ(Slurp(file), "[znah]\r\np2=2\r\n[other]\r\np1=9\r\n");
    EXPECT_EQ(Int("znah", "p1", 0), 0);
    EXPECT_EQ(Int("other", "p1", 0), 9);
    // The emptied section stays, the file too.
    ASSERT_TRUE(Write("znah", "p2", nullptr));
    EXPECT_EQ(Slurp(file), "[znah]\r\n[other]\r\np1=9\r\n");
}

TEST_F(ProfileTest, DeletingAMissingKeyLeavesTheFileByteForByte) {
    const std::string before = "  [znah]  \n p2 = 2 \n\n; c\n";  // a rewrite would change this
    Spit(file, before);
    EXPECT_TRUE(Write("znah", "p1", nullptr));
    EXPECT_TRUE(Write("nosection", "p1", nullptr));
    EXPECT_EQ(Slurp(file), before);
    // And a missing file stays missing.
    const std::string absent = dir.File("absent.ini");
    EXPECT_TRUE(store.WriteString("znah", "p1", nullptr, absent.c_str()));
    EXPECT_FALSE(FileExists(absent));
}

TEST_F(ProfileTest, RewritingTheSameValueLeavesTheFileAlone) {
    const std::string before = "[s]\n k = v \n";
    Spit(file, before);
    EXPECT_TRUE(Write("s", "k", "v"));
    EXPECT_EQ(Slurp(file), before);
}

TEST_F(ProfileTest, AnUnwritableTargetFailsAndKeepsTheFile) {
    const std::string before = "[s]\nk=old\n";
    Spit(file, before);
    SetReadOnly(file, true);
    EXPECT_FALSE(Write("s", "k", "new"));
    EXPECT_FALSE(Write("s", "k", nullptr));
    SetReadOnly(file, false);
    EXPECT_EQ(Slurp(file), before);
    EXPECT_EQ(Get("s", "k"), "old");

    const std::string nowhere = dir.File("no-such-dir") + "/x.ini";
    EXPECT_FALSE(store.WriteString("s", "k", "v", nowhere.c_str()));
}

TEST_F(ProfileTest, ZeroBytesInTheFileEndNamesAndValues) {
    Spit(file, std::string("[s]\nk=ab\0cd\nj\0x=1\n", 19));
    EXPECT_EQ(Get("s", "k"), "ab");
    EXPECT_EQ(Get("s", "j"), "1");
}

TEST_F(ProfileTest, AnsiBytesRoundTripUnchanged) {
    // "Привет" in Windows-1251, as a section, key and value.
    const char* word = "\xCF\xF0\xE8\xE2\xE5\xF2";
    ASSERT_TRUE(Write(word, word, word));
    EXPECT_EQ(Slurp(file), std::string("[") + word + "]\r\n" + word + "=" + word + "\r\n");
    EXPECT_EQ(Get(word, word), word);
    // Every byte value but the line breaks and zero survives a write.
    std::string all;
    for (int c = 1; c < 256; ++c)
        if (c != '\r' && c != '\n') all.push_back(static_cast<char>(c));
    const std::string value = "<" + all + ">";
    ASSERT_TRUE(Write("s", "k", value.c_str()));
    EXPECT_EQ(Get("s", "k"), value);
}

TEST_F(ProfileTest, AnsiTextThatLooksLikeAByteOrderMarkStaysAnsi) {
    // "яю", "юя" and "пїЅ..." in 1251 begin like the marks of UTF-16 and UTF-8.
    for (const char* name : {"\xFF\xFE", "\xFE\xFF", "\xEF\xBB\xBF"}) {
        SCOPED_TRACE(name);
        Spit(file, std::string(" ") + name + "=1\r\n");
        ASSERT_TRUE(Write("s", "k", "2"));
        EXPECT_EQ(Get("", name), "1");
        EXPECT_EQ(Get("s", "k"), "2");
    }
}

TEST_F(ProfileTest, FilesWithAByteOrderMarkKeepTheirEncoding) {
    Spit(file, "\xEF\xBB\xBF[s]\r\nk=\xD0\x9F\r\n");  // UTF-8 "П"
    EXPECT_EQ(Get("s", "k"), "\xCF");                  // given in 1251
    ASSERT_TRUE(Write("s", "j", "\xF0"));              // "р"
    EXPECT_EQ(Slurp(file), "\xEF\xBB\xBF[s]\r\nk=\xD0\x9F\r\nj=\xD1\x80\r\n");

    Spit(file, std::string("\xFF\xFE[\0s\0]\0\n\0k\0=\0""1\0", 16));
    EXPECT_EQ(Get("s", "k"), "1");
    ASSERT_TRUE(Write("s", "k", "2"));
    EXPECT_EQ(Slurp(file), std::string("\xFF\xFE[\0s\0]\0\r\0\n\0k\0=\0""2\0\r\0\n\0", 22));
}

TEST(ProfileStoreChoice, SetProfileStoreSwapsAndRestores) {
    TProfileStore& platform = PlatformProfileStore();
    EXPECT_EQ(&CurrentProfileStore(), &platform);
    auto other = MakeNativeProfileStore(1252);
    TProfileStore* previous = SetProfileStore(other.get());
    EXPECT_EQ(previous, nullptr);
    EXPECT_EQ(&CurrentProfileStore(), other.get());
    EXPECT_EQ(SetProfileStore(previous), other.get());
    EXPECT_EQ(&CurrentProfileStore(), &platform);
}

}  // namespace

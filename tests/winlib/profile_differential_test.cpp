// Our own profile store against the system's profile functions, on copies of
// the same files: every read must agree, and after every write or delete
// the two files must hold the same bytes. Runs in the Windows build only
// (under Wine on the build machine); our store follows what it measures.

#if defined(_WIN32)

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "winlib/profile.h"

namespace {

struct TCase {
    const char* Name;
    std::optional<std::string> Content;  // nullopt: no file at all
};

std::vector<TCase> Corpus() {
    const std::string longValue(3000, 'L');
    return {
        {"missing file", std::nullopt},
        {"empty file", std::string()},
        {"plain crlf", "[s]\r\nk=v\r\nk2=2\r\n[a]\r\nk=a\r\n"},
        {"plain lf", "[s]\nk=v\nk2=2\n[a]\nk=a\n"},
        {"lone cr", "[s]\rk=v\rk2=2\r[a]\rk=a"},
        {"odd spacing", "  [ s ]  \r\n\t k \t=\t v  v \t\r\n\r\n\r\n   k2=   2\r\n[a]k=after bracket\r\n"},
        {"quotes",
         "[s]\nk=\"dq\"\nk2='sq'\nq1=\"mixed'\nq2=\"\nq3=\"\"\nq4=  \" pad \"  \nq5=a\"b\"\nq6='it''s'\n"},
        {"duplicate keys", "[s]\nk=first\nK=second\n k =third\ndup=1\ndup=2\n"},
        {"duplicate sections", "[s]\nk=one\n[a]\nk=a\n[S]\nk=two\nk2=only in second\n[s]\ndup=x\n"},
        {"empty values", "[s]\nk=\nk2=   \nempty=\nnoeq\n=novalue\n"},
        {"comments", "; top\n[s]\n;k=commented\nk=real\n# hash=1\n;c\nrem k2=x\n"},
        {"long values", "[s]\nk=" + longValue + "\nk2=\"" + longValue + "\"\nlong=" + std::string(2047, 'x') +
                            "\nq1=\"" + std::string(2046, 'y') + "\"\nq2=\"" + std::string(2047, 'z') + "\"\n"},
        {"keys in other case", "[S]\nK=upper\nK2=2\n[A]\nk=lower section\n"},
        {"integers",
         "[s]\nk=42\nk2=-7\nn1=0x1F\nn2=12abc\nn3=abc\nn4=4294967297\nn5=+5\nn6=\"33\"\nn7= 9 9\nn8=0X1f\n"},
        {"keys before any section", "k=top\nk2=2\n[s]\nk=s\n"},
        {"empty section name first", "[]\nk=empty name\n[s]\nk=s\n"},
        {"keys before an empty section name", "k=top\n[ ]\nk2=blank name\n[s]\nk=s\n"},
        {"no closing bracket", "[s\nk=v\n[a]]\nk=a\n"},
        {"high bytes", "[\xC0]\n\xE0=lower\n\xC0\xC1=upper\n[s]\nk=\xFF\xFE\x80\n"},
        {"utf-8 mark", "\xEF\xBB\xBF[s]\r\nk=\xD0\x9F\r\n"},
        {"no final line end", "[s]\nk=v"},
        {"blank-only lines", "\t\r\n \r\n[s]\r\n \t \r\nk=v\r\n"},
    };
}

struct TQuery {
    const char* Section;
    const char* Key;
};

std::vector<TQuery> Queries() {
    const char* sections[] = {"s", "S", " s ", "a", "A", "", "missing", "\xC0", "\xE0"};
    const char* keys[] = {"k",  "K",  " k ", "k2", "dup", "empty", "noeq", "long", "q1", "q2", "q3",
                          "q4", "q5", "q6",  "n1", "n2",  "n3",    "n4",   "n5",   "n6", "n7", "n8",
                          "",   ";k", ";c",  "\xC0", "\xE0", "\xC0\xC1", "missing"};
    std::vector<TQuery> out;
    for (const char* s : sections)
        for (const char* k : keys) out.push_back({s, k});
    return out;
}

struct TWrite {
    const char* Section;
    const char* Key;
    std::optional<std::string> Value;  // nullopt: delete
};

std::vector<TWrite> Writes() {
    return {
        {"s", "k", "new"},
        {"S", "K2", "  lead and trail  "},
        {"newsec", "x", "1"},
        {"s", "dup", std::nullopt},
        {"s", "absent", std::nullopt},
        {"absent", "k", std::nullopt},
        {"s", "empty", ""},
        {"a", "long", std::string(3000, 'w')},
        {"\xC0", "\xE0", "\xE0\xC0"},
        {"s", "k", "new"},
        {" s ", " k ", "spaced"},
        {"s", "q", "\"quoted\""},
        {"", "top", "t"},
        {"s", "k", std::nullopt},
    };
}

class ProfileDifferential : public ::testing::Test {
protected:
    std::unique_ptr<TProfileStore> native = MakeNativeProfileStore(GetACP());
    TProfileStore& system = Win32ProfileStore();
    TTempDir dirNative, dirSystem;

    void CompareReads(const std::string& ours, const std::string& theirs) {
        for (const TQuery& q : Queries()) {
            SCOPED_TRACE(std::string("[") + q.Section + "] " + q.Key);
            EXPECT_EQ(native->GetString(q.Section, q.Key, "dflt  ", ours.c_str()),
                      system.GetString(q.Section, q.Key, "dflt  ", theirs.c_str()));
            EXPECT_EQ(native->GetString(q.Section, q.Key, "", ours.c_str()),
                      system.GetString(q.Section, q.Key, "", theirs.c_str()));
            EXPECT_EQ(native->GetInt(q.Section, q.Key, -99, ours.c_str()),
                      system.GetInt(q.Section, q.Key, -99, theirs.c_str()));
        }
    }
};

TEST_F(ProfileDifferential, ReadsAgreeOverTheCorpus) {
    int n = 0;
    for (const TCase& c : Corpus()) {
        SCOPED_TRACE(c.Name);
        const std::string name = "r" + std::to_string(n++) + ".ini";
        const std::string ours = dirNative.File(name), theirs = dirSystem.File(name);
        if (c.Content) {
            Spit(ours, *c.Content);
            Spit(theirs, *c.Content);
        }
        CompareReads(ours, theirs);
    }
}

TEST_F(ProfileDifferential, WritesAndDeletesLeaveTheSameFiles) {
    int n = 0;
    for (const TCase& c : Corpus()) {
        SCOPED_TRACE(c.Name);
        const std::string name = "w" + std::to_string(n++) + ".ini";
        const std::string ours = dirNative.File(name), theirs = dirSystem.File(name);
        if (c.Content) {
            Spit(ours, *c.Content);
            Spit(theirs, *c.Content);
        }
        for (const TWrite& w : Writes()) {
            SCOPED_TRACE(std::string("write [") + w.Section + "] " + w.Key + (w.Value ? "" : " (delete)"));
            const char* value = w.Value ? w.Value->c_str() : nullptr;
            native->WriteString(w.Section, w.Key, value, ours.c_str());
            system.WriteString(w.Section, w.Key, value, theirs.c_str());
            EXPECT_EQ(FileExists(ours), FileExists(theirs));
            EXPECT_EQ(Slurp(ours), Slurp(theirs));
        }
        CompareReads(ours, theirs);
    }
}

// Two deliberate departures, where the system loses data. Reads still
// agree before the write.
TEST_F(ProfileDifferential, AnEmptySectionNameAfterOthersKeepsItsKeys) {
    const std::string content = "[s]\r\nk=s\r\n[]\r\nk=in empty\r\n";
    const std::string ours = dirNative.File("e.ini"), theirs = dirSystem.File("e.ini");
    Spit(ours, content);
    Spit(theirs, content);
    CompareReads(ours, theirs);
    ASSERT_TRUE(native->WriteString("s", "j", "1", ours.c_str()));
    system.WriteString("s", "j", "1", theirs.c_str());
    // The system writes no "[]", so "k=in empty" would join [s].
    EXPECT_EQ(Slurp(ours), "[s]\r\nk=s\r\nj=1\r\n[]\r\nk=in empty\r\n");
    EXPECT_EQ(native->GetString("s", "k", "", ours.c_str()), "s");
}

TEST_F(ProfileDifferential, AReadOnlyFileIsNeverWritten) {
    // Under Wine run as root the system call writes through the read-only
    // attribute; Windows itself refuses, and so do we.
    const std::string content = "[s]\r\nk=old\r\n";
    const std::string ours = dirNative.File("ro.ini");
    Spit(ours, content);
    SetReadOnly(ours, true);
    EXPECT_FALSE(native->WriteString("s", "k", "new", ours.c_str()));
    EXPECT_FALSE(native->WriteString("s", "k", nullptr, ours.c_str()));
    SetReadOnly(ours, false);
    EXPECT_EQ(Slurp(ours), content);
}

}  // namespace

#endif  // _WIN32

// The web door's rules as a browser or a rebinding attacker meets them:
// which listening addresses the settings take, which Host and Origin
// headers pass, and how wrong tokens slow an address down.

#include <gtest/gtest.h>

#include "app/service/web_auth.h"

namespace {

THttpAddress Address(const std::string& text) {
    THttpAddress a;
    EXPECT_TRUE(ParseHttpAddress(text, a)) << text;
    return a;
}

TEST(WebRules, ListeningAddressesAreNumericAndNamed) {
    const struct {
        const char* Text;
        bool Ok;
        const char* Host;
        int Port;
    } cases[] = {
        {"8080", true, "127.0.0.1", 8080},     {"0.0.0.0:80", true, "0.0.0.0", 80},
        {"[::1]:8443", true, "::1", 8443},     {"[::]:8080", true, "::", 8080},
        {"192.168.1.5:8080", true, "192.168.1.5", 8080},
        {"localhost:8080", false, "", 0},      {"0", false, "", 0},
        {"65536", false, "", 0},               {"::1:8080", false, "", 0},
        {"127.0.0.1", false, "", 0},           {"127.0.0.1:", false, "", 0},
        {" 8080", false, "", 0},               {"[::1]", false, "", 0},
    };
    for (const auto& c : cases) {
        THttpAddress a;
        EXPECT_EQ(ParseHttpAddress(c.Text, a), c.Ok) << c.Text;
        if (c.Ok) {
            EXPECT_EQ(a.Host, c.Host) << c.Text;
            EXPECT_EQ(a.Port, c.Port) << c.Text;
        }
    }
}

TEST(WebRules, OnlyTheDoorsOwnHostNamesPass) {
    const struct {
        const char* Listening;
        const char* Host;
        bool Tls, Ok;
    } cases[] = {
        {"8080", "127.0.0.1:8080", false, true},
        {"8080", "localhost:8080", false, true},
        {"8080", "LocalHost:8080", false, true},
        {"8080", "127.0.0.1:8081", false, false},
        {"8080", "127.0.0.1", false, false},
        {"8080", "evil.example:8080", false, false},   // DNS rebinding
        {"8080", "pi:8080", false, false},              // the machine's name is for other machines
        {"0.0.0.0:8080", "pi:8080", false, true},
        {"0.0.0.0:8080", "pi.local:8080", false, true},
        {"0.0.0.0:8080", "192.168.1.5:8080", false, true},
        {"0.0.0.0:8080", "evil.example:8080", false, false},
        {"0.0.0.0:80", "192.168.1.5", false, true},     // the standard port may be left out
        {"0.0.0.0:443", "192.168.1.5", true, true},
        {"0.0.0.0:443", "192.168.1.5", false, false},
        {"192.168.1.5:8080", "192.168.1.6:8080", false, false},
        {"[::1]:8080", "[::1]:8080", false, true},
        {"[::]:8080", "[fe80::1]:8080", false, true},
        {"8080", "", false, false},
        {"8080", "127.0.0.1:8080:1", false, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HostAllowed(c.Host, Address(c.Listening), c.Tls, "pi"), c.Ok) << c.Listening << " " << c.Host;
}

TEST(WebRules, AChangeComesFromThePageItselfOrFromNoPageAtAll) {
    EXPECT_TRUE(OriginAllowed(std::nullopt, "127.0.0.1:8080", false));
    EXPECT_TRUE(OriginAllowed("http://127.0.0.1:8080", "127.0.0.1:8080", false));
    EXPECT_FALSE(OriginAllowed("https://127.0.0.1:8080", "127.0.0.1:8080", false));
    EXPECT_FALSE(OriginAllowed("http://evil.example", "127.0.0.1:8080", false));
    EXPECT_FALSE(OriginAllowed("null", "127.0.0.1:8080", false));
    EXPECT_EQ(CookieValue("a=1; modemswitch=abc; b=2", "modemswitch"), "abc");
    EXPECT_EQ(CookieValue("xmodemswitch=abc", "modemswitch"), "");
    EXPECT_TRUE(SecretsEqual("0123456789abcdef", "0123456789abcdef"));
    EXPECT_FALSE(SecretsEqual("0123456789abcdef", "0123456789abcdeX"));
    EXPECT_FALSE(SecretsEqual("0123456789abcdef", "0123456789abcdef0"));
    EXPECT_FALSE(SecretsEqual("", "x"));
}

TEST(WebRules, WrongTokensSlowTheirAddressDown) {
    TLoginThrottle throttle;
    EXPECT_EQ(throttle.WaitMs("10.0.0.1", 0), 0);
    const std::int64_t waits[] = {1000, 2000, 4000, 8000, 16000, 30000, 30000};
    std::int64_t now = 0;
    for (const std::int64_t wait : waits) {
        throttle.Failed("10.0.0.1", now);
        EXPECT_EQ(throttle.WaitMs("10.0.0.1", now), wait);
        now += wait;
    }
    EXPECT_EQ(throttle.WaitMs("10.0.0.2", now), 0) << "another address is not slowed";
    throttle.Succeeded("10.0.0.1");
    EXPECT_EQ(throttle.WaitMs("10.0.0.1", now), 0);
    // A flood of addresses is forgotten from the quietest, never grows without end.
    for (int i = 0; i < 5000; ++i) throttle.Failed("10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256), now);
    EXPECT_GT(throttle.WaitMs("10.1.19.135", now), 0);
}

}  // namespace

#include "server/proxyconfig.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/profile.h"
#include "server/pac.h"
#include "util/tempdir.h"

namespace kelvra::server {
namespace {

class ProxyFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.ok());
        ::setenv("XDG_CONFIG_HOME", dir_.Path("config").c_str(), 1);
        ini_ = dir_.Path("kelvraw.ini");
        pac_ = dir_.Path("proxycfg.pac");
    }

    void WriteFile(const std::string& path, const std::string& text) const {
        std::ofstream(path, std::ios::binary) << text;
    }

    // The current environment through one reading or one replacement of the file.
    ProxyEnvironment LoadEnvironment() const {
        return LoadProxyEnvironment(*platform::ProfileDocument::Load(ini_));
    }
    bool SaveEnvironment(const ProxyEnvironment& environment) const {
        auto document = platform::ProfileDocument::Load(ini_);
        return SaveProxyEnvironment(environment, *document) && document->Save(ini_);
    }

    std::string ReadFile(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string Value(const std::string& key) const {
        return platform::GetPrivateProfileString(kProxySection, key, "<missing>", ini_);
    }

    testing::TempDir dir_;
    std::string ini_;
    std::string pac_;
};

ProxyEnvironment Environment(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    ProxyEnvironment environment;
    environment.ipmask = CombineIpMask(a, b, c);
    return environment;
}

ProxyEnvironment EveryScheme() {
    ProxyEnvironment environment = Environment(0, 0, 0);
    environment.Server(ProxyProtocol::kHttp) = {"web.proxy", 8080};
    environment.Server(ProxyProtocol::kHttps) = {"ssl.proxy", 8443};
    environment.Server(ProxyProtocol::kFtp) = {"ftp.proxy", 2121};
    environment.Server(ProxyProtocol::kWais) = {"wais.proxy", 210};
    environment.Server(ProxyProtocol::kGopher) = {"gopher.proxy", 70};
    return environment;
}

// --- the auto-configuration script ------------------------------------------------------------

TEST(ProxyAutoConfigTest, RunningServerTakesHttpAndTheNetworkFollows) {
    EXPECT_EQ(ProxyAutoConfigText(Environment(192, 168, 1), 18080),
              "function FindProxyForURL(url, host) {\n"
              "if (url.substring(0, 5) == \"http:\") {\n"
              "\treturn \"PROXY 127.0.0.1:18080\";\n"
              "}\n"
              "if (isInNet(host, \"192.168.1.0\", \"255.255.255.0\")) return \"DIRECT\";\n"
              "\n"
              "return \"DIRECT\";\n"
              "}\n");
}

TEST(ProxyAutoConfigTest, StoppedWithoutHttpProxyGoesDirect) {
    EXPECT_EQ(ProxyAutoConfigText(Environment(0, 0, 0), 0),
              "function FindProxyForURL(url, host) {\n"
              "if (url.substring(0, 5) == \"http:\") {\n"
              "\treturn \"DIRECT\";\n"
              "}\n"
              "\n"
              "return \"DIRECT\";\n"
              "}\n");
}

TEST(ProxyAutoConfigTest, StoppedSendsLoopbackAndNetworkDirectFirst) {
    ProxyEnvironment environment = Environment(10, 0, 0);
    environment.Server(ProxyProtocol::kHttp) = {"cache.lan", 3128};
    EXPECT_EQ(ProxyAutoConfigText(environment, 0),
              "function FindProxyForURL(url, host) {\n"
              "if (isInNet(host, \"127.0.0.1\", \"255.255.255.255\")) return \"DIRECT\";\n"
              "if (isInNet(host, \"10.0.0.0\", \"255.0.0.0\")) return \"DIRECT\";\n"
              "if (url.substring(0, 5) == \"http:\") {\n"
              "\treturn \"PROXY cache.lan:3128\";\n"
              "}\n"
              "\n"
              "return \"DIRECT\";\n"
              "}\n");
}

TEST(ProxyAutoConfigTest, MaskOctetsOfZeroGiveZeroMaskOctets) {
    // A third octet without a second: 172.0.5.0 with mask 255.0.255.0.
    const std::string text = ProxyAutoConfigText(Environment(172, 0, 5), 8000);
    EXPECT_NE(text.find("if (isInNet(host, \"172.0.5.0\", \"255.0.255.0\")) return \"DIRECT\";\n"),
              std::string::npos);
}

TEST(ProxyAutoConfigTest, HttpProxyNeedsBothHostAndPort) {
    ProxyEnvironment environment = Environment(0, 0, 0);
    environment.Server(ProxyProtocol::kHttp) = {"cache.lan", 0};
    EXPECT_NE(ProxyAutoConfigText(environment, 0).find("\treturn \"DIRECT\";\n}\n"),
              std::string::npos);
    environment.Server(ProxyProtocol::kHttp) = {"", 3128};
    EXPECT_EQ(ProxyAutoConfigText(environment, 0).find("PROXY"), std::string::npos);
}

TEST(ProxyAutoConfigTest, OtherSchemesFollowInTheirOrder) {
    EXPECT_EQ(ProxyAutoConfigText(EveryScheme(), 18080),
              "function FindProxyForURL(url, host) {\n"
              "if (url.substring(0, 5) == \"http:\") {\n"
              "\treturn \"PROXY 127.0.0.1:18080\";\n"
              "}\n"
              "if (url.substring(0, 6) == \"https:\") {\n\treturn \"PROXY ssl.proxy:8443\";\n}\n"
              "if (url.substring(0, 4) == \"ftp:\") {\n\treturn \"PROXY ftp.proxy:2121\";\n}\n"
              "if (url.substring(0, 5) == \"wais:\") {\n\treturn \"PROXY wais.proxy:210\";\n}\n"
              "if (url.substring(0, 7) == \"gopher:\") {\n\treturn \"PROXY gopher.proxy:70\";\n}\n"
              "\n"
              "return \"DIRECT\";\n"
              "}\n");
}

TEST(ProxyAutoConfigTest, SchemesWithoutHostOrPortAreLeftOut) {
    ProxyEnvironment environment = EveryScheme();
    environment.Server(ProxyProtocol::kHttps).port = 0;
    environment.Server(ProxyProtocol::kWais).host.clear();
    const std::string text = ProxyAutoConfigText(environment, 0);
    EXPECT_EQ(text.find("https:"), std::string::npos);
    EXPECT_EQ(text.find("wais:"), std::string::npos);
    EXPECT_NE(text.find("\treturn \"PROXY web.proxy:8080\";\n"), std::string::npos);
    EXPECT_NE(text.find("gopher.proxy:70"), std::string::npos);
}

TEST(ProxyAutoConfigTest, AQuoteInAHostCannotEndTheScriptString) {
    ProxyEnvironment environment = Environment(0, 0, 0);
    environment.Server(ProxyProtocol::kHttp) = {"evil\"; alert(1); \"", 80};
    EXPECT_NE(ProxyAutoConfigText(environment, 0)
                  .find("\treturn \"PROXY evil\\\"; alert(1); \\\":80\";\n"),
              std::string::npos);
}

TEST_F(ProxyFileTest, WritingReplacesTheWholeFile) {
    WriteFile(pac_, std::string(5000, 'x'));
    ASSERT_TRUE(WriteProxyAutoConfig(Environment(192, 168, 1), 18080, pac_));
    EXPECT_EQ(ReadFile(pac_), ProxyAutoConfigText(Environment(192, 168, 1), 18080));
    ASSERT_TRUE(WriteProxyAutoConfig(Environment(192, 168, 1), 0, pac_));
    EXPECT_EQ(ReadFile(pac_), ProxyAutoConfigText(Environment(192, 168, 1), 0));
    EXPECT_FALSE(std::filesystem::exists(pac_ + ".tmp"));
}

TEST_F(ProxyFileTest, AFileThatCannotBeCreatedIsReported) {
    WriteFile(dir_.Path("blocker"), "a file");
    EXPECT_FALSE(WriteProxyAutoConfig(Environment(0, 0, 0), 0, dir_.Path("blocker/proxycfg.pac")));
}

TEST_F(ProxyFileTest, TheSettingsDirectoryIsCreatedOnFirstWrite) {
    const std::string path = SettingsFilePath(false, kPacFileName);
    EXPECT_EQ(path, dir_.Path("config") + "/kelvraw/proxycfg.pac");
    ASSERT_TRUE(WriteProxyAutoConfig(Environment(0, 0, 0), 18080, path));
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST(ProxyAutoConfigHintTest, NamesThePathAsAFileUrl) {
    EXPECT_EQ(ProxyAutoConfigHint("/home/u/.config/kelvraw/proxycfg.pac"),
              "WWWﾌﾞﾗｳｻﾞが Netscape Ver.3 以上の場合、\nWWWﾌﾞﾗｳｻﾞの自動ﾌﾟﾛｷｼ設定の URL 欄に\n\n"
              "file:///home/u/.config/kelvraw/proxycfg.pac\n\nと記入してください.\n"
              "この設定は、次回ﾌﾟﾛｸﾞﾗﾑ起動時から有効となります.\n"
              "(MS-IE4 以下ではこの手法は通用しないようです)");
    EXPECT_NE(ProxyAutoConfigHint("C:\\win\\proxycfg.pac").find("file://C:/win/proxycfg.pac"),
              std::string::npos);
}

// --- the current environment --------------------------------------------------------------------

TEST_F(ProxyFileTest, EnvironmentRoundTripsThroughTheUnsuffixedKeys) {
    ProxyEnvironment environment = EveryScheme();
    environment.ipmask = CombineIpMask(192, 168, 7);
    ASSERT_TRUE(SaveEnvironment(environment));
    EXPECT_EQ(Value("GOPHERadrs"), "gopher.proxy");
    EXPECT_EQ(Value("HTTPSport"), "8443");
    EXPECT_EQ(Value("IPMASK3"), "7");
    EXPECT_EQ(LoadEnvironment(), environment);
}

TEST_F(ProxyFileTest, MissingKeysGiveEmptyHostsAndZeros) {
    EXPECT_EQ(LoadEnvironment(), ProxyEnvironment{});
}

TEST_F(ProxyFileTest, HostsAreWrittenWithoutLeadingWhiteSpace) {
    ProxyEnvironment environment;
    environment.Server(ProxyProtocol::kFtp) = {"  \tftp.gw", 21};
    ASSERT_TRUE(SaveEnvironment(environment));
    EXPECT_NE(ReadFile(ini_).find("FTPadrs=ftp.gw\n"), std::string::npos);
}

TEST(ProxySettingTest, RouteSettingsUseNetworkByteOrder) {
    ProxyEnvironment environment = EveryScheme();
    environment.ipmask = CombineIpMask(192, 168, 1);
    const net::ProxySetting ftp = MakeProxySetting(environment, ProxyProtocol::kFtp);
    EXPECT_EQ(ftp.host, "ftp.proxy");
    EXPECT_EQ(ftp.port, 2121);
    EXPECT_EQ(ftp.local_network, ::inet_addr("192.168.1.0"));
    EXPECT_EQ(MakeProxySetting(ProxyEnvironment{}, ProxyProtocol::kHttp).local_network, 0u);
}

// --- profiles
// -------------------------------------------------------------------------------------

TEST_F(ProxyFileTest, ProfileNamesStopAtTheFirstGap) {
    WriteFile(ini_, "[AutoProxyConfig]\n0=office\n1=home\n3=lost\n");
    EXPECT_EQ(ProxyProfileNames(ini_), (std::vector<std::string>{"office", "home"}));
}

TEST_F(ProxyFileTest, SavedProfileWritesItsThirteenKeys) {
    ProxyEnvironment environment = EveryScheme();
    environment.ipmask = CombineIpMask(10, 1, 0);
    ASSERT_EQ(SaveProxyProfile("office", environment, ini_), 0);
    EXPECT_EQ(Value("0"), "office");
    const char* keys[] = {"HTTPadrs.0", "HTTPport.0", "HTTPSadrs.0", "HTTPSport.0",  "FTPadrs.0",
                          "FTPport.0",  "WAISadrs.0", "WAISport.0",  "GOPHERadrs.0", "GOPHERport.0",
                          "IPMASK1.0",  "IPMASK2.0",  "IPMASK3.0"};
    for (const char* key : keys) EXPECT_NE(Value(key), "<missing>") << key;
    EXPECT_EQ(Value("IPMASK2.0"), "1");
    EXPECT_EQ(Value("WAISport.0"), "210");
    EXPECT_EQ(LoadProxyProfile(0, ini_), environment);
    // The current values are untouched.
    EXPECT_EQ(Value("HTTPadrs"), "<missing>");
}

TEST_F(ProxyFileTest, NewNamesTakeTheNextNumberAndKnownNamesKeepTheirs) {
    ProxyEnvironment first = Environment(10, 0, 0);
    ProxyEnvironment second = EveryScheme();
    ASSERT_EQ(SaveProxyProfile("office", first, ini_), 0);
    ASSERT_EQ(SaveProxyProfile("home", second, ini_), 1);
    // Same name again: overwrites profile 0, keeps its number.
    ASSERT_EQ(SaveProxyProfile("office", second, ini_), 0);
    EXPECT_EQ(ProxyProfileNames(ini_), (std::vector<std::string>{"office", "home"}));
    EXPECT_EQ(LoadProxyProfile(0, ini_), second);
}

TEST_F(ProxyFileTest, NamesLoseLeadingWhiteSpaceAndEmptyNamesCancel) {
    EXPECT_EQ(SaveProxyProfile("", EveryScheme(), ini_), -1);
    EXPECT_EQ(SaveProxyProfile(" \t ", EveryScheme(), ini_), -1);
    EXPECT_FALSE(std::filesystem::exists(ini_)) << "a cancelled save writes nothing";
    ASSERT_EQ(SaveProxyProfile("  cafe", EveryScheme(), ini_), 0);
    EXPECT_EQ(Value("0"), "cafe");
    EXPECT_EQ(SaveProxyProfile("cafe", Environment(1, 2, 3), ini_), 0);
}

TEST_F(ProxyFileTest, MissingProfileKeysGiveEmptyHostsAndZeros) {
    WriteFile(ini_, "[AutoProxyConfig]\n0=partial\nHTTPadrs.0=only.host\nIPMASK1.0=300\n");
    ProxyEnvironment expected;
    expected.Server(ProxyProtocol::kHttp).host = "only.host";
    EXPECT_EQ(LoadProxyProfile(0, ini_), expected);
    EXPECT_EQ(LoadProxyProfile(7, ini_), ProxyEnvironment{});
}

TEST_F(ProxyFileTest, AtMostTwoHundredFiftySixProfiles) {
    std::string text = "[AutoProxyConfig]\n";
    for (int i = 0; i < kMaxProxyProfiles; ++i)
        text += std::to_string(i) + "=p" + std::to_string(i) + "\n";
    text += "256=beyond\n";
    WriteFile(ini_, text);
    EXPECT_EQ(ProxyProfileNames(ini_).size(), 256u);
    EXPECT_EQ(SaveProxyProfile("one more", EveryScheme(), ini_), -1);
    EXPECT_EQ(SaveProxyProfile("p255", EveryScheme(), ini_), 255) << "a known name still saves";
}

}  // namespace
}  // namespace kelvra::server

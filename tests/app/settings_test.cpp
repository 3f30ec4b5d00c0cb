#include "app/settings.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "app/ini_fixture.h"

namespace kelvra::app {
namespace {

using Field = std::function<long long(const AppSettings&)>;

// --- defaults --------------------------------------------------------------------------------

struct DefaultRow {
    const char* key;
    Field field;
    long long expected;
};

TEST(SettingsDefaults, NumbersMatchTheKeyTable) {
    const DefaultRow rows[] = {
        {"Separator", [](const AppSettings& s) { return s.separator; }, 200},
        {"Flags", [](const AppSettings& s) { return s.flags; }, 0},
        {"TreeDoubleClicked", [](const AppSettings& s) { return s.tree_double_clicked; }, 255},
        {"GetThread", [](const AppSettings& s) { return s.get_thread; }, 8},
        {"GetTimeout", [](const AppSettings& s) { return s.get_timeout; }, 180},
        {"RetryCount", [](const AppSettings& s) { return s.retry_count; }, 0},
        {"SizeLimit", [](const AppSettings& s) { return s.size_limit; }, 0},
        {"RunAtStart", [](const AppSettings& s) { return s.run_at_start; }, 0},
        {"Port", [](const AppSettings& s) { return s.port; }, 18080},
        {"Threads", [](const AppSettings& s) { return s.threads; }, 4},
        {"KeepAlive", [](const AppSettings& s) { return s.keep_alive; }, 5},
        {"NotFoundResult", [](const AppSettings& s) { return s.not_found_result; }, 404},
        {"ReloadPage", [](const AppSettings& s) { return s.reload_page; }, 1},
        {"SavePOST", [](const AppSettings& s) { return s.save_post; }, 0},
        {"SaveCookie", [](const AppSettings& s) { return s.save_cookie; }, 0},
        {"IPMASK", [](const AppSettings& s) { return s.proxy.ipmask; }, 0},
        {"HTTPport", [](const AppSettings& s) { return s.proxy.servers[0].port; }, 0},
    };
    const AppSettings defaults;
    for (const DefaultRow& row : rows) EXPECT_EQ(row.field(defaults), row.expected) << row.key;
}

TEST(SettingsDefaults, TextsMatchTheKeyTable) {
    const AppSettings s;
    EXPECT_EQ(s.root_file_name, "index.html");
    EXPECT_EQ(s.ftp_userid, "anonymous");
    EXPECT_EQ(s.ftp_password, "");
    EXPECT_EQ(s.base_directory, "");
    EXPECT_EQ(s.backup_dir, "");
    EXPECT_EQ(s.help_file, "");
    EXPECT_EQ(s.progress_log, "");
    for (const auto& server : s.proxy.servers) EXPECT_EQ(server.host, "");
}

class SettingsLoadTest : public testing::IniFileTest {
  protected:
    AppSettings Load() {
        AppSettings settings;
        // Start from values unlike the defaults: loading must set every field.
        settings.separator = -9;
        settings.root_file_name = "junk";
        settings.port = 1;
        settings.proxy.ipmask = 0xFFFFFF;
        LIFOClass history(kHistoryCapacity);
        LoadSettings(settings, history, ini_);
        return settings;
    }
};

TEST_F(SettingsLoadTest, MissingFileGivesDefaults) {
    EXPECT_EQ(Load(), AppSettings{});
}

TEST_F(SettingsLoadTest, EmptySectionsGiveDefaults) {
    WriteIni("[General]\n[Orvane]\n[AutoProxyConfig]\n[WindowMetrix]\n");
    EXPECT_EQ(Load(), AppSettings{});
}

// --- range rules -------------------------------------------------------------------------------

struct RangeRow {
    const char* section;
    const char* key;
    const char* stored;
    Field field;
    long long expected;
    const char* why;
};

const Field kGetThread = [](const AppSettings& s) { return s.get_thread; };
const Field kThreads = [](const AppSettings& s) { return s.threads; };
const Field kRetry = [](const AppSettings& s) { return s.retry_count; };
const Field kPort = [](const AppSettings& s) { return s.port; };
const Field kReload = [](const AppSettings& s) { return s.reload_page; };
const Field kSizeBytes = [](const AppSettings& s) { return s.SizeLimitBytes(); };

class SettingsRangeTest : public SettingsLoadTest,
                          public ::testing::WithParamInterface<RangeRow> {};

TEST_P(SettingsRangeTest, StoredValueLoadsAsTheRuleSays) {
    const RangeRow& row = GetParam();
    WriteIni(std::string("[") + row.section + "]\n" + row.key + "=" + row.stored + "\n");
    EXPECT_EQ(row.field(Load()), row.expected) << row.why;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SettingsRangeTest,
    ::testing::Values(
        RangeRow{"General", "GetThread", "0", kGetThread, 8, "below 1 becomes 8"},
        RangeRow{"General", "GetThread", "11", kGetThread, 8, "above 10 becomes 8"},
        RangeRow{"General", "GetThread", "1", kGetThread, 1, "lower bound kept"},
        RangeRow{"General", "GetThread", "10", kGetThread, 10, "upper bound kept"},
        RangeRow{"General", "GetThread", "65537", kGetThread, 8, "no 16-bit wrap to 1"},
        RangeRow{"General", "GetThread", "many", kGetThread, 8, "not a number reads 0"},
        RangeRow{"Orvane", "Threads", "0", kThreads, 20, "below 1 becomes 20"},
        RangeRow{"Orvane", "Threads", "21", kThreads, 20, "above 20 becomes 20"},
        RangeRow{"Orvane", "Threads", "1", kThreads, 1, "lower bound kept"},
        RangeRow{"Orvane", "Threads", "20", kThreads, 20, "upper bound kept"},
        RangeRow{"General", "RetryCount", "255", kRetry, 255, "8-bit maximum kept"},
        RangeRow{"General", "RetryCount", "256", kRetry, 0, "beyond 8 bits: default"},
        RangeRow{"General", "RetryCount", "-1", kRetry, 0, "negative: default"},
        RangeRow{"Orvane", "Port", "65535", kPort, 65535, "16-bit maximum kept"},
        RangeRow{"Orvane", "Port", "70000", kPort, 18080, "beyond 16 bits: default"},
        RangeRow{"Orvane", "Port", "-1", kPort, 18080, "negative: default"},
        RangeRow{"Orvane", "KeepAlive", "0", [](const AppSettings& s) { return s.keep_alive; }, 0,
                 "0 = no keep-alive"},
        RangeRow{"Orvane", "KeepAlive", "-5", [](const AppSettings& s) { return s.keep_alive; }, 5,
                 "negative: default"},
        RangeRow{"Orvane", "NotFoundResult", "410",
                 [](const AppSettings& s) { return s.not_found_result; }, 410, "kept"},
        RangeRow{"Orvane", "ReloadPage", "7", kReload, 1, "non-zero reads as 1"},
        RangeRow{"Orvane", "ReloadPage", "0", kReload, 0, "0 switches it off"},
        RangeRow{"Orvane", "SavePOST", "2", [](const AppSettings& s) { return s.save_post; }, 1,
                 "non-zero reads as 1"},
        RangeRow{"Orvane", "SaveCookie", "1", [](const AppSettings& s) { return s.save_cookie; }, 1,
                 "on"},
        RangeRow{"Orvane", "RunAtStart", "18",
                 [](const AppSettings& s) { return s.run_at_start & kServerModeBits; }, 2,
                 "18: Proxy Mode"},
        RangeRow{"Orvane", "RunAtStart", "18",
                 [](const AppSettings& s) { return s.run_at_start & kAlwaysUseStoredData; }, 0x10,
                 "18: stored data always used"},
        RangeRow{"General", "TreeDoubleClicked", "7",
                 [](const AppSettings& s) { return s.tree_double_clicked; }, 7,
                 "any value kept (does nothing)"},
        RangeRow{"General", "GetTimeout", "0", [](const AppSettings& s) { return s.get_timeout; },
                 0, "0 = no limit"},
        RangeRow{"General", "SizeLimit", "0", kSizeBytes, 0, "0 = no limit"},
        RangeRow{"General", "SizeLimit", "2097151", kSizeBytes, 2097151LL * 1024,
                 "dialog maximum in bytes"},
        RangeRow{"General", "SizeLimit", "5000000", kSizeBytes, 5000000LL * 1024,
                 "no 32-bit overflow in bytes"},
        RangeRow{"General", "SizeLimit", "-4", kSizeBytes, 0, "negative: no limit"},
        RangeRow{"WindowMetrix", "Separator", "333",
                 [](const AppSettings& s) { return s.separator; }, 333, "kept"},
        RangeRow{"WindowMetrix", "Flags", "5", [](const AppSettings& s) { return s.flags; }, 5,
                 "kept"},
        RangeRow{"AutoProxyConfig", "HTTPport", "3128",
                 [](const AppSettings& s) { return s.proxy.servers[0].port; }, 3128, "kept"},
        RangeRow{"AutoProxyConfig", "GOPHERport", "70000",
                 [](const AppSettings& s) { return s.proxy.servers[4].port; }, 0,
                 "no port wrap: unset"},
        RangeRow{"AutoProxyConfig", "IPMASK1", "256",
                 [](const AppSettings& s) { return s.proxy.ipmask; }, 0, "no octet wrap"}));

// --- texts ---------------------------------------------------------------------------------------

struct TextRow {
    const char* key;
    std::string stored;
    std::function<std::string(const AppSettings&)> field;
    std::string expected;
    const char* why;
};

class SettingsTextTest : public SettingsLoadTest, public ::testing::WithParamInterface<TextRow> {};

TEST_P(SettingsTextTest, StoredTextLoadsAsTheRuleSays) {
    const TextRow& row = GetParam();
    WriteIni("[General]\n" + std::string(row.key) + "=" + row.stored + "\n");
    EXPECT_EQ(row.field(Load()), row.expected) << row.why;
}

const auto kRoot = [](const AppSettings& s) { return s.root_file_name; };
const auto kLog = [](const AppSettings& s) { return s.progress_log; };

INSTANTIATE_TEST_SUITE_P(
    Rows, SettingsTextTest,
    ::testing::Values(
        TextRow{"RootFileName", "default.htm", kRoot, "default.htm", "kept"},
        TextRow{"RootFileName", std::string(300, 'r'), kRoot, std::string(255, 'r'),
                "cut to 255 bytes"},
        TextRow{"RootFileName", "", kRoot, "index.html", "empty would name the directory"},
        TextRow{"RootFileName", "..", kRoot, "index.html", "a directory step"},
        TextRow{"RootFileName", "a/b.html", kRoot, "index.html", "would leave the directory"},
        TextRow{"FTPpassword", std::string(256, 'p'),
                [](const AppSettings& s) { return s.ftp_password; }, std::string(255, 'p'),
                "cut to 255 bytes"},
        TextRow{"FTPuserid", "ftpuser", [](const AppSettings& s) { return s.ftp_userid; },
                "ftpuser", "kept"},
        TextRow{"BaseDirectory", "/no/such/dir",
                [](const AppSettings& s) { return s.base_directory; }, "/no/such/dir",
                "the key keeps its text"},
        TextRow{"BackupDir", "/b", [](const AppSettings& s) { return s.backup_dir; }, "/b", "kept"},
        TextRow{"HelpFile", "help.chm", [](const AppSettings& s) { return s.help_file; },
                "help.chm", "kept"},
        TextRow{"ProgressLog", "progress.csv", kLog, "progress.csv", "a plain name"},
        TextRow{"ProgressLog", "logs/progress.csv", kLog, "", "names a place, not a file"},
        TextRow{"ProgressLog", "kelvra.hif", kLog, "", "the history"},
        TextRow{"ProgressLog", "kelvra.log.tmp", kLog, "", "the journal"},
        TextRow{"ProgressLog", "KELVRAW.CF", kLog, "", "the conditions, in any case"},
        TextRow{"ProgressLog", "failed.rlf", kLog, "", "a retry list"},
        TextRow{"ProgressLog", "../outside.csv", kLog, "", "leaves the data directory"},
        TextRow{"ProgressLog", "a/../../x.csv", kLog, "", "leaves it further down"},
        TextRow{"ProgressLog", "/etc/passwd", kLog, "", "absolute"}));

TEST_F(SettingsLoadTest, ProxyHostsAreCutTo255Bytes) {
    WriteIni("[AutoProxyConfig]\nHTTPadrs=" + std::string(300, 'h') + "\n");
    EXPECT_EQ(Load().proxy.servers[0].host, std::string(255, 'h'));
}

TEST_F(SettingsLoadTest, ConnectPortsTakeEveryPortNumberOfTheList) {
    WriteIni("[Orvane]\nConnectPorts=8443, 563,x,0,70000,12a,993\n");
    EXPECT_EQ(Load().connect_ports, (std::vector<int>{8443, 563, 993}));
}

// --- the local network mask -------------------------------------------------------------------

TEST_F(SettingsLoadTest, MaskOctetsCombineLowestFirst) {
    WriteIni("[AutoProxyConfig]\nIPMASK1=192\nIPMASK2=168\nIPMASK3=1\n");
    const AppSettings s = Load();
    EXPECT_EQ(s.proxy.ipmask, 192u | 168u << 8 | 1u << 16);
    EXPECT_EQ(s.proxy.MaskOctet(0), 192u);
    EXPECT_EQ(s.proxy.MaskOctet(1), 168u);
    EXPECT_EQ(s.proxy.MaskOctet(2), 1u);
}

TEST_F(SettingsLoadTest, CrawlProxySettingsCarryHostPortAndLocalNetwork) {
    WriteIni(
        "[AutoProxyConfig]\nHTTPadrs=cache.example\nHTTPport=3128\nFTPadrs=ftpgw\nFTPport=21\n"
        "IPMASK1=10\nIPMASK2=0\nIPMASK3=0\n");
    const AppSettings s = Load();
    const net::ProxySetting http = s.HttpProxySetting();
    const net::ProxySetting ftp = s.FtpProxySetting();
    EXPECT_EQ(http.host, "cache.example");
    EXPECT_EQ(http.port, 3128);
    EXPECT_EQ(ftp.host, "ftpgw");
    EXPECT_EQ(ftp.port, 21);
    // Network byte order, as resolved addresses are compared with it.
    EXPECT_EQ(http.local_network, ::inet_addr("10.0.0.0"));
    EXPECT_EQ(ftp.local_network, ::inet_addr("10.0.0.0"));
}

// --- saving --------------------------------------------------------------------------------------

AppSettings Changed() {
    AppSettings s;
    s.separator = 150;
    s.flags = 6;
    s.root_file_name = "top.htm";
    s.tree_double_clicked = 2;
    s.get_thread = 3;
    s.ftp_password = "me@example.org";
    s.ftp_userid = "guest";
    s.get_timeout = 60;
    s.base_directory = "/srv/spool";
    s.backup_dir = "/srv/backup";
    s.retry_count = 4;
    s.size_limit = 2048;
    s.help_file = "/usr/share/doc/help.html";
    s.run_at_start = 0x23;
    s.port = 8081;
    s.threads = 12;
    s.reload_page = false;
    s.save_post = true;
    s.save_cookie = true;
    s.proxy.servers[0] = {"proxy.lan", 8080};
    s.proxy.servers[1] = {"secure.lan", 8443};
    s.proxy.servers[2] = {"ftp.lan", 2121};
    s.proxy.servers[3] = {"wais.lan", 210};
    s.proxy.servers[4] = {"gopher.lan", 70};
    s.proxy.ipmask = server::CombineIpMask(172, 16, 0);
    return s;
}

class SettingsSaveTest : public testing::IniFileTest {};

TEST_F(SettingsSaveTest, SaveThenLoadRoundTrips) {
    LIFOClass history(kHistoryCapacity);
    history.Add("http://a.example/");
    history.Add("http://b.example/");
    ASSERT_TRUE(SaveSettings(Changed(), history, ini_));

    AppSettings loaded;
    LIFOClass reloaded(kHistoryCapacity);
    LoadSettings(loaded, reloaded, ini_);
    EXPECT_EQ(loaded, Changed());
    ASSERT_EQ(reloaded.Count(), 2u);
    EXPECT_EQ(*reloaded.Get(0), "http://b.example/");
    EXPECT_EQ(*reloaded.Get(1), "http://a.example/");
}

TEST_F(SettingsSaveTest, ReadOnlyKeysAreNeverWritten) {
    AppSettings s;
    s.progress_log = "p.csv";
    s.keep_alive = 9;
    s.not_found_result = 200;
    ASSERT_TRUE(SaveSettings(s, LIFOClass(kHistoryCapacity), ini_));
    EXPECT_EQ(Value("General", "ProgressLog"), "<missing>");
    EXPECT_EQ(Value("Orvane", "KeepAlive"), "<missing>");
    EXPECT_EQ(Value("Orvane", "NotFoundResult"), "<missing>");
    // A hand-written value survives a save.
    WriteIni("[Orvane]\nKeepAlive=0\n");
    ASSERT_TRUE(SaveSettings(s, LIFOClass(kHistoryCapacity), ini_));
    EXPECT_EQ(Value("Orvane", "KeepAlive"), "0");
}

TEST_F(SettingsSaveTest, EveryWrittenKeyIsPresent) {
    ASSERT_TRUE(SaveSettings(AppSettings{}, LIFOClass(kHistoryCapacity), ini_));
    const char* general[] = {"RootFileName", "TreeDoubleClicked", "GetThread",     "FTPpassword",
                             "FTPuserid",    "GetTimeout",        "BaseDirectory", "BackupDir",
                             "RetryCount",   "SizeLimit",         "HelpFile"};
    for (const char* key : general) EXPECT_NE(Value("General", key), "<missing>") << key;
    const char* orvane[] = {"RunAtStart", "Port",     "Threads",
                            "ReloadPage", "SavePOST", "SaveCookie"};
    for (const char* key : orvane) EXPECT_NE(Value("Orvane", key), "<missing>") << key;
    const char* proxy[] = {"HTTPadrs", "HTTPport", "HTTPSadrs", "HTTPSport",  "FTPadrs",
                           "FTPport",  "WAISadrs", "WAISport",  "GOPHERadrs", "GOPHERport",
                           "IPMASK1",  "IPMASK2",  "IPMASK3"};
    for (const char* key : proxy) EXPECT_NE(Value("AutoProxyConfig", key), "<missing>") << key;
    EXPECT_EQ(Value("WindowMetrix", "Separator"), "200");
    EXPECT_EQ(Value("WindowMetrix", "Flags"), "0");
    EXPECT_EQ(Value("General", "TreeDoubleClicked"), "255");
    EXPECT_EQ(Value("Orvane", "Port"), "18080");
}

TEST_F(SettingsSaveTest, ReloadPageOfSevenIsWrittenBackAsOne) {
    WriteIni("[Orvane]\nReloadPage=7\n");
    AppSettings s;
    LIFOClass history(kHistoryCapacity);
    LoadSettings(s, history, ini_);
    ASSERT_TRUE(SaveSettings(s, history, ini_));
    EXPECT_EQ(Value("Orvane", "ReloadPage"), "1");
}

TEST_F(SettingsSaveTest, TextsLoseLeadingControlAndBlankBytesOnly) {
    AppSettings s;
    s.root_file_name = " \t\x01page.html";
    // Shift_JIS bytes are above 0x7F: they are text, not blanks.
    s.ftp_password = "\x82\xa0pass";
    s.help_file = "a b ";
    ASSERT_TRUE(SaveSettings(s, LIFOClass(kHistoryCapacity), ini_));
    EXPECT_EQ(Value("General", "RootFileName"), "page.html");
    EXPECT_EQ(Value("General", "FTPpassword"), "\x82\xa0pass");
    EXPECT_NE(ReadIni().find("HelpFile=a b \n"), std::string::npos);
}

TEST_F(SettingsSaveTest, CreatesTheSettingsDirectory) {
    const std::string nested = dir_.Path("config/kelvraw/kelvraw.ini");
    ASSERT_TRUE(SaveSettings(AppSettings{}, LIFOClass(kHistoryCapacity), nested));
    EXPECT_TRUE(std::filesystem::exists(nested));
}

TEST_F(SettingsSaveTest, ReportsAFileThatCannotBeWritten) {
    std::ofstream(dir_.Path("blocker")) << "a file, not a directory";
    EXPECT_FALSE(
        SaveSettings(AppSettings{}, LIFOClass(kHistoryCapacity), dir_.Path("blocker/kelvraw.ini")));
}

TEST_F(SettingsSaveTest, KeepsForeignSectionsAndComments) {
    WriteIni("; my notes\n[Condition]\nClasses=3\n");
    ASSERT_TRUE(SaveSettings(Changed(), LIFOClass(kHistoryCapacity), ini_));
    const std::string text = ReadIni();
    EXPECT_EQ(text.rfind("; my notes\n[Condition]\nClasses=3\n", 0), 0u);
}

// --- paths and the data directory -------------------------------------------------------------

TEST_F(SettingsSaveTest, IniLivesInTheSettingsDirectoryOrTheCurrentOne) {
    EXPECT_EQ(IniFilePath(false), dir_.Path("config") + "/kelvraw/kelvraw.ini");
    const std::string cd = IniFilePath(true);
    EXPECT_EQ(cd, std::filesystem::current_path().string() + "/kelvraw.ini");
}

TEST_F(SettingsSaveTest, DataDirectoryFallsBackToTheStartDirectory) {
    const std::string start = dir_.Path("start");
    std::filesystem::create_directory(dir_.Path("spool"));
    std::ofstream(dir_.Path("plainfile")) << "x";
    struct Row {
        std::string base;
        std::string expected;
        const char* why;
    };
    const Row rows[] = {
        {"", start + "/", "empty: the start directory"},
        {dir_.Path("spool"), dir_.Path("spool") + "/", "an existing directory"},
        {dir_.Path("spool") + "/", dir_.Path("spool") + "/", "already ends in '/'"},
        {dir_.Path("plainfile"), start + "/", "names a file"},
        {dir_.Path("missing"), start + "/", "does not exist"},
    };
    for (const Row& row : rows) {
        AppSettings s;
        s.base_directory = row.base;
        EXPECT_EQ(DataDirectory(s, start), row.expected) << row.why;
        EXPECT_EQ(s.base_directory, row.base) << "the setting keeps its text";
    }
}

}  // namespace
}  // namespace kelvra::app

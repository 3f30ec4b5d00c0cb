#include "app/startup.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "app/settings.h"
#include "platform/settingsdir.h"
#include "server/proxyconfig.h"
#include "store/store_record.h"
#include "util/crc32.h"

namespace kelvra::app {
namespace {

constexpr char kBrokenHeaderFile[] =
    "速やかに「高速終了」し、履歴情報を確認してください\n(code = %ld)";
constexpr char kBrokenHeaderFileCaption[] = "履歴情報ﾌｧｲﾙ kelvra.hif が壊れている可能性があります";
constexpr char kBrokenFileKeptBefore[] = "読み込めなかった kelvra.hif は ";
constexpr char kBrokenFileKeptAfter[] = " として残しました";
constexpr char kBrokenFileNotKept[] =
    "読み込めなかった kelvra.hif を別名で残せないため、kelvra.hif は保存されません";
constexpr char kRepairNotice[] =
    "履歴情報が不足していると思われるため\n前回の取得ﾛｸﾞより履歴情報を補います";
constexpr char kRepairNoticeCaption[] = "前回ﾌﾟﾛｸﾞﾗﾑが異常終了した可能性があります";
constexpr char kRepairFailed[] = "取得ﾛｸﾞが異常です";
constexpr char kRepairFailedCaption[] = "履歴情報修復の失敗";

constexpr char kMimeTableMissing[] =
    "kelvra.mtfが見つかりません.\nkelvra.mtfをﾌﾟﾛｸﾞﾗﾑと同ﾃﾞｨﾚｸﾄﾘに入れてください.";

std::string WithSlash(std::string path) {
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

std::string ExecutablePath() {
    std::vector<char> buffer(4096);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) return {};
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

bool Readable(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    std::fclose(file);
    return true;
}

// The records after the break are only in the file a save would replace: say where it is.
void ReportKeptFile(UserInterface& ui, const store::headerlistex& store,
                    const std::optional<std::string>& kept) {
    if (!kept) {
        ShowMessage(ui, kBrokenFileNotKept, kBrokenHeaderFileCaption, MessageIcon::kStop);
        return;
    }
    ShowMessage(ui, kBrokenFileKeptBefore + store.DataPath(*kept) + kBrokenFileKeptAfter,
                kBrokenHeaderFileCaption, MessageIcon::kExclamation);
}

}  // namespace

std::string ProgramDirectory(std::string_view argv0) {
    // The program may have been found through PATH, so argument 0 need not name its directory.
    std::string path = ExecutablePath();
    if (path.empty()) path = std::string(argv0);
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return CurrentDirectory();
    return path.substr(0, slash + 1);
}

bool UseCurrentDirectoryOption(int argc, const char* const* argv) {
    return argc >= 2 && std::strcmp(argv[1], "-cd") == 0;
}

std::optional<ProgramEnvironment> PrepareProgram(UserInterface& ui, int argc,
                                                 const char* const* argv) {
    ProgramEnvironment environment;
    environment.mime_table_path = ProgramDirectory(argc > 0 ? argv[0] : "") + kMimeTableName;
    if (!Readable(environment.mime_table_path)) {
        ShowMessage(ui, kMimeTableMissing, kStartupErrorCaption, MessageIcon::kStop);
        return std::nullopt;
    }
    environment.use_current_directory = UseCurrentDirectoryOption(argc, argv);
    environment.ini_path = IniFilePath(environment.use_current_directory);
    environment.pac_path =
        server::SettingsFilePath(environment.use_current_directory, server::kPacFileName);
    return environment;
}

std::unique_ptr<InstanceLock> InstanceLock::Acquire(const std::string& settings_directory) {
    // A name in the abstract socket namespace: nothing is left on disk, and the system frees
    // it when the process ends, however it ends.
    char name[64];
    const std::uint32_t crc = util::Crc32(settings_directory.data(), settings_directory.size());
    const int length = std::snprintf(name, sizeof name, "KelvraW.%u.%08x",
                                     static_cast<unsigned>(getuid()), static_cast<unsigned>(crc));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name, static_cast<std::size_t>(length));
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
        close(fd);
        return nullptr;
    }
    return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

InstanceLock::~InstanceLock() {
    close(fd_);
}

std::string CurrentDirectory() {
    std::vector<char> buffer(4096);
    if (!getcwd(buffer.data(), buffer.size())) return "./";
    return WithSlash(buffer.data());
}

bool StaysInside(std::string_view name) {
    if (name.empty() || name.front() == '/') return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string_view::npos) end = name.size();
        if (name.substr(start, end - start) == "..") return false;
        start = end + 1;
    }
    return true;
}

bool DeleteProgressLog(const std::string& data_directory, const std::string& name) {
    if (!StaysInside(name)) return false;
    const std::string path = data_directory + name;
    if (access(path.c_str(), W_OK) != 0) return false;
    return unlink(path.c_str()) == 0;
}

long ReplayJournal(store::headerlistex& store) {
    store::FilePtr file = store.OpenFile(kJournalFileName, "rb");
    if (!file) return 0;
    store::HifRecordReader reader(file.get());
    std::string record;
    long count = 0;
    store::HifRecordReader::Result result;
    while ((result = reader.Next(record)) == store::HifRecordReader::Result::kRecord) {
        if (record.front() == '#') continue;  // a fetch that failed changed nothing
        const std::size_t lf = record.find('\n');
        if (lf == std::string::npos) continue;
        const std::string_view key(record.data(), lf);
        const std::string_view text = std::string_view(record).substr(lf + 1);
        if (key.size() >= store::kMaxLoadedKey || text.size() >= store::kMaxLoadedText) continue;
        // Each commit added its record with overwrite, so replaying does the same.
        if (store.Add(key, text, true)) ++count;
    }
    return result == store::HifRecordReader::Result::kError ? -count : count;
}

void LoadHeaderInformation(UserInterface& ui, store::headerlistex& store) {
    const long loaded = store.Load(kHeaderFileName);
    // A load that broke at its first record counts 0, like a missing file: ask the store.
    if (store.LoadStoppedEarly(kHeaderFileName)) {
        char text[sizeof kBrokenHeaderFile + 24];
        std::snprintf(text, sizeof text, kBrokenHeaderFile, loaded);
        ShowMessage(ui, text, kBrokenHeaderFileCaption, MessageIcon::kExclamation);
        ReportKeptFile(ui, store, store.KeepStoppedLoad(kHeaderFileName));
        return;
    }
    if (store.AccessFile(kJournalFileName, R_OK) != 0) return;
    ShowMessage(ui, kRepairNotice, kRepairNoticeCaption, MessageIcon::kExclamation);
    const long replayed = ReplayJournal(store);
    if (replayed < 1) ShowMessage(ui, kRepairFailed, kRepairFailedCaption, MessageIcon::kStop);
    // A journal cut short by a killed run still holds the records before the cut: keep them.
    if (replayed != 0) store.SetChanged(true);
}

}  // namespace kelvra::app

#pragma once
// The dialogs of the desktop program: the number field, the settings dialog, the proxy
// settings dialog with its profiles, and the local server's status monitor.

#include <QDialog>
#include <QLineEdit>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/lifo.h"
#include "app/settings.h"
#include "app/userinterface.h"
#include "server/proxyconfig.h"
#include "server/servermonitor.h"

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QSlider;

namespace kelvra::gui {

inline constexpr char kNumberErrorCaption[] = "数値入力ｴﾗｰ";

// A text field for a number within a range. Leaving it with a number outside the range tells
// the user, undoes the edit and keeps the focus there.
class NumberEdit final : public QLineEdit {
  public:
    NumberEdit(app::UserInterface& ui, long min, long max, QWidget* parent);

    // The decimal number at the start of the text, 0 when there is none.
    long Value() const;
    // Refused (false) outside the range.
    bool SetValue(long value);
    // What leaving the field does; true when the value is in range.
    bool CheckRange();

  protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    bool InRange() const;

    app::UserInterface& ui_;
    long min_;
    long max_;
    QString accepted_;  // the text before the edit that leaving the field may undo
};

// Picks a folder starting from a path; none when cancelled.
using FolderChooser = std::function<std::optional<std::string>(const std::string& start)>;

// "環境設定ﾀﾞｲｱﾛｸﾞ": the part of the settings the user edits. Every control carries the name of
// the key it edits as its object name.
class ConfigDialog final : public QDialog {
  public:
    ConfigDialog(const app::ConfigDialogFields& fields, app::UserInterface& ui,
                 FolderChooser choose_folder, QWidget* parent);

    app::ConfigDialogFields Fields() const;
    // OK only when every number field is in range.
    void accept() override;

  private:
    QWidget* GeneralPage(app::UserInterface& ui);
    QWidget* ServerPage(app::UserInterface& ui);
    void Fill(const app::ConfigDialogFields& fields);
    void BrowseFolder();

    FolderChooser choose_folder_;
    QLineEdit* root_file_name_ = nullptr;
    NumberEdit* size_limit_ = nullptr;
    NumberEdit* get_timeout_ = nullptr;
    NumberEdit* retry_count_ = nullptr;
    QCheckBox* save_cookie_ = nullptr;
    QSlider* get_thread_ = nullptr;
    QButtonGroup* double_click_ = nullptr;
    QSlider* threads_ = nullptr;
    NumberEdit* port_ = nullptr;
    QCheckBox* reload_page_ = nullptr;
    QCheckBox* save_post_ = nullptr;
    QButtonGroup* start_mode_ = nullptr;
    QButtonGroup* data_use_ = nullptr;
    QLineEdit* ftp_password_ = nullptr;
    QLineEdit* base_directory_ = nullptr;
};

inline constexpr char kProfileNamePrompt[] = "現在の設定の名前を付けてください";

// The proxy settings dialog: the upstream proxy of each scheme, the local network reached
// without proxy, and the named profiles kept in kelvraw.ini.
class AutoProxCfgDlg final : public QDialog {
  public:
    AutoProxCfgDlg(const server::ProxyEnvironment& environment, std::string ini_path,
                   app::UserInterface& ui, QWidget* parent);

    // The fields as OK copies them back.
    server::ProxyEnvironment Environment() const;
    // Fills the fields from profile number.
    void LoadProfile(int number);
    // Asks for a name and stores the fields under it.
    void SaveProfile();
    // The load menu: one action per profile, in number order.
    QMenu* LoadMenu() const { return load_menu_; }
    void accept() override;

  private:
    void Fill(const server::ProxyEnvironment& environment);
    void BuildLoadMenu();

    std::string ini_path_;
    app::UserInterface& ui_;
    QMenu* load_menu_ = nullptr;
    std::array<QLineEdit*, server::kProxyProtocolCount> hosts_{};
    std::array<NumberEdit*, server::kProxyProtocolCount> ports_{};
    std::array<NumberEdit*, 3> octets_{};
};

// "起動するﾌﾟﾛｸﾞﾗﾑの指定": a command line, chosen from the [UseApplications] list or typed.
class RunAppliDlg final : public QDialog {
  public:
    RunAppliDlg(const app::LIFOClass& applications, app::UserInterface& ui, QWidget* parent);
    std::string CommandLine() const;

  private:
    void Browse();

    app::UserInterface& ui_;
    QComboBox* command_line_ = nullptr;
};

inline constexpr int kMaxMonitorRows = 20;
inline constexpr char kServerStatusWindow[] = "ServerStatus";

// "Orvane Status Monitor": one row per server worker, the request and the worker's state. The
// workers call it from their threads; every change is queued to the GUI thread, never waited
// for, so a worker cannot block on a window that is waiting for the server to stop.
class SrvStatusDiag final : public QDialog, public server::ServerMonitor {
  public:
    struct Handlers {
        std::function<void(std::uint32_t mode)> mode_changed;
        std::function<void(const std::string& url)> acquire_url;
        std::function<void()> open_proxy_setting;
        std::function<void(const std::string& url)> store_failed;
    };

    // rows is cut to 1..kMaxMonitorRows; the position is kept under "ServerStatus" in ini_path.
    SrvStatusDiag(int rows, std::string ini_path, Handlers handlers, QWidget* parent);

    int Rows() const { return static_cast<int>(requests_.size()); }
    // The text shown in row and column (GUI thread).
    QString Text(int row, int column) const;

    void StatusText(int row, int column, std::string_view text) override;
    void ModeChanged(std::uint32_t mode) override;
    void AcquireUrl(std::string_view url) override;
    void OpenProxySetting() override;
    void StoreFailed(int row, std::string_view url) override;

  protected:
    // Closing only hides it; its position is kept.
    void closeEvent(QCloseEvent* event) override;

  private:
    void SetText(int row, int column, const QString& text);
    // Runs f on the GUI thread later.
    void Post(std::function<void()> f);

    std::string ini_path_;
    Handlers handlers_;
    std::vector<QLineEdit*> requests_;
    std::vector<QLabel*> states_;
};

}  // namespace kelvra::gui

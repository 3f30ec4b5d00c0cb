#pragma once
// The dialogs of a crawl: the acquisition status dialog "取得状況ﾀﾞｲｱﾛｸﾞ" that shows the
// workers while the crawl runs (and implements the crawl's display), the credential prompt
// and the list from which the finish report takes the failed URLs to fetch again.

#include <QDialog>
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "app/crawlrun.h"
#include "app/userinterface.h"
#include "crawl/crawldisplay.h"
#include "crawl/kelvra.h"

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;

namespace kelvra::gui {

inline constexpr char kCredentialTitle[] =
    "認証が必要です - NTLM 時は User ID を [uid@domain] 形式で";
inline constexpr char kRetryChoiceTitle[] = "再取得するURLを選択してください";
inline constexpr char kStatusWindow[] = "GetStatus";
inline constexpr char kKillWorkerQuestion[] = "%d 番目のｽﾚｯﾄﾞを破棄しますか?";
inline constexpr char kKillWorkerCaption[] = "Thread破棄";
inline constexpr char kStopQuestion[] = "強制終了しますか?";
inline constexpr char kStopCaption[] = "強制終了確認";
inline constexpr char kAutoHangUp[] = "自動切断";

// User ID and password for an authorization prompt; each field holds 32 bytes.
class CredentialDialog final : public QDialog {
  public:
    CredentialDialog(std::string_view prompt, std::string_view user, QWidget* parent);
    std::string User() const;
    std::string Password() const;

  private:
    QLineEdit* user_ = nullptr;
    QLineEdit* password_ = nullptr;
};

// The failed URLs of a crawl, all chosen at first; OK takes the chosen ones.
class UrlListDialog final : public QDialog {
  public:
    UrlListDialog(const std::vector<std::string>& urls, QWidget* parent);
    std::vector<std::size_t> Chosen() const;
    QListWidget* List() const { return list_; }

  private:
    QListWidget* list_ = nullptr;
};

// The acquisition status dialog. The crawl's scheduler runs on the GUI thread while it shows
// (see GuiRegistrationDialogs); workers report from their threads. Every report only updates
// what the rows are to show; the rows follow it a few times a second, so a busy crawl costs
// the event loop the same few repaints however many reports arrive.
class KelvraDialog final : public QDialog, public crawl::CrawlDisplay {
  public:
    static constexpr int kMaxRows = crawl::KelvraClass::kMaxThreads;

    // Questions go to ui; the position is kept under "GetStatus" in ini_path.
    KelvraDialog(app::UserInterface& ui, std::string ini_path, QWidget* parent);
    ~KelvraDialog() override;

    // The engine whose workers the rows show, while it exists (nullptr: none).
    void Attach(crawl::KelvraClass* crawl) { crawl_ = crawl; }
    // Shows the dialog with rows rows for run; End hides it and keeps its position.
    void Begin(app::CrawlRun& run, int rows);
    void End();
    bool Running() const { return run_ != nullptr; }
    // Without a user (a crawl started from the command line): the finish report is printed,
    // the failed URLs are neither fetched again nor saved, credentials are not asked for.
    void SetUnattended(bool unattended) { unattended_ = unattended; }

    // What the rows show now (GUI thread, after pending refreshes ran).
    int Rows() const { return rows_; }
    QString UrlLine(int row) const;
    QPushButton* StatusButton(int row) const;
    QString Investigation() const;
    QCheckBox* AutoHangUpBox() const { return auto_hang_up_box_; }
    // Shows the latest reports now rather than at the next refresh.
    void Refresh();

    // A click on a busy worker's status line: asks, then kills that worker.
    void AskKillWorker(int row);

    void SlotLine(int slot, std::string_view text) override;
    void SlotLineQueued(int slot, std::string_view text, long queued) override;
    void SlotStatus(int slot, std::string_view text) override;
    void Progress(int slot, std::int64_t received, std::int64_t total) override;
    void Log(std::string_view message) override;
    void Clear() override;
    void ShowMessage(std::string_view text, std::string_view caption,
                     crawl::MessageIcon icon) override;
    bool ChooseUrls(const std::vector<std::string>& urls,
                    std::vector<std::size_t>& chosen) override;
    bool ChooseSaveFile(const crawl::SaveFileRequest& request, std::string& path) override;
    void SetCaption(std::string_view caption) override;
    bool AutoHangUp() const override { return auto_hang_up_; }
    bool AskCredentials(std::string_view prompt, std::string& user, std::string& password) override;

  protected:
    // Closing asks and raises the stop level; the dialog stays until the crawl has ended.
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    // What one row shows, as the reports left it.
    struct RowState {
        std::string url_line;
        std::string status;
        std::int64_t received = 0;
        std::int64_t total = -1;
    };
    struct Shown {
        std::array<RowState, kMaxRows> rows;
        std::string investigation;
        long remaining = 0;
        std::string caption;
    };
    struct RowWidgets {
        QLineEdit* url = nullptr;
        QPushButton* status = nullptr;
    };

    // Applies change to the shown state and asks for a refresh.
    template <class F>
    void Update(F&& change);
    static QString StatusText(const RowState& row);
    void AskStop();
    void SaveGeometry();

    app::UserInterface& ui_;
    std::string ini_path_;
    std::mutex mutex_;  // shown_ against the workers' reports
    Shown shown_;
    std::atomic<bool> refresh_posted_ = false;  // a refresh is due (refresh_timer_)
    QTimer* refresh_timer_ = nullptr;
    std::atomic<bool> auto_hang_up_ = false;
    std::array<RowWidgets, kMaxRows> row_widgets_{};
    QLineEdit* investigation_ = nullptr;
    QLineEdit* remaining_ = nullptr;
    QCheckBox* auto_hang_up_box_ = nullptr;
    int rows_ = kMaxRows;
    app::CrawlRun* run_ = nullptr;
    crawl::KelvraClass* crawl_ = nullptr;
    bool unattended_ = false;
};

}  // namespace kelvra::gui

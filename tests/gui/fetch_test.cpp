// Fetching from the desktop program: the URL dialog, a crawl of the loopback origin shown in
// the acquisition status dialog, its questions (kill a worker, stop), credentials, the finish
// report, and a multi-URL file dropped on the window. Modal dialogs are answered by a poller
// that runs in the crawl's own event loop.

#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "app/urlsources.h"
#include "gui/bookmarkwin.h"
#include "gui/crawldialogs.h"
#include "gui/urldialog.h"
#include "support/test_origin.h"
#include "window_fixture.h"

namespace kelvra::testing {
namespace {

constexpr int kPollMs = 5;
constexpr int kPageCount = 8;
constexpr auto kGateWait = std::chrono::seconds(20);

// Runs step every few milliseconds in whatever event loop runs, until it returns true.
class Poller {
  public:
    explicit Poller(std::function<bool()> step) : step_(std::move(step)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (!done_ && step_()) {
                done_ = true;
                timer_.stop();
            }
        });
        timer_.start(kPollMs);
    }
    bool Done() const { return done_; }

  private:
    std::function<bool()> step_;
    QTimer timer_;
    bool done_ = false;
};

template <class D>
D* Modal() {
    return dynamic_cast<D*>(QApplication::activeModalWidget());
}

// Lets the origin's page answers wait until the test has seen what it wanted.
class Gate {
  public:
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    void Pass() {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, kGateWait, [this] { return open_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

class FetchTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        std::ofstream(IniPath())
            << "[General]\nBaseDirectory=" << data_
            << "\nGetThread=4\n[WindowMetrix]\nFlags=4\nBookMark.Show=0\n[Orvane]\nPort=0\n";
        // The bookmark window hidden: it would offer every new start URL. Four connections to
        // the loopback origin.
        std::ofstream(data_ + "kelvra.mcf") << "* 1/4/11\n";
    }

    // The requests for path the origin saw.
    std::size_t RequestsFor(std::string_view path) const {
        std::size_t count = 0;
        for (const test::Request& request : origin_.Requests()) {
            if (request.RequestLine().find(std::string(" ") + std::string(path) + " ") !=
                std::string_view::npos) {
                ++count;
            }
        }
        return count;
    }
    bool Shown(std::string_view text) const {
        return std::any_of(ui_.messages.begin(), ui_.messages.end(),
                           [text](const ShownMessage& m) { return m.text == text; });
    }
    gui::KelvraDialog& Status() { return window_->Registration().StatusDialog(); }
    // Registers url through the entry dialog, accepted as it opens pre-filled.
    int Fetch(const std::string& url) {
        Poller run([] {
            gui::UrlDialog* dialog = Modal<gui::UrlDialog>();
            if (dialog) dialog->RunButton()->click();
            return dialog != nullptr;
        });
        return window_->FetchUrls({url});
    }
    // The status row showing a URL that contains part; -1 for none.
    int RowOf(std::string_view part) {
        for (int row = 0; row < Status().Rows(); ++row) {
            if (gui::FromQt(Status().UrlLine(row)).find(part) != std::string::npos) return row;
        }
        return -1;
    }

    // "/" links to the pages; "/p<n>.html" waits at the gate; "/held" never answers;
    // "/secret" wants user:pass.
    test::Reply Answer(const test::Request& request) {
        const std::string_view line = request.RequestLine();
        if (line.starts_with("GET / ")) {
            std::string body = "<html><body>";
            for (int i = 0; i < kPageCount; ++i) {
                body += "<a href=\"/p" + std::to_string(i) + ".html\">p</a>";
            }
            return test::Reply().Send(test::HttpResponse("HTTP/1.1 200 OK", body + "</body>",
                                                         "Content-Type: text/html\r\n"));
        }
        if (line.starts_with("GET /p")) {
            gate_.Pass();
            return test::Reply().Send(test::HttpResponse("HTTP/1.1 200 OK", "page"));
        }
        if (line.starts_with("GET /held")) return test::Reply().Hold();
        if (line.starts_with("GET /secret")) {
            if (request.Head().find("Authorization: Basic dXNlcjpwYXNz\r\n") !=
                std::string_view::npos) {
                return test::Reply().Send(test::HttpResponse("HTTP/1.1 200 OK", "secret"));
            }
            return test::Reply().Send(test::HttpResponse(
                "HTTP/1.1 401 Unauthorized", "no", "WWW-Authenticate: Basic realm=\"r\"\r\n"));
        }
        return test::Reply().Send(test::HttpResponse("HTTP/1.1 404 Not Found", ""));
    }

    Gate gate_;  // before the origin, whose threads pass it
    test::TestOrigin origin_{[this](const test::Request& request) { return Answer(request); }};
};

TEST_F(FetchTest, UrlDialogEnablesItsButtonsOnlyForAUrl) {
    const app::LIFOClass history(1);
    const struct {
        const char* text;
        bool enabled;
    } cases[] = {
        {"www.example.com/", false},  // a host without scheme
        {"abcdef://host/", true},     // "://" at offset 6
        {"abcdefg://host/", false},   // at offset 7: too late
        {"http://host/", true},
    };
    for (const auto& c : cases) {
        gui::UrlDialog dialog(history, c.text, nullptr);
        EXPECT_EQ(dialog.RunButton()->isEnabled(), c.enabled) << c.text;
        EXPECT_EQ(dialog.RunWithConditionButton()->isEnabled(), c.enabled) << c.text;
    }
}

// A row shows how much of a running transfer has arrived instead of the last job's status.
TEST_F(FetchTest, StatusRowShowsTheShareOfARunningTransfer) {
    Start();
    struct Case {
        const char* status;
        std::int64_t received, total;
        const char* shown;
    };
    const Case cases[] = {
        {"Success", 35, 100, "35%"},
        {"Success", 100, 100, "Success"},
        {"Ready", 0, -1, "Ready"},
    };
    for (const Case& c : cases) {
        Status().SlotStatus(0, c.status);
        Status().Progress(0, c.received, c.total);
        // The dialog repaints on its interval.
        QElapsedTimer since;
        since.start();
        while (Status().StatusButton(0)->text() != c.shown && !since.hasExpired(2000)) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        EXPECT_EQ(Status().StatusButton(0)->text(), c.shown);
    }
}

TEST_F(FetchTest, UrlDialogCrawlShowsFourWorkersThenReportsAndUpdatesTreeAndHistory) {
    gui::KelvraWindow& window = Start();
    ASSERT_EQ(window.Tree()->topLevelItemCount(), 0);
    const std::string start = origin_.Url("/") + "#top";
    std::vector<QString> rows_seen;
    Poller enter([&] {
        gui::UrlDialog* dialog = Modal<gui::UrlDialog>();
        if (!dialog) return false;
        dialog->findChild<QComboBox*>("URL")->setEditText(gui::ToQt(start));
        dialog->RunButton()->click();
        return true;
    });
    // Every page waits until the four rows show a page being fetched.
    Poller rows([&] {
        if (!Status().isVisible()) return false;
        int busy = 0;
        for (int row = 0; row < Status().Rows(); ++row) {
            if (Status().UrlLine(row).contains("/p")) ++busy;
        }
        if (busy < 4) return false;
        for (int row = 0; row < Status().Rows(); ++row) rows_seen.push_back(Status().UrlLine(row));
        gate_.Open();
        return true;
    });
    ASSERT_TRUE(window.RunCommand(app::CommandId::kFetchWebPage));

    EXPECT_TRUE(enter.Done());
    EXPECT_EQ(Status().Rows(), 4);
    EXPECT_EQ(rows_seen.size(), 4u);
    EXPECT_FALSE(Status().isVisible());
    for (int i = 0; i < kPageCount; ++i) {
        EXPECT_EQ(RequestsFor("/p" + std::to_string(i) + ".html"), 1u) << i;
    }
    ASSERT_FALSE(ui_.messages.empty());
    EXPECT_EQ(ui_.messages.back().text, "取得作業が完了しました");
    EXPECT_EQ(ui_.messages.back().caption, "終了報告");
    // The history holds the URL as registered (no fragment); the tree shows the host,
    // selected as "取得後自動 Tree 選択" asks.
    ASSERT_EQ(window.Core().History().Count(), 1u);
    EXPECT_EQ(*window.Core().History().Get(0), origin_.Url("/"));
    ASSERT_EQ(window.Tree()->topLevelItemCount(), 1);
    ASSERT_NE(window.Tree()->currentItem(), nullptr);
    EXPECT_EQ(window.Tree()->currentItem(), window.Tree()->topLevelItem(0));
    EXPECT_EQ(window.Busy(), app::BusyState::kIdle);
}

TEST_F(FetchTest, AClickOnABusyRowKillsThatWorkerAndItsUrlFails) {
    gui::KelvraWindow& window = Start();
    ui_.answers = {app::DialogResult::kOk};  // the kill question
    ui_.files.push_back(std::nullopt);       // no retry list
    int killed_row = -1;
    Poller kill([&] {
        if (RequestsFor("/held") == 0 || RowOf("/held") < 0) return false;
        killed_row = RowOf("/held");
        Status().StatusButton(killed_row)->click();
        return true;
    });
    std::vector<std::string> offered;
    Poller cancel([&] {
        auto* list = Modal<gui::UrlListDialog>();
        if (!list) return false;
        for (int i = 0; i < list->List()->count(); ++i) {
            offered.push_back(gui::FromQt(list->List()->item(i)->text()));
        }
        list->reject();
        return true;
    });
    EXPECT_EQ(Fetch(origin_.Url("/held")), 1);

    ASSERT_GE(killed_row, 0);
    EXPECT_TRUE(Shown(std::to_string(killed_row) + " 番目のｽﾚｯﾄﾞを破棄しますか?"));
    EXPECT_EQ(offered, std::vector<std::string>{origin_.Url("/held")});
    EXPECT_EQ(window.Core().History().Count(), 0u);
}

TEST_F(FetchTest, ClosingTheStatusDialogTwiceStopsThenAbortsAndTheRetryListIsSaved) {
    Start();
    ui_.answers = {app::DialogResult::kOk, app::DialogResult::kOk};
    const std::string retry_list = dir_.Path("left.rlf");
    ui_.files.push_back(retry_list);
    int closes = 0;
    QString after_first;
    QElapsedTimer since_first;
    const QString waiting = QString::fromUtf8("ただいまｽﾚｯﾄﾞ終了待機中....");
    Poller close([&] {
        if (RequestsFor("/held") == 0) return false;
        // The held transaction keeps the crawl running after the first close; the dialog
        // shows that on its next repaint.
        if (closes == 1) {
            after_first = Status().Investigation();
            if (after_first != waiting && !since_first.hasExpired(2000)) return false;
        }
        since_first.start();
        Status().close();
        return ++closes == 2;
    });
    Poller cancel([&] {
        auto* list = Modal<gui::UrlListDialog>();
        if (list) list->reject();
        return list != nullptr;
    });
    EXPECT_EQ(Fetch(origin_.Url("/held")), 1);

    EXPECT_EQ(closes, 2);
    EXPECT_EQ(after_first, waiting);
    EXPECT_EQ(std::count_if(ui_.messages.begin(), ui_.messages.end(),
                            [](const ShownMessage& m) { return m.text == "強制終了しますか?"; }),
              2);
    EXPECT_TRUE(cancel.Done());
    EXPECT_TRUE(Shown("ﾘﾄﾗｲﾘｽﾄを保存しました"));
    std::ifstream saved(retry_list);
    std::string first_line;
    std::getline(saved, first_line);
    EXPECT_EQ(first_line, "[RetryListFile.Rev.1a]");
}

TEST_F(FetchTest, BasicChallengeIsAnsweredThroughTheCredentialDialog) {
    gui::KelvraWindow& window = Start();
    std::string title;
    Poller credentials([&] {
        auto* dialog = Modal<gui::CredentialDialog>();
        if (!dialog) return false;
        title = gui::FromQt(dialog->windowTitle());
        dialog->findChild<QLineEdit*>("UserID")->setText("user");
        dialog->findChild<QLineEdit*>("Password")->setText("pass");
        dialog->accept();
        return true;
    });
    EXPECT_EQ(Fetch(origin_.Url("/secret")), 1);

    EXPECT_EQ(title, gui::kCredentialTitle);
    EXPECT_EQ(RequestsFor("/secret"), 2u);
    EXPECT_TRUE(Shown("取得作業が完了しました"));
    EXPECT_EQ(window.Core().History().Count(), 1u);
}

TEST_F(FetchTest, TheServersFetchCommandOpensTheUrlDialogAndCrawls) {
    gui::KelvraWindow& window = Start();
    gate_.Open();
    std::string offered;
    Poller run([&] {
        gui::UrlDialog* dialog = Modal<gui::UrlDialog>();
        if (!dialog) return false;
        offered = gui::FromQt(dialog->findChild<QComboBox*>("URL")->currentText());
        dialog->RunButton()->click();
        return true;
    });
    // As a server worker reports it, from its own thread.
    std::thread([&] { window.Monitor()->AcquireUrl(origin_.Url("/p3.html")); }).join();

    EXPECT_TRUE(QTest::qWaitFor([&] { return Shown("取得作業が完了しました"); }, kWindowWaitMs));
    EXPECT_EQ(offered, origin_.Url("/p3.html"));
    EXPECT_EQ(RequestsFor("/p3.html"), 1u);
}

TEST_F(FetchTest, AMultiUrlFileDroppedOnTheWindowRegistersItsUrls) {
    gui::KelvraWindow& window = Start();
    const std::string file = dir_.Path("two.mus");
    ASSERT_TRUE(app::SaveMultiUrlFile(file, {origin_.Url("/p1.html"), origin_.Url("/p2.html")}));
    std::vector<std::string> chooser_files;
    window.Registration().SetUrlChooser(
        [&](const std::vector<std::string>& urls,
            const std::string& from) -> std::optional<std::vector<std::string>> {
            chooser_files.push_back(from);
            std::vector<std::string> list = urls;
            app::LoadMultiUrlFile(from, list);
            return list;
        });
    gate_.Open();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(gui::ToQt(file))});
    const QPoint inside = window.rect().center();
    QDragEnterEvent enter(inside, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(inside, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);

    EXPECT_TRUE(QTest::qWaitFor([&] { return Shown("取得作業が完了しました"); }, kWindowWaitMs));
    EXPECT_EQ(chooser_files, std::vector<std::string>{file});
    EXPECT_EQ(RequestsFor("/p1.html"), 1u);
    EXPECT_EQ(RequestsFor("/p2.html"), 1u);
    EXPECT_EQ(window.Core().History().Count(), 2u);
}

TEST_F(FetchTest, AfterACrawlTheVisibleBookmarkWindowOffersStartUrlsOnNoPage) {
    std::ofstream(data_ + app::kBookmarkFileName) << "[a]\n[b]\n"
                                                  << origin_.Url("/p1.html") << "\tp1\n";
    gui::KelvraWindow& window = Start();
    gui::BookMarkWin& bookmarks = *window.Bookmarks();
    ASSERT_TRUE(window.RunCommand(app::CommandId::kShowBookmarks));
    std::vector<app::Bookmark> offered;
    bookmarks.SetEditor([&](std::string_view, app::Bookmark& bookmark) {
        offered.push_back(bookmark);
        return true;
    });
    gate_.Open();
    EXPECT_EQ(Fetch(origin_.Url("/p1.html")), 1);
    EXPECT_TRUE(offered.empty()) << "on page b already";
    EXPECT_EQ(Fetch(origin_.Url("/p2.html")), 1);
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_EQ(offered[0].url, origin_.Url("/p2.html"));
    EXPECT_EQ(bookmarks.List()->count(), 1) << "added to the shown page a";

    bookmarks.hide();
    EXPECT_EQ(Fetch(origin_.Url("/p3.html")), 1);
    EXPECT_EQ(offered.size(), 1u) << "a hidden window offers nothing";
}

}  // namespace
}  // namespace kelvra::testing

// The main window's two panes: the URL tree of hosts and directories, filled lazily two levels
// deep, and the list of the selected directory's entries in report or list view.

#include <QApplication>
#include <QElapsedTimer>
#include <QFocusEvent>
#include <QHeaderView>
#include <QPainter>
#include <QSplitter>
#include <QStatusBar>
#include <QStringDecoder>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>

#include "gui/kelvrawindow.h"

namespace kelvra::gui {

namespace {

// The selection waits this long before the list follows it, and retries after kFillRetryMs
// while the list is still filling.
constexpr int kSelectionDelayMs = 150;
constexpr int kFillRetryMs = 50;
// Rows are made this many at a time and added to the list in one insert; pending events run
// once a time slice of filling is used up. A layout of the list per few rows would make a long
// fill quadratic.
constexpr std::size_t kRowsPerStep = 128;
constexpr qint64 kFillSliceMs = 25;
constexpr int kNameRole = Qt::UserRole;       // the node's name bytes (tree and list)
constexpr int kImageRole = Qt::UserRole + 1;  // the list image of a row
constexpr int kColumnBytesRole = Qt::UserRole + 2;
// A date column's text and built-in width.
constexpr char kDateSample[] = "0000/00/00 00:00";
constexpr double kDateWidth = 104;
constexpr int kCellMargin = 16;
// The splitter keeps this much of either pane.
constexpr int kMinimumPaneWidth = 16;

// A store name or key as the display shows it: UTF-8 when it is, else the program's code page.
QString DisplayName(const std::string& bytes) {
    QStringDecoder utf8(QStringConverter::Utf8);
    const QString text = utf8(QByteArray::fromStdString(bytes));
    if (!utf8.hasError()) return text;
    return ToQt(app::Cp932ToUtf8(bytes));
}

constexpr int kImageSize = 16;

// base with a small page in its lower right corner: the directory has its own document.
QIcon WithPage(const QIcon& base) {
    QPixmap pixmap = base.pixmap(kImageSize);
    QPainter painter(&pixmap);
    const QRect page(kImageSize / 2, kImageSize / 2 - 1, kImageSize / 2 - 1, kImageSize / 2);
    painter.setPen(QColor(60, 60, 60));
    painter.setBrush(Qt::white);
    painter.drawRect(page);
    painter.drawLine(page.left() + 2, page.top() + 3, page.right() - 2, page.top() + 3);
    painter.drawLine(page.left() + 2, page.top() + 5, page.right() - 2, page.top() + 5);
    return QIcon(pixmap);
}

// The eight images shared by the tree and the list, as the style draws them.
QIcon StyleImage(int image) {
    QStyle* style = QApplication::style();
    switch (image) {
        case app::kImageDirectoryWithDocument:
            return WithPage(style->standardIcon(QStyle::SP_DirClosedIcon));
        case app::kImageDirectoryDocument:
            return WithPage(style->standardIcon(QStyle::SP_FileIcon));
        case app::kImageDirectory:
            return style->standardIcon(QStyle::SP_DirClosedIcon);
        case app::kTreeImageNoRecordSelected:
            return style->standardIcon(QStyle::SP_DirOpenIcon);
        case app::kImagePartialFile:
            return style->standardIcon(QStyle::SP_BrowserReload);
        case app::kImageCookie:
            return style->standardIcon(QStyle::SP_DialogApplyButton);
        case app::kImageMissingObject:
            return style->standardIcon(QStyle::SP_MessageBoxWarning);
        default:
            return style->standardIcon(QStyle::SP_FileIcon);
    }
}

bool AltHeld() {
    return QApplication::keyboardModifiers() & Qt::AltModifier;
}

QByteArray Bytes(const std::string& text) {
    return QByteArray::fromStdString(text);
}

// A list row that sorts by its column's stored bytes as the list's sort rule says.
class ListItem final : public QTreeWidgetItem {
  public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        const QByteArray mine = data(column, kColumnBytesRole).toByteArray();
        const QByteArray theirs = other.data(column, kColumnBytesRole).toByteArray();
        return app::CompareColumnTexts(static_cast<std::size_t>(column), mine.toStdString(),
                                       theirs.toStdString()) < 0;
    }
};

QTreeWidgetItem* MakeRow(const app::ListRow& row, const QIcon& image) {
    auto* item = new ListItem();
    item->setData(0, kNameRole, Bytes(row.name));
    item->setData(0, kImageRole, row.image);
    item->setIcon(0, image);
    const std::span<const app::ListColumn> columns = app::ListColumns();
    for (std::size_t column = 0; column < columns.size(); ++column) {
        const int index = static_cast<int>(column);
        const std::string& bytes = row.Column(column);
        item->setData(index, kColumnBytesRole, Bytes(bytes));
        // The name is a key's bytes; the other columns are in the program's code page.
        item->setText(index, column == 0 ? DisplayName(bytes) : ToQt(app::Cp932ToUtf8(bytes)));
        if (columns[column].right_aligned) {
            item->setTextAlignment(index, Qt::AlignRight | Qt::AlignVCenter);
        }
    }
    return item;
}

}  // namespace

void KelvraWindow::CreatePanes() {
    // Looked up once: the style makes a new icon, decoding its pictures, on every call.
    for (int image = 0; image < kImageCount; ++image) images_[image] = StyleImage(image);
    tree_ = new QTreeWidget(splitter_);
    tree_->setObjectName("URLTreeWindow");
    tree_->setHeaderHidden(true);
    tree_->setMinimumWidth(kMinimumPaneWidth);
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_ = new QTreeWidget(splitter_);
    list_->setObjectName("URLListView");
    list_->setRootIsDecorated(false);
    // Every row is one line with a 16-pixel image: the view need not measure each one.
    list_->setUniformRowHeights(true);
    list_->setMinimumWidth(kMinimumPaneWidth);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->setAllColumnsShowFocus(true);
    QStringList titles;
    for (const app::ListColumn& column : app::ListColumns()) titles << ToQt(column.title);
    list_->setHeaderLabels(titles);
    const app::ListColumnWidths widths = app::LoadListColumnWidths(IniPath());
    const std::span<const app::ListColumn> columns = app::ListColumns();
    // The built-in widths fit a date in the font they were made for; this font may be wider.
    const double scale = std::max(
        1.0, (list_->fontMetrics().horizontalAdvance(kDateSample) + kCellMargin) / kDateWidth);
    for (std::size_t column = 0; column < columns.size() && column < widths.size(); ++column) {
        const int stored = widths[column];
        list_->setColumnWidth(
            static_cast<int>(column),
            stored >= 0 ? stored : static_cast<int>(columns[column].width * scale));
    }
    list_->header()->setSectionsClickable(true);
    list_->header()->setSortIndicatorShown(false);
    list_->header()->setStretchLastSection(false);
    tree_->installEventFilter(this);
    list_->installEventFilter(this);

    selection_timer_ = new QTimer(this);
    selection_timer_->setSingleShot(true);
    connect(selection_timer_, &QTimer::timeout, this, [this] {
        if (filling_list_) {
            selection_timer_->start(kFillRetryMs);
            return;
        }
        const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
        if (selected.isEmpty()) return;
        const std::string url = TreeUrl(selected.front());
        FillList(url);
        ui_.StatusText(url);
    });
    connect(tree_, &QTreeWidget::itemSelectionChanged, this, [this] {
        selection_timer_->start(kSelectionDelayMs);
        UpdateMenuState();
    });
    connect(tree_, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { FillBelow(item); });
    connect(tree_, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { DoubleClickAction(TreeUrl(item), AltHeld()); });
    connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] {
        ShowSelectedUrl();
        UpdateMenuState();
    });
    connect(list_, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { OnListActivated(item); });
    connect(list_->header(), &QHeaderView::sectionClicked, this, [this](int column) {
        const bool ascending = sort_state_.Click(static_cast<std::size_t>(column));
        list_->sortItems(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    });
    connect(tree_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& position) { ShowContextMenu(tree_, position); });
    connect(list_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& position) { ShowContextMenu(list_, position); });
}

bool KelvraWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn && (watched == tree_ || watched == list_)) {
        last_pane_ = watched == tree_ ? app::Pane::kTree : app::Pane::kList;
        ShowSelectedUrl();
        UpdateMenuState();
    }
    return QMainWindow::eventFilter(watched, event);
}

void KelvraWindow::SetListView(bool simple) {
    list_->setHeaderHidden(simple);
    for (int column = 1; column < static_cast<int>(app::kListColumns); ++column) {
        list_->setColumnHidden(column, simple);
    }
    if (!list_url_.empty() || list_->topLevelItemCount() > 0) FillList(list_url_);
}

std::vector<std::string> KelvraWindow::TreeNames(const QTreeWidgetItem* item) const {
    std::vector<std::string> names;
    for (; item; item = item->parent()) {
        names.insert(names.begin(), item->data(0, kNameRole).toByteArray().toStdString());
    }
    return names;
}

std::string KelvraWindow::TreeUrl(const QTreeWidgetItem* item) const {
    return app::TreeItemUrl(TreeNames(item));
}

void KelvraWindow::FillTree() {
    filling_tree_ = true;
    tree_->clear();
    FillBelow(nullptr);
    filling_tree_ = false;
}

void KelvraWindow::FillBelow(QTreeWidgetItem* item) {
    if (!core_.Started()) return;
    const std::vector<app::TreeItem> items = app::TreeItemsBelow(core_.Store(), TreeNames(item));
    // Items that show already are matched by their exact name and kept.
    const std::function<void(QTreeWidgetItem*, const std::vector<app::TreeItem>&)> merge =
        [&](QTreeWidgetItem* parent, const std::vector<app::TreeItem>& children) {
            const int count = parent ? parent->childCount() : tree_->topLevelItemCount();
            for (const app::TreeItem& child : children) {
                QTreeWidgetItem* found = nullptr;
                for (int i = 0; i < count && !found; ++i) {
                    QTreeWidgetItem* candidate = parent ? parent->child(i) : tree_->topLevelItem(i);
                    if (candidate->data(0, kNameRole).toByteArray() == Bytes(child.name)) {
                        found = candidate;
                    }
                }
                if (!found) {
                    found = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
                    found->setData(0, kNameRole, Bytes(child.name));
                    found->setText(0, DisplayName(child.name));
                }
                QIcon icon = images_[child.image];
                icon.addPixmap(images_[child.selected_image].pixmap(kImageSize), QIcon::Selected);
                found->setIcon(0, icon);
                merge(found, child.children);
            }
        };
    merge(item, items);
}

void KelvraWindow::RefreshTree() {
    const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
    const std::string previous = selected.isEmpty() ? std::string() : TreeUrl(selected.front());
    FillTree();
    if (!previous.empty()) SelectUrl(previous);
}

bool KelvraWindow::SelectUrl(std::string_view url) {
    QTreeWidgetItem* parent = nullptr;
    QTreeWidgetItem* selected = nullptr;
    for (const std::string& name : app::TreePathOfUrl(url)) {
        const int count = parent ? parent->childCount() : tree_->topLevelItemCount();
        QTreeWidgetItem* found = nullptr;
        for (int i = 0; i < count && !found; ++i) {
            QTreeWidgetItem* candidate = parent ? parent->child(i) : tree_->topLevelItem(i);
            if (candidate->data(0, kNameRole).toByteArray() == Bytes(name)) found = candidate;
        }
        if (!found) break;
        // Expanding fills the item's children at once; no events run in between, so no
        // command can clear the tree under the walk.
        found->setExpanded(true);
        tree_->setCurrentItem(found);
        selected = found;
        parent = found;
    }
    return selected != nullptr;
}

void KelvraWindow::FillList(const std::string& directory_url) {
    if (!core_.Started()) return;
    const int generation = ++fill_generation_;
    filling_list_ = true;
    list_->setSortingEnabled(false);
    list_->clear();
    list_url_ = directory_url;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool report = !(core_.Settings().flags & app::kFlagSimpleList);
    app::ListFill fill(core_.Store(), directory_url, report);
    std::vector<app::ListRow> rows;
    QList<QTreeWidgetItem*> items;
    QElapsedTimer slice;
    slice.start();
    bool more = fill.Found();
    while (more) {
        rows.clear();
        items.clear();
        more = fill.Next(rows, kRowsPerStep);
        for (const app::ListRow& row : rows) items.append(MakeRow(row, images_[row.image]));
        list_->addTopLevelItems(items);
        if (!more) break;
        if (!slice.hasExpired(kFillSliceMs)) continue;
        QApplication::processEvents();
        slice.restart();
        // A newer request, or the end of the program, ends this fill.
        if (generation != fill_generation_ || !core_.Started()) break;
    }
    QApplication::restoreOverrideCursor();
    if (generation == fill_generation_) {
        filling_list_ = false;
        CloseIfPending();
    }
}

void KelvraWindow::ClearPanes() {
    ++fill_generation_;
    filling_list_ = false;
    tree_->clear();
    list_->clear();
    list_url_.clear();
}

std::vector<app::SelectedUrl> KelvraWindow::SelectedUrls() const {
    std::vector<app::SelectedUrl> urls;
    if (last_pane_ == app::Pane::kTree) {
        const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
        if (!selected.isEmpty()) urls.push_back({TreeUrl(selected.front()), app::Pane::kTree});
        return urls;
    }
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list_->topLevelItem(i);
        if (!item->isSelected()) continue;
        const std::string name = item->data(0, kNameRole).toByteArray().toStdString();
        urls.push_back({app::ListRowUrl(list_url_, name), app::Pane::kList});
    }
    return urls;
}

void KelvraWindow::ShowSelectedUrl() {
    const std::vector<app::SelectedUrl> urls = SelectedUrls();
    if (!urls.empty()) ui_.StatusText(urls.front().url);
}

void KelvraWindow::OnListActivated(QTreeWidgetItem* item) {
    const std::string name = item->data(0, kNameRole).toByteArray().toStdString();
    const std::string url = app::ListRowUrl(list_url_, name);
    if (item->data(0, kImageRole).toInt() == app::kImageDirectory) {
        SelectUrl(url);
    } else {
        DoubleClickAction(url, AltHeld());
    }
}

void KelvraWindow::EnterKey() {
    // A list row acts as its double-click; a tree item is a directory: it is selected.
    if (last_pane_ == app::Pane::kList) {
        if (QTreeWidgetItem* item = list_->currentItem()) OnListActivated(item);
        return;
    }
    const std::vector<app::SelectedUrl> urls = SelectedUrls();
    if (!urls.empty()) SelectUrl(urls.front().url);
}

}  // namespace kelvra::gui

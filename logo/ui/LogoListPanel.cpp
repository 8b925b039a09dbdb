#include "logo/ui/LogoListPanel.h"
#include "logo/ui/LogoControls.h"

#include "logo/BitmapList.h"
#include "logo/LogoOptions.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kEntryRole = Qt::UserRole + 1;

// Sorting compares the column's text as the list shows it, like the original list control;
// the "%3d" and "%15d" columns are padded, so their texts sort as numbers.
class Row final : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int c = treeWidget() ? treeWidget()->sortColumn() : 0;
        if (c == 0)
            return data(0, kEntryRole).toInt() < other.data(0, kEntryRole).toInt();
        return text(c) < other.text(c);
    }
};

} // namespace

LogoListPanel::LogoListPanel(BitmapList& list, LogoOptions& options, const QString& caption, bool korean,
                             QWidget* parent)
    : QWidget(parent), m_list(list), m_options(options)
{
    auto tr8 = [korean](const char* en, const char* kr) { return QString::fromUtf8(korean ? kr : en); };
    m_tree = new QTreeWidget;
    m_tree->setObjectName(logo_ctl::controlName(logo_ctl::kList));
    m_tree->setRootIsDecorated(false);
    m_tree->setUniformRowHeights(true);
    m_tree->setAllColumnsShowFocus(true);
    m_tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_tree->setColumnCount(4);
    m_tree->setHeaderLabels({"", tr8("   No.", "번호"), tr8("Name", "이름"), tr8("Size", "크기")});
    m_tree->headerItem()->setTextAlignment(1, Qt::AlignCenter);
    m_tree->headerItem()->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
    QHeaderView* header = m_tree->header();
    header->setSectionsClickable(true);
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(17);
    header->setSectionResizeMode(0, QHeaderView::Fixed);
    header->setSectionResizeMode(1, QHeaderView::Fixed);
    header->setSectionResizeMode(2, QHeaderView::Stretch);
    header->setSectionResizeMode(3, QHeaderView::Fixed);
    m_tree->setColumnWidth(0, 24);
    m_tree->setColumnWidth(1, 50);
    m_tree->setColumnWidth(3, 86);
    m_tree->setMinimumSize(360, 150);
    connect(header, &QHeaderView::sectionClicked, this, &LogoListPanel::sortBy);
    connect(m_tree, &QTreeWidget::itemChanged, this, &LogoListPanel::onItemChanged);
    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, &LogoListPanel::onCurrentChanged);

    m_count = new QLineEdit;
    m_count->setObjectName(logo_ctl::controlName(logo_ctl::kCount));
    m_size = new QLineEdit;
    m_size->setObjectName(logo_ctl::controlName(logo_ctl::kSize));
    for (QLineEdit* e : {m_count, m_size}) {
        e->setReadOnly(true);
        e->setFocusPolicy(Qt::NoFocus);
        e->setMinimumWidth(130);
    }
    auto* countLabel = new QLabel(tr8("Number of Image Files", "이미지 파일 갯수"));
    countLabel->setObjectName(logo_ctl::controlName(logo_ctl::kCountLabel));
    auto* sizeLabel = new QLabel(tr8("Total Image File Size", "전체 이미지 파일 크기"));
    sizeLabel->setObjectName(logo_ctl::controlName(logo_ctl::kSizeLabel));

    auto* group = new QGroupBox(caption);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(m_tree);
    auto* boxes = new QGridLayout;
    boxes->addWidget(countLabel, 0, 0);
    boxes->addWidget(m_count, 0, 1);
    boxes->addWidget(sizeLabel, 1, 0);
    boxes->addWidget(m_size, 1, 1);
    boxes->setColumnStretch(2, 1);
    groupLayout->addLayout(boxes);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(group);
}

void LogoListPanel::redraw()
{
    m_redrawing = true;
    m_tree->clear();
    const auto& entries = m_list.entries();
    QTreeWidgetItem* selected = nullptr;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        auto* row = new Row;
        row->setData(0, kEntryRole, int(i));
        row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        row->setCheckState(0, m_options.autoCenterOf(int(i)) ? Qt::Checked : Qt::Unchecked);
        row->setText(1, QString::fromStdString(entries[i].number));
        row->setText(2, QString::fromStdString(entries[i].name));
        row->setText(3, QString::fromStdString(entries[i].size).trimmed());
        row->setTextAlignment(1, Qt::AlignCenter);
        row->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
        row->setToolTip(2, QString::fromStdString(entries[i].path));
        m_tree->addTopLevelItem(row);
        if (m_list.selectedRow() == int(i))
            selected = row;
    }
    if (m_sortColumn >= 0)
        m_tree->sortItems(m_sortColumn, m_descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    if (selected) {
        m_tree->setCurrentItem(selected);
        selected->setSelected(true);
        m_tree->scrollToItem(selected);
    }
    m_count->setText(QString::fromStdString(m_list.countText()));
    m_size->setText(QString::fromStdString(m_list.sizeText()));
    m_redrawing = false;
}

std::vector<int> LogoListPanel::selectedEntries() const
{
    std::vector<int> rows;
    for (QTreeWidgetItem* item : m_tree->selectedItems())
        rows.push_back(item->data(0, kEntryRole).toInt());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void LogoListPanel::sortBy(int column)
{
    // The same header again reverses the order.
    m_descending = column == m_sortColumn ? !m_descending : false;
    m_sortColumn = column;
    m_tree->header()->setSortIndicatorShown(true);
    m_tree->header()->setSortIndicator(column, m_descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    m_tree->sortItems(column, m_descending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void LogoListPanel::onItemChanged(QTreeWidgetItem* item, int column)
{
    if (m_redrawing || column != 0)
        return;
    const int entry = item->data(0, kEntryRole).toInt();
    if (entry >= 0 && entry < LogoOptions::kMaxRows)
        m_options.autoCenter[std::size_t(entry)] = item->checkState(0) == Qt::Checked;
}

void LogoListPanel::onCurrentChanged()
{
    if (m_redrawing)
        return;
    QTreeWidgetItem* current = m_tree->currentItem();
    if (current && current->isSelected())
        m_list.setSelectedRow(current->data(0, kEntryRole).toInt());
    else if (m_tree->selectedItems().isEmpty())
        m_list.setSelectedRow(std::nullopt);
    else
        m_list.setSelectedRow(m_tree->selectedItems().front()->data(0, kEntryRole).toInt());
    emit selectionChanged();
}

#pragma once
// The bitmap list as every page of the logo tool shows it: the list (1001) with a check box
// per row for auto-centring, "   No.", "Name" and "Size", the count box (1075) and the size
// box (1074). Each page has its own panel over the one shared model; a panel redraws itself
// from the model when its page becomes active.
//
// Rows remember the list entry they show, so sorting by a header click never mixes up which
// picture a check box or a selection belongs to. A check box change goes straight into the
// entry's auto-centre flag.
//
// GUI thread only.
#include <QWidget>

#include <optional>
#include <vector>

class BitmapList;
struct LogoOptions;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

class LogoListPanel final : public QWidget {
    Q_OBJECT
public:
    // caption: the group caption above the list (the pages name it differently).
    LogoListPanel(BitmapList& list, LogoOptions& options, const QString& caption, bool korean,
                  QWidget* parent = nullptr);

    // Rows, check boxes and both boxes from the model; the shared selected row selected again.
    void redraw();
    // The list entries of the selected rows, in list order.
    std::vector<int> selectedEntries() const;
    QTreeWidget* tree() const { return m_tree; }

signals:
    // The shared selected row changed (a click or the keyboard on this panel).
    void selectionChanged();

private:
    void sortBy(int column);
    void onItemChanged(QTreeWidgetItem* item, int column);
    void onCurrentChanged();

    BitmapList& m_list;
    LogoOptions& m_options;
    QTreeWidget* m_tree;
    QLineEdit* m_count;
    QLineEdit* m_size;
    int m_sortColumn = -1;
    bool m_descending = false;
    bool m_redrawing = false;
};

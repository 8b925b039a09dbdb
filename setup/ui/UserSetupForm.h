#pragma once
// The controls of the user setup dialog (resource 133), laid out with Qt layouts. Every
// control's object name is "ctl" followed by its resource id ("ctl1039" is the 80mm
// button), so that the dialog, the GUI tests and the screenshot script find it by id.
#include <QHash>
#include <QWidget>

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class UserSetupForm final : public QWidget {
    Q_OBJECT
public:
    explicit UserSetupForm(QWidget* parent = nullptr);

    // The control with the id, or nullptr when the form has none.
    QWidget* control(int id) const { return m_controls.value(id, nullptr); }
    QRadioButton* radio(int id) const;
    QComboBox* combo(int id) const;
    QLineEdit* edit(int id) const;
    QLabel* label(int id) const;
    QPushButton* button(int id) const;
    QGroupBox* group(int id) const;
    // The exclusive group that the radio button belongs to.
    QButtonGroup* radioGroup(int radioId) const { return m_radioGroups.value(radioId, nullptr); }

    // Index of the checked button of the pair (first id 0, second 1), -1 when none is.
    int pairValue(int firstId, int secondId) const;
    // Checks the first (0) or second (1) button; -1 clears both.
    void setPairValue(int firstId, int secondId, int value);

    // Enables or disables a list of controls.
    void setEnabled(std::initializer_list<int> ids, bool on);
    void setVisible(std::initializer_list<int> ids, bool on);

private:
    template <class W>
    W* add(int id, W* widget);
    QLabel* addLabel(int id, const QString& text);
    QRadioButton* addRadio(int id, const QString& text);
    void pair(int firstId, int secondId);

    QHash<int, QWidget*> m_controls;
    QHash<int, QButtonGroup*> m_radioGroups;
};

#include "setup/ui/UserSetupForm.h"

#include "qthost/QtDialogs.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace {

// The receipt printer drawn next to the TAVRO36/38 options (picture 1105).
QPixmap printerPicture()
{
    QPixmap pixmap(96, 72);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 48), 2));
    p.setBrush(QColor(245, 245, 240));
    p.drawRect(30, 4, 36, 30); // paper
    p.setPen(QPen(QColor(150, 150, 150), 1));
    for (int y = 12; y < 32; y += 5)
        p.drawLine(35, y, 61, y);
    p.setPen(QPen(QColor(40, 40, 48), 2));
    p.setBrush(QColor(70, 74, 84));
    p.drawRoundedRect(8, 26, 80, 40, 8, 8); // body
    p.setBrush(QColor(30, 30, 34));
    p.drawRect(24, 30, 48, 5); // paper slot
    p.setBrush(QColor(90, 200, 110));
    p.drawEllipse(QPointF(74, 54), 3.5, 3.5); // power lamp
    return pixmap;
}

} // namespace

template <class W>
W* UserSetupForm::add(int id, W* widget)
{
    widget->setObjectName(QString("ctl%1").arg(id));
    m_controls.insert(id, widget);
    return widget;
}

QLabel* UserSetupForm::addLabel(int id, const QString& text)
{
    return add(id, new QLabel(text));
}

QRadioButton* UserSetupForm::addRadio(int id, const QString& text)
{
    auto* radio = add(id, new QRadioButton(text));
    radio->setAutoExclusive(false);
    return radio;
}

void UserSetupForm::pair(int firstId, int secondId)
{
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    group->addButton(radio(firstId), 0);
    group->addButton(radio(secondId), 1);
    m_radioGroups.insert(firstId, group);
    m_radioGroups.insert(secondId, group);
}

QRadioButton* UserSetupForm::radio(int id) const
{
    return qobject_cast<QRadioButton*>(control(id));
}
QComboBox* UserSetupForm::combo(int id) const
{
    return qobject_cast<QComboBox*>(control(id));
}
QLineEdit* UserSetupForm::edit(int id) const
{
    return qobject_cast<QLineEdit*>(control(id));
}
QLabel* UserSetupForm::label(int id) const
{
    return qobject_cast<QLabel*>(control(id));
}
QPushButton* UserSetupForm::button(int id) const
{
    return qobject_cast<QPushButton*>(control(id));
}
QGroupBox* UserSetupForm::group(int id) const
{
    return qobject_cast<QGroupBox*>(control(id));
}

int UserSetupForm::pairValue(int firstId, int secondId) const
{
    if (radio(firstId)->isChecked())
        return 0;
    if (radio(secondId)->isChecked())
        return 1;
    return -1;
}

void UserSetupForm::setPairValue(int firstId, int secondId, int value)
{
    QButtonGroup* group = radioGroup(firstId);
    if (value < 0) {
        // An exclusive group refuses to uncheck its last button; -1 means "no value".
        group->setExclusive(false);
        radio(firstId)->setChecked(false);
        radio(secondId)->setChecked(false);
        group->setExclusive(true);
        return;
    }
    radio(value == 0 ? firstId : secondId)->setChecked(true);
}

void UserSetupForm::setEnabled(std::initializer_list<int> ids, bool on)
{
    for (int id : ids)
        if (QWidget* w = control(id))
            w->setEnabled(on);
}

void UserSetupForm::setVisible(std::initializer_list<int> ids, bool on)
{
    for (int id : ids)
        if (QWidget* w = control(id))
            w->setVisible(on);
}

UserSetupForm::UserSetupForm(QWidget* parent) : QWidget(parent)
{
    setObjectName("UserSetupForm");
    auto digits = [this](int maxDigits) {
        return new QRegularExpressionValidator(QRegularExpression(QString("[0-9]{0,%1}").arg(maxDigits)), this);
    };

    // Model caption (static 1034), filled with the connection summary.
    auto* model = add(1034, new QLabel("MODEL"));
    model->setFrameShape(QFrame::StyledPanel);
    model->setMargin(4);
    model->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    model->setTextInteractionFlags(Qt::TextSelectableByMouse);

    // Left: the settings the printer reads and writes.
    auto* left = add(1075, new QGroupBox("User Setup"));
    auto* g = new QGridLayout(left);
    int row = 0;
    auto radioRow = [&](int labelId, const QString& text, int a, const QString& ta, int b, const QString& tb) {
        g->addWidget(addLabel(labelId, text), row, 0);
        g->addWidget(addRadio(a, ta), row, 1);
        g->addWidget(addRadio(b, tb), row, 2);
        pair(a, b);
    };
    auto comboAt = [&](int id, int column, int span = 1) {
        auto* c = add(id, new QComboBox);
        c->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        g->addWidget(c, row, column, 1, span);
        return c;
    };

    radioRow(1076, "Paper Width & Max. Column", 1039, "80mm", 1037, "58mm");
    comboAt(1067, 3, 2)->addItems({"32 Column", "34 Column"});
    ++row;
    radioRow(1077, "Paper Type", 1004, "Black", 1006, "2Color");
    comboAt(1055, 3, 2)->addItems({"LIGHT", "MEDIUM", "DARK"});
    ++row;
    radioRow(1078, "Water Mark Function", 1009, "Disable", 1011, "Enable");
    g->addWidget(addLabel(1080, "Image#"), row, 3);
    auto* image = add(1026, new QLineEdit("1"));
    image->setValidator(digits(3));
    image->setMaximumWidth(60);
    g->addWidget(image, row, 4);
    ++row;
    radioRow(1079, "Cutting postion adjustment Function", 1014, "OFF", 1016, "ON");
    g->addWidget(addLabel(1019, "Lines"), row, 3);
    auto* lines = add(1029, new QLineEdit("0"));
    lines->setValidator(digits(3));
    lines->setMaximumWidth(60);
    g->addWidget(lines, row, 4);
    ++row;
    radioRow(1081, "Drawer open with cutting", 1020, "Disable", 1024, "Enable");
    ++row;
    g->addWidget(addLabel(1082, "Kitchen Bell Type & Length"), row, 0);
    comboAt(1069, 1, 2);
    comboAt(1053, 3)->addItems({"1", "2", "3", "4", "5"});
    g->addWidget(addLabel(1021, "Times"), row, 4);
    ++row;
    g->addWidget(addLabel(1083, "Default Code Page"), row, 0);
    comboAt(1054, 1, 4);
    ++row;
    g->addWidget(addLabel(1084, "NV Graphic Memory Size"), row, 0);
    comboAt(1056, 1)->addItems({"0", "64", "128", "192", "256", "320", "384"});
    g->addWidget(new QLabel("Kbyte"), row, 2);
    ++row;
    g->addWidget(addLabel(1085, "NV User Memory Size"), row, 0);
    comboAt(1057, 1)->addItems({"64", "128", "192", "256", "320"});
    g->addWidget(new QLabel("Kbyte"), row, 2);
    ++row;
    radioRow(1086, "Cutting Mode Select", 1051, "Partial", 1061, "Full Cut");
    ++row;
    radioRow(1058, "Bold Korean Font", 1049, "OFF", 1050, "ON");
    ++row;
    g->addWidget(addLabel(1060, "Max Print Speed"), row, 0);
    comboAt(1062, 1)->addItems({"220", "200", "180", "150"});
    g->addWidget(new QLabel("mm/sec"), row, 2);
    ++row;
    g->addWidget(addLabel(1064, "Set Left Paper Margin"), row, 0);
    auto* margin = add(1063, new QLineEdit("0"));
    margin->setValidator(digits(5));
    margin->setMaximumWidth(80);
    g->addWidget(margin, row, 1);
    g->addWidget(addLabel(1007, "dot (0 ~ 576)"), row, 2, 1, 2);
    ++row;
    radioRow(1087, "Drawer Open In Self-Test", 1065, "Enable", 1066, "Disable");
    ++row;
    g->addWidget(addLabel(1088, "Receive Buffer Size"), row, 0);
    comboAt(1068, 1);
    g->addWidget(new QLabel("Kbyte"), row, 2);
    ++row;
    radioRow(1089, "STOP BIT(COM PORT)", 1071, "ONE", 1072, "TWO");
    ++row;
    g->addWidget(addLabel(1010, "Customize Setup Code(HEX)"), row, 0);
    auto* code = add(1025, new QLineEdit("0"));
    code->setMaxLength(8);
    code->setMaximumWidth(110);
    g->addWidget(code, row, 1, 1, 2);
    g->setColumnStretch(5, 1);

    // Right: the options the printer only takes (written, never read back).
    auto* right = add(1012, new QGroupBox("New Option"));
    g = new QGridLayout(right);
    row = 0;
    radioRow(1093, "Emulation", 1094, "EPSON", 1095, "STAR");
    ++row;
    g->addWidget(addLabel(1096, "Density"), row, 0);
    comboAt(1047, 1, 2);
    ++row;
    radioRow(1097, "Kitchen Bell", 1015, "OFF", 1017, "ON");
    ++row;
    radioRow(1098, "AutoCut", 1030, "ON", 1031, "OFF");
    ++row;
    radioRow(1099, "SELF-TEST", 1022, "Self-Test", 1023, "HexaDump");
    ++row;
    radioRow(1091, "Receive Error", 1027, "Print '?'", 1028, "IGNORE");
    // The printer does not take this option; the dialog keeps it but never shows it.
    setVisible({1091, 1027, 1028}, false);
    ++row;
    radioRow(1101, "USB mode", 1033, "USB", 1036, "COM");
    ++row;
    g->addWidget(addLabel(1102, "Sleep mode"), row, 0);
    comboAt(1048, 1, 2);
    ++row;
    g->addWidget(addLabel(1103, "Paper Save Mode"), row, 0);
    comboAt(1090, 1, 2);
    ++row;
    radioRow(1104, "WiFi Auto Keep-Connection", 1038, "Enable", 1040, "Disable");
    ++row;
    radioRow(1106, "LCD Password", 1041, "Reset", 1042, "Don't touch");
    ++row;
    radioRow(1100, "Bell", 1043, "External", 1044, "Built-in");
    ++row;
    radioRow(1092, "Bluetooth PWR from USB", 1045, "OFF", 1046, "ON");
    ++row;
    auto* picture = add(1105, new QLabel);
    picture->setPixmap(printerPicture());
    picture->setAlignment(Qt::AlignCenter);
    g->addWidget(picture, row, 0, 1, 3);
    g->setRowStretch(row + 1, 1);

    // Buttons; Load and Save exist in the resource but are never shown.
    auto* buttons = new QHBoxLayout;
    for (auto [id, text] : std::initializer_list<std::pair<int, const char*>>{
             {1032, "&Get Value"}, {1052, "&Set Value"}, {1035, "&TEST"}, {1059, "&Default"},
             {1073, "Load"}, {1074, "Save"}, {1070, "E&XIT"}}) {
        auto* b = add(id, new QPushButton(text));
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    setVisible({1073, 1074}, false);
    buttons->insertStretch(4, 1);

    // The model area above the right-hand group, where the six-line serial summary fits
    // beside the long left-hand list.
    auto* rightColumn = new QVBoxLayout;
    rightColumn->addWidget(model);
    rightColumn->addWidget(right, 1);
    auto* columns = new QHBoxLayout;
    columns->addWidget(left, 3);
    columns->addLayout(rightColumn, 2);
    // The options scroll on a small or scaled screen; the buttons stay below, always in view.
    auto* options = new QWidget;
    options->setObjectName("options");
    options->setLayout(columns);
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(0, 0, 0, 0);
    top->addWidget(scrollArea(options), 1);
    top->addLayout(buttons);

    // Tab order: model area, left group top to bottom, right group, then the buttons.
    QWidget* previous = nullptr;
    for (int id : {1039, 1037, 1067, 1004, 1006, 1055, 1009, 1011, 1026, 1014, 1016, 1029, 1020, 1024,
                   1069, 1053, 1054, 1056, 1057, 1051, 1061, 1049, 1050, 1062, 1063, 1065, 1066, 1068,
                   1071, 1072, 1025, 1094, 1095, 1047, 1015, 1017, 1030, 1031, 1022, 1023, 1033, 1036,
                   1048, 1090, 1038, 1040, 1041, 1042, 1043, 1044, 1045, 1046, 1032, 1052, 1035, 1059,
                   1070}) {
        QWidget* w = control(id);
        if (previous)
            setTabOrder(previous, w);
        previous = w;
    }
}

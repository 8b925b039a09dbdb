#include "setup/ui/UserSetupForm.h"

#include "qthost/QtControlName.h"

#include "qthost/QtDialogs.h"
#include "setup/ui/UserSetupControls.h"

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

using namespace UserSetupControls;

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
    widget->setObjectName(controlName(id));
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
    auto* model = add(kModelArea, new QLabel("MODEL"));
    model->setFrameShape(QFrame::StyledPanel);
    model->setMargin(4);
    model->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    model->setTextInteractionFlags(Qt::TextSelectableByMouse);

    // Left: the settings the printer reads and writes.
    auto* left = add(kUserSetupGroup, new QGroupBox("User Setup"));
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

    radioRow(kPaperWidthLabel, "Paper Width & Max. Column", kPaper80mm, "80mm", kPaper58mm, "58mm");
    comboAt(kColumnCombo, 3, 2)->addItems({"32 Column", "34 Column"});
    ++row;
    radioRow(kPaperTypeLabel, "Paper Type", kPaperBlack, "Black", kPaperTwoColor, "2Color");
    comboAt(kColorDensityCombo, 3, 2)->addItems({"LIGHT", "MEDIUM", "DARK"});
    ++row;
    radioRow(kWaterMarkLabel, "Water Mark Function", kWaterMarkDisable, "Disable", kWaterMarkEnable, "Enable");
    g->addWidget(addLabel(kImageNumberLabel, "Image#"), row, 3);
    auto* image = add(kImageNumberEdit, new QLineEdit("1"));
    image->setValidator(digits(3));
    image->setMaximumWidth(60);
    g->addWidget(image, row, 4);
    ++row;
    radioRow(kCutAdjustLabel, "Cutting postion adjustment Function", kCutAdjustOff, "OFF", kCutAdjustOn, "ON");
    g->addWidget(addLabel(kLinesLabel, "Lines"), row, 3);
    auto* lines = add(kLinesEdit, new QLineEdit("0"));
    lines->setValidator(digits(3));
    lines->setMaximumWidth(60);
    g->addWidget(lines, row, 4);
    ++row;
    radioRow(kDrawerOnCutLabel, "Drawer open with cutting", kDrawerOnCutDisable, "Disable", kDrawerOnCutEnable,
             "Enable");
    ++row;
    g->addWidget(addLabel(kBellTypeLabel, "Kitchen Bell Type & Length"), row, 0);
    comboAt(kBellTypeCombo, 1, 2);
    comboAt(kBellCountCombo, 3)->addItems({"1", "2", "3", "4", "5"});
    g->addWidget(addLabel(kTimesLabel, "Times"), row, 4);
    ++row;
    g->addWidget(addLabel(kCodePageLabel, "Default Code Page"), row, 0);
    comboAt(kCodePageCombo, 1, 4);
    ++row;
    g->addWidget(addLabel(kNvGraphicLabel, "NV Graphic Memory Size"), row, 0);
    comboAt(kNvGraphicCombo, 1)->addItems({"0", "64", "128", "192", "256", "320", "384"});
    g->addWidget(new QLabel("Kbyte"), row, 2);
    ++row;
    g->addWidget(addLabel(kNvUserLabel, "NV User Memory Size"), row, 0);
    comboAt(kNvUserCombo, 1)->addItems({"64", "128", "192", "256", "320"});
    g->addWidget(new QLabel("Kbyte"), row, 2);
    ++row;
    radioRow(kCutModeLabel, "Cutting Mode Select", kCutPartial, "Partial", kCutFull, "Full Cut");
    ++row;
    radioRow(kBoldKoreanLabel, "Bold Korean Font", kBoldKoreanOff, "OFF", kBoldKoreanOn, "ON");
    ++row;
    g->addWidget(addLabel(kSpeedLabel, "Max Print Speed"), row, 0);
    comboAt(kSpeedCombo, 1)->addItems({"220", "200", "180", "150"});
    g->addWidget(new QLabel("mm/sec"), row, 2);
    ++row;
    g->addWidget(addLabel(kMarginLabel, "Set Left Paper Margin"), row, 0);
    auto* margin = add(kMarginEdit, new QLineEdit("0"));
    margin->setValidator(digits(5));
    margin->setMaximumWidth(80);
    g->addWidget(margin, row, 1);
    g->addWidget(addLabel(kMarginUnitLabel, "dot (0 ~ 576)"), row, 2, 1, 2);
    ++row;
    radioRow(kDrawerSelfTestLabel, "Drawer Open In Self-Test", kDrawerSelfTestEnable, "Enable", kDrawerSelfTestDisable,
             "Disable");
    ++row;
    g->addWidget(addLabel(kRxBufferLabel, "Receive Buffer Size"), row, 0);
    comboAt(kRxBufferCombo, 1);
    g->addWidget(new QLabel("Kbyte"), row, 2);
    ++row;
    radioRow(kStopBitLabel, "STOP BIT(COM PORT)", kStopBitOne, "ONE", kStopBitTwo, "TWO");
    ++row;
    g->addWidget(addLabel(kCustomCodeLabel, "Customize Setup Code(HEX)"), row, 0);
    auto* code = add(kCustomCodeEdit, new QLineEdit("0"));
    code->setMaxLength(8);
    code->setMaximumWidth(110);
    g->addWidget(code, row, 1, 1, 2);
    g->setColumnStretch(5, 1);

    // Right: the options the printer only takes (written, never read back).
    auto* right = add(kNewOptionGroup, new QGroupBox("New Option"));
    g = new QGridLayout(right);
    row = 0;
    radioRow(kEmulationLabel, "Emulation", kEmulationEpson, "EPSON", kEmulationStar, "STAR");
    ++row;
    g->addWidget(addLabel(kDensityLabel, "Density"), row, 0);
    comboAt(kDensityCombo, 1, 2);
    ++row;
    radioRow(kKitchenBellLabel, "Kitchen Bell", kKitchenBellOff, "OFF", kKitchenBellOn, "ON");
    ++row;
    radioRow(kAutoCutLabel, "AutoCut", kAutoCutOn, "ON", kAutoCutOff, "OFF");
    ++row;
    radioRow(kSelfTestLabel, "SELF-TEST", kSelfTestPrint, "Self-Test", kSelfTestHexDump, "HexaDump");
    ++row;
    radioRow(kReceiveErrorLabel, "Receive Error", kReceiveErrorPrint, "Print '?'", kReceiveErrorIgnore, "IGNORE");
    // The printer does not take this option; the dialog keeps it but never shows it.
    setVisible({kReceiveErrorLabel, kReceiveErrorPrint, kReceiveErrorIgnore}, false);
    ++row;
    radioRow(kUsbModeLabel, "USB mode", kUsbModeUsb, "USB", kUsbModeCom, "COM");
    ++row;
    g->addWidget(addLabel(kSleepModeLabel, "Sleep mode"), row, 0);
    comboAt(kSleepModeCombo, 1, 2);
    ++row;
    g->addWidget(addLabel(kPaperSaveLabel, "Paper Save Mode"), row, 0);
    comboAt(kPaperSaveCombo, 1, 2);
    ++row;
    radioRow(kWifiKeepLabel, "WiFi Auto Keep-Connection", kWifiKeepEnable, "Enable", kWifiKeepDisable, "Disable");
    ++row;
    radioRow(kLcdPasswordLabel, "LCD Password", kLcdPasswordReset, "Reset", kLcdPasswordKeep, "Don't touch");
    ++row;
    radioRow(kBellLabel, "Bell", kBellExternal, "External", kBellBuiltIn, "Built-in");
    ++row;
    radioRow(kBtPowerLabel, "Bluetooth PWR from USB", kBtPowerOff, "OFF", kBtPowerOn, "ON");
    ++row;
    auto* picture = add(kPrinterPicture, new QLabel);
    picture->setPixmap(printerPicture());
    picture->setAlignment(Qt::AlignCenter);
    g->addWidget(picture, row, 0, 1, 3);
    g->setRowStretch(row + 1, 1);

    // Buttons; Load and Save exist in the resource but are never shown.
    auto* buttons = new QHBoxLayout;
    for (auto [id, text] : std::initializer_list<std::pair<int, const char*>>{{kGetValueButton, "&Get Value"},
                                                                               {kSetValueButton, "&Set Value"},
                                                                               {kTestButton, "&TEST"},
                                                                               {kDefaultButton, "&Default"},
                                                                               {kLoadButton, "Load"},
                                                                               {kSaveButton, "Save"},
                                                                               {kExitButton, "E&XIT"}}) {
        auto* b = add(id, new QPushButton(text));
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    setVisible({kLoadButton, kSaveButton}, false);
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
    for (int id : {kPaper80mm, kPaper58mm, kColumnCombo, kPaperBlack, kPaperTwoColor, kColorDensityCombo,
                   kWaterMarkDisable, kWaterMarkEnable, kImageNumberEdit, kCutAdjustOff, kCutAdjustOn, kLinesEdit,
                   kDrawerOnCutDisable, kDrawerOnCutEnable, kBellTypeCombo, kBellCountCombo, kCodePageCombo,
                   kNvGraphicCombo, kNvUserCombo, kCutPartial, kCutFull, kBoldKoreanOff, kBoldKoreanOn, kSpeedCombo,
                   kMarginEdit, kDrawerSelfTestEnable, kDrawerSelfTestDisable, kRxBufferCombo, kStopBitOne,
                   kStopBitTwo, kCustomCodeEdit, kEmulationEpson, kEmulationStar, kDensityCombo, kKitchenBellOff,
                   kKitchenBellOn, kAutoCutOn, kAutoCutOff, kSelfTestPrint, kSelfTestHexDump, kUsbModeUsb,
                   kUsbModeCom, kSleepModeCombo, kPaperSaveCombo, kWifiKeepEnable, kWifiKeepDisable,
                   kLcdPasswordReset, kLcdPasswordKeep, kBellExternal, kBellBuiltIn, kBtPowerOff, kBtPowerOn,
                   kGetValueButton, kSetValueButton, kTestButton, kDefaultButton, kExitButton}) {
        QWidget* w = control(id);
        if (previous)
            setTabOrder(previous, w);
        previous = w;
    }
}

#include "setup/ui/UserSetupBinding.h"

#include "setup/ui/UserSetupForm.h"
#include "setup/ui/UserSetupControls.h"

#include <QComboBox>
#include <QLineEdit>

using namespace UserSetupControls;

namespace {

struct Pair {
    int first;
    int second;
    int SetupOptions::*value;
};

// Radio pairs in form order.
const Pair kPairs[] = {
    {kPaper80mm, kPaper58mm, &SetupOptions::paperWidth},
    {kPaperBlack, kPaperTwoColor, &SetupOptions::paperType},
    {kWaterMarkDisable, kWaterMarkEnable, &SetupOptions::watermark},
    {kCutAdjustOff, kCutAdjustOn, &SetupOptions::cutAdjust},
    {kDrawerOnCutDisable, kDrawerOnCutEnable, &SetupOptions::drawerOnCut},
    {kCutPartial, kCutFull, &SetupOptions::cutMode},
    {kBoldKoreanOff, kBoldKoreanOn, &SetupOptions::boldKorean},
    {kDrawerSelfTestEnable, kDrawerSelfTestDisable, &SetupOptions::drawerSelfTest},
    {kStopBitOne, kStopBitTwo, &SetupOptions::stopBit},
    {kEmulationEpson, kEmulationStar, &SetupOptions::emulation},
    {kKitchenBellOff, kKitchenBellOn, &SetupOptions::kitchenBell},
    {kAutoCutOn, kAutoCutOff, &SetupOptions::autoCut},
    {kSelfTestPrint, kSelfTestHexDump, &SetupOptions::selfTest},
    {kReceiveErrorPrint, kReceiveErrorIgnore, &SetupOptions::receiveError},
    {kUsbModeUsb, kUsbModeCom, &SetupOptions::usbMode},
    {kWifiKeepEnable, kWifiKeepDisable, &SetupOptions::wifiKeep},
    {kLcdPasswordReset, kLcdPasswordKeep, &SetupOptions::lcdPassword},
    {kBellExternal, kBellBuiltIn, &SetupOptions::bell},
    {kBtPowerOff, kBtPowerOn, &SetupOptions::btPower},
};

struct Combo {
    int id;
    int SetupOptions::*value;
};

const Combo kCombos[] = {
    {kColumnCombo, &SetupOptions::columns},      {kColorDensityCombo, &SetupOptions::colorDensity},
    {kBellTypeCombo, &SetupOptions::bellType},   {kBellCountCombo, &SetupOptions::bellCount},
    {kCodePageCombo, &SetupOptions::codePage},   {kNvGraphicCombo, &SetupOptions::nvGraphic},
    {kNvUserCombo, &SetupOptions::nvUser},       {kSpeedCombo, &SetupOptions::speed},
    {kRxBufferCombo, &SetupOptions::rxBuffer},   {kDensityCombo, &SetupOptions::density},
    {kSleepModeCombo, &SetupOptions::sleepMode}, {kPaperSaveCombo, &SetupOptions::paperSave},
};

bool readNumber(const QLineEdit* edit, int low, int high, int& out)
{
    bool ok = false;
    int value = edit->text().trimmed().toInt(&ok);
    if (!ok || value < low || value > high)
        return false;
    out = value;
    return true;
}

} // namespace

std::string formToOptions(const UserSetupForm& form, SetupOptions& options)
{
    for (const Pair& p : kPairs)
        options.*p.value = form.pairValue(p.first, p.second);
    for (const Combo& c : kCombos)
        options.*c.value = form.combo(c.id)->currentIndex();
    if (!readNumber(form.edit(kImageNumberEdit), 1, 255, options.imageNumber))
        return "Please enter an integer between 1 and 255.";
    if (!readNumber(form.edit(kLinesEdit), 0, 255, options.lines))
        return "Please enter an integer between 0 and 255.";
    if (!readNumber(form.edit(kMarginEdit), 0, 99999, options.margin))
        return "Please enter an integer.";
    options.customCode = form.edit(kCustomCodeEdit)->text().toStdString();
    return {};
}

void optionsToForm(const SetupOptions& options, UserSetupForm& form)
{
    for (const Pair& p : kPairs)
        form.setPairValue(p.first, p.second, options.*p.value);
    for (const Combo& c : kCombos) {
        QComboBox* combo = form.combo(c.id);
        int value = options.*c.value;
        combo->setCurrentIndex(value >= 0 && value < combo->count() ? value : -1);
    }
    form.edit(kImageNumberEdit)->setText(QString::number(options.imageNumber));
    form.edit(kLinesEdit)->setText(QString::number(options.lines));
    form.edit(kMarginEdit)->setText(QString::number(options.margin));
    form.edit(kCustomCodeEdit)->setText(QString::fromStdString(options.customCode));
}

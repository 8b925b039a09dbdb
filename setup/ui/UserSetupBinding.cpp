#include "setup/ui/UserSetupBinding.h"

#include "setup/ui/UserSetupForm.h"

#include <QComboBox>
#include <QLineEdit>

namespace {

struct Pair {
    int first;
    int second;
    int SetupOptions::*value;
};

// Radio pairs in form order.
const Pair kPairs[] = {
    {1039, 1037, &SetupOptions::paperWidth},  {1004, 1006, &SetupOptions::paperType},
    {1009, 1011, &SetupOptions::watermark},   {1014, 1016, &SetupOptions::cutAdjust},
    {1020, 1024, &SetupOptions::drawerOnCut}, {1051, 1061, &SetupOptions::cutMode},
    {1049, 1050, &SetupOptions::boldKorean},  {1065, 1066, &SetupOptions::drawerSelfTest},
    {1071, 1072, &SetupOptions::stopBit},     {1094, 1095, &SetupOptions::emulation},
    {1015, 1017, &SetupOptions::kitchenBell}, {1030, 1031, &SetupOptions::autoCut},
    {1022, 1023, &SetupOptions::selfTest},    {1027, 1028, &SetupOptions::receiveError},
    {1033, 1036, &SetupOptions::usbMode},     {1038, 1040, &SetupOptions::wifiKeep},
    {1041, 1042, &SetupOptions::lcdPassword}, {1043, 1044, &SetupOptions::bell},
    {1045, 1046, &SetupOptions::btPower},
};

struct Combo {
    int id;
    int SetupOptions::*value;
};

const Combo kCombos[] = {
    {1067, &SetupOptions::columns},   {1055, &SetupOptions::colorDensity}, {1069, &SetupOptions::bellType},
    {1053, &SetupOptions::bellCount}, {1054, &SetupOptions::codePage},     {1056, &SetupOptions::nvGraphic},
    {1057, &SetupOptions::nvUser},    {1062, &SetupOptions::speed},        {1068, &SetupOptions::rxBuffer},
    {1047, &SetupOptions::density},   {1048, &SetupOptions::sleepMode},    {1090, &SetupOptions::paperSave},
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
    if (!readNumber(form.edit(1026), 1, 255, options.imageNumber))
        return "Please enter an integer between 1 and 255.";
    if (!readNumber(form.edit(1029), 0, 255, options.lines))
        return "Please enter an integer between 0 and 255.";
    if (!readNumber(form.edit(1063), 0, 99999, options.margin))
        return "Please enter an integer.";
    options.customCode = form.edit(1025)->text().toStdString();
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
    form.edit(1026)->setText(QString::number(options.imageNumber));
    form.edit(1029)->setText(QString::number(options.lines));
    form.edit(1063)->setText(QString::number(options.margin));
    form.edit(1025)->setText(QString::fromStdString(options.customCode));
}

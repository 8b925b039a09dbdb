#include "logo/ui/LogoSheetState.h"

#include "app/CErrorLog.h"
#include "app/Clock.h"
#include "app/Prompter.h"
#include "logo/LogoLog.h"
#include "qthost/QtDialogs.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

LogoSheetState::LogoSheetState(LogoSheetDeps d)
    : deps(std::move(d)), options(LogoOptions::defaults(deps.settings.modelFamily)), list(deps.prompter, options),
      portName(deps.settings.portName)
{
}

ConnectionSettings LogoSheetState::connectionSettings() const
{
    ConnectionSettings s = deps.settings;
    s.portName = portName;
    return s;
}

logo_tool::LogoToolDeps LogoSheetState::toolDeps(ProgressSink* progress, logo_tool::JobDriver drive)
{
    // A port no connection can use is the port that did not open, as the pages always said.
    return {connectionSettings(),
            logo_tool::sayingPortOpenFailed(deps.connect, deps.prompter),
            SystemClock::instance(),
            deps.prompter,
            deps.errorLog,
            progress ? *progress : m_noProgress,
            nullptr,
            std::move(drive)};
}

QString LogoSheetState::text(const char* english, const char* korean) const
{
    return QString::fromUtf8(deps.korean ? korean : english);
}

QString LogoSheetState::label(const char* english, const char* korean, char key) const
{
    return deps.korean ? koreanMnemonic(korean, key) : QString::fromUtf8(english);
}

void LogoSheetState::restore()
{
    list.reset();
    options.autoCenter.fill(false);
    logKeys = list.restoreFromLog(deps.profile);
    // The ticks follow the pictures' numbers: a logged file that no longer loads leaves no
    // row, and the rows behind it move up.
    const std::vector<int> centred = LogoLog(deps.profile).centred();
    for (int row = 0; row < list.fileCount() && row < LogoOptions::kMaxRows; ++row)
        options.autoCenter[std::size_t(row)] =
            std::binary_search(centred.begin(), centred.end(), list.imageNumber(row));
}

namespace logo_page {

QLineEdit* readOnlyBox(int id)
{
    auto* e = named(new QLineEdit, id);
    e->setReadOnly(true);
    e->setFocusPolicy(Qt::NoFocus);
    return e;
}

QGroupBox* qualityGroup(const LogoSheetState& s, QButtonGroup* group, std::initializer_list<QualityChoice> choices)
{
    auto* box = new QGroupBox(s.label("Q&uality", "품질", 'U'));
    auto* layout = new QVBoxLayout(box);
    for (const QualityChoice& c : choices) {
        auto* radio = named(new QRadioButton(s.label(c.english, c.korean, c.key)), c.id);
        group->addButton(radio, int(c.mode));
        layout->addWidget(radio);
    }
    group->button(int(LogoPrintMode::Normal))->setChecked(true);
    return box;
}

void showPrinterDetails(const LogoSheetState& s, QLineEdit* name, QLineEdit* port)
{
    if (logo_tool::writesToFile(s.connectionSettings())) {
        name->setText(s.text("To File", "파일로 출력"));
        port->setText(s.text("To File", "파일로 출력"));
        return;
    }
    name->setText(s.family() == kFamilyTavro15 ? "TAVRO15" : "TAVRO");
    port->setText(QString::fromStdString(s.portName));
}

QGroupBox* printerDetails(const LogoSheetState& s, QLineEdit* name, QLineEdit* port)
{
    auto* group = new QGroupBox(s.text("Printer Details", "프린터 정보"));
    auto* grid = new QGridLayout(group);
    grid->addWidget(new QLabel(s.text("Printer Name", "프린터 이름")), 0, 0);
    grid->addWidget(name, 0, 1);
    grid->addWidget(new QLabel(s.text("Port Name", "프린터 포트")), 1, 0);
    grid->addWidget(port, 1, 1);
    return group;
}

bool isIntegerIn(const QString& text, int low, int high, int* value)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < low || v > high)
        return false;
    *value = v;
    return true;
}

void refuseRange(const LogoSheetState& s, int low, int high)
{
    const std::string text = s.deps.korean
                                 ? std::to_string(low) + "에서 " + std::to_string(high) + " 사이의 정수를 입력하십시오."
                                 : "Please enter an integer between " + std::to_string(low) + " and " +
                                       std::to_string(high) + ".";
    s.deps.prompter.message(text);
}

} // namespace logo_page

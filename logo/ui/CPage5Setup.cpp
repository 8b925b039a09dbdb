#include "logo/ui/CPage5Setup.h"

#include "logo/ui/LogoControls.h"
#include "qthost/QtBusy.h"
#include "qthost/QtGuiCall.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

using logo_page::named;

namespace {
// The unit label behind the printable area has no resource id of its own.
constexpr const char* kAreaUnit = "areaUnit";
} // namespace

CPage5Setup::CPage5Setup(LogoSheetState& state, QWidget* parent) : LogoPage(state, parent)
{
    setObjectName("CPage5Setup");
    const LogoSheetState& s = state;
    m_areaLimit = int(LogoOptions::printableAreaLimit(s.family()));
    m_printToFile = named(new QCheckBox(s.label("&Print To File", "파일로 출력", 'P')), logo_ctl::kPrintToFile);
    m_gray = named(new QCheckBox(s.label("Use &Gray Printing", "농도조절인쇄", 'G')), logo_ctl::kGrayPrinting);
    m_star = named(new QCheckBox(s.label("Use &Star Emulation", "STAR 에뮬레이션", 'S')), logo_ctl::kStarEmulation);
    m_gray->setEnabled(s.family() != kFamilyTavro15);

    m_maxArea = named(new QLineEdit(QString::number(s.options.maxPrintableArea)), logo_ctl::kMaxPrintableArea);
    m_maxArea->setValidator(new QIntValidator(0, 999, m_maxArea));
    m_maxArea->setFixedWidth(m_maxArea->fontMetrics().horizontalAdvance("0000") + 16);
    m_maxArea->installEventFilter(this);
    m_slider = named(new QSlider(Qt::Horizontal), logo_ctl::kDivergingSlider);
    m_slider->setRange(0, 255);
    m_slider->setValue(s.options.divergingPoint);
    m_diverging = named(new QLineEdit(QString::number(s.options.divergingPoint)), logo_ctl::kDivergingPoint);
    m_diverging->setValidator(new QIntValidator(0, 255, m_diverging));
    m_diverging->setMaximumWidth(60);

    auto* options = new QGroupBox(s.text("Option Setting", "설정"));
    auto* grid = new QGridLayout(options);
    grid->addWidget(m_printToFile, 0, 0, 1, 3);
    grid->addWidget(m_gray, 1, 0, 1, 3);
    grid->addWidget(m_star, 2, 0, 1, 3);
    auto* areaLabel = new QLabel(s.label("Max Printable &Area :", "인쇄 가능 영역", 'A'));
    areaLabel->setBuddy(m_maxArea);
    grid->addWidget(areaLabel, 3, 0);
    grid->addWidget(m_maxArea, 3, 1);
    // The range the field takes, which is the model's head width (the old label's 512 was
    // never the limit).
    auto* unit = new QLabel(s.text("dots(1~%1)", "도트(1~%1)").arg(m_areaLimit));
    unit->setObjectName(kAreaUnit);
    grid->addWidget(unit, 3, 2);
    auto* pointLabel = new QLabel(s.label("Black / White &diverging point (0~255)", "흑 / 백 경계값 (0~255)", 'D'));
    pointLabel->setBuddy(m_diverging);
    grid->addWidget(pointLabel, 4, 0, 1, 3);
    auto* sliderRow = new QHBoxLayout;
    sliderRow->addWidget(m_slider, 1);
    sliderRow->addWidget(m_diverging);
    grid->addLayout(sliderRow, 5, 0, 1, 3);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(6, 1);

    auto* device = new QGroupBox(s.text("Device", "프린터 정보"));
    auto* deviceLayout = new QVBoxLayout(device);
    m_device = named(new QLabel(QString::fromStdString(s.deps.summary).replace("\r\n", "\n")), logo_ctl::kDevice);
    deviceLayout->addWidget(m_device);

    auto* about = named(new QGroupBox(s.text("About", "정보")), logo_ctl::kAbout);
    auto* aboutLayout = new QVBoxLayout(about);
    aboutLayout->addWidget(new QLabel(s.text("Bitmap Image downloader ", "비트맵 이미지 전송")));

    auto* right = new QVBoxLayout;
    right->addWidget(device);
    right->addWidget(about);
    right->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(options, 1);
    layout->addLayout(right, 1);

    connect(m_printToFile, &QCheckBox::toggled, this, &CPage5Setup::onPrintToFile);
    connect(m_gray, &QCheckBox::toggled, this, &CPage5Setup::onGray);
    connect(m_star, &QCheckBox::toggled, this, [this](bool on) { m_state.options.starEmulation = on; });
    connect(m_slider, &QSlider::valueChanged, this, [this](int v) {
        if (m_diverging->text() != QString::number(v))
            m_diverging->setText(QString::number(v));
        m_state.options.divergingPoint = v;
    });
    connect(m_diverging, &QLineEdit::textChanged, this, [this](const QString& text) {
        int v = 0;
        if (logo_page::isIntegerIn(text, 0, 255, &v))
            m_slider->setValue(v);
    });
    connect(m_maxArea, &QLineEdit::textChanged, this, [this](const QString& text) {
        int v = 0;
        if (logo_page::isIntegerIn(text, 1, m_areaLimit, &v))
            m_state.options.maxPrintableArea = uint32_t(v);
    });
}

bool CPage5Setup::eventFilter(QObject* watched, QEvent* event)
{
    // Entering the printable area selects its whole text.
    if (watched == m_maxArea && event->type() == QEvent::FocusIn)
        QTimer::singleShot(0, m_maxArea, [edit = m_maxArea] { edit->selectAll(); });
    return LogoPage::eventFilter(watched, event);
}

void CPage5Setup::onPrintToFile(bool on)
{
    m_state.portName = on ? std::string("FILE") : m_state.deps.settings.portName;
    m_device->setText(on ? QString("FILE") : QString::fromStdString(m_state.deps.summary).replace("\r\n", "\n"));
}

void CPage5Setup::onGray(bool on)
{
    if (on == m_state.options.grayPrinting)
        return;
    m_state.options.grayPrinting = on;
    m_state.list.scaleForGrayPrinting(on);
}

void CPage5Setup::onSetActive()
{
    if (!m_printToFile->isChecked())
        checkPrinter();
    int v = 0;
    if (logo_page::isIntegerIn(m_maxArea->text(), 1, m_areaLimit, &v))
        m_state.options.maxPrintableArea = uint32_t(v);
}

// The page's look at the printer, on a worker so the window paints meanwhile (up to a second
// for the answer, more for a port that does not open); the boxes come through the prompter.
void CPage5Setup::checkPrinter()
{
    const logo_tool::LogoToolDeps deps = m_state.toolDeps();
    QtBusy busy(this, m_state.status, m_state.text("Looking for the printer", "프린터 확인 중"));
    runOnWorker([&deps] { (void)logo_tool::checkPrinter(deps); });
}

bool CPage5Setup::onKillActive()
{
    int area = 0;
    if (!logo_page::isIntegerIn(m_maxArea->text(), 1, m_areaLimit, &area)) {
        logo_page::refuseRange(m_state, 1, m_areaLimit);
        m_maxArea->setFocus();
        m_maxArea->selectAll();
        return false;
    }
    int point = 0;
    if (!logo_page::isIntegerIn(m_diverging->text(), 0, 255, &point)) {
        logo_page::refuseRange(m_state, 0, 255);
        m_diverging->setFocus();
        m_diverging->selectAll();
        return false;
    }
    m_state.options.maxPrintableArea = uint32_t(area);
    m_state.options.divergingPoint = point;
    m_state.options.starEmulation = m_star->isChecked();
    return true;
}

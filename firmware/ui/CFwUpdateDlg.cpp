#include "firmware/ui/CFwUpdateDlg.h"

#include "app/CErrorLog.h"
#include "app/Clock.h"
#include "app/MessageCatalog.h"
#include "app/Profile.h"
#include "app/Prompter.h"
#include "firmware/FirmwareChecks.h"
#include "firmware/FirmwareImage.h"
#include "firmware/PrinterReadyJob.h"
#include "firmware/ui/ReadyWithConnection.h"
#include "firmware/TransferBlock.h"
#include "firmware/ui/FirmwareControls.h"
#include "qthost/AppIcon.h"
#include "qthost/HelpBrowser.h"
#include "qthost/QtDialogs.h"
#include "qthost/QtControlName.h"
#include "qthost/QtStepDriver.h"

#include <QButtonGroup>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <atomic>
#include <filesystem>

namespace {

constexpr int kRadioIds[5] = {fwupdate::AreaProgram, fwupdate::AreaExtFont, fwupdate::AreaLcdFont, fwupdate::AreaDownloader,
                               fwupdate::AreaBoot};

// "A|*.x|B|*.*|" as Qt's "A;;B".
QString qtFilter(const std::string& filter)
{
    QStringList parts = QString::fromStdString(filter).split('|', Qt::SkipEmptyParts);
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        out << parts[i];
    return out.join(";;");
}

// The image of a file for the dialog's figures; nothing when it is not a whole image.
std::optional<FirmwareImage> loadImage(const std::string& path)
{
    auto image = FirmwareImage::load(path);
    if (!image)
        return std::nullopt;
    return std::move(*image);
}

} // namespace

// Progress from the worker thread, handed to the GUI thread as a queued call. Reports that
// arrive faster than the GUI shows them are folded into the latest one.
class CFwUpdateDlg::Sink final : public ProgressSink {
public:
    explicit Sink(CFwUpdateDlg* dlg) : m_dlg(dlg) {}
    void report(const ProgressReport& p) override
    {
        m_done = p.done;
        m_total = p.total;
        if (m_pending.exchange(true))
            return;
        QPointer<CFwUpdateDlg> dlg(m_dlg);
        QMetaObject::invokeMethod(
            m_dlg,
            [this, dlg] {
                if (!dlg)
                    return;
                m_pending = false;
                dlg->onProgress(m_done, m_total);
            },
            Qt::QueuedConnection);
    }

private:
    CFwUpdateDlg* m_dlg;
    std::atomic<std::uint64_t> m_done{0}, m_total{0};
    std::atomic<bool> m_pending{false};
};

CFwUpdateDlg::CFwUpdateDlg(FwUpdateDlgDeps deps, QWidget* parent) : QDialog(parent), m_deps(std::move(deps))
{
    setObjectName("CFwUpdateDlg");
    help::installF1(this, "firmware-update");
    setModal(true);
    setWindowIcon(appIcon());
    const bool ko = m_deps.korean;
    auto tr8 = [ko](const char* en, const char* kr) { return QString::fromUtf8(ko ? kr : en); };

    m_pathEdit = named(new QLineEdit, fwupdate::PathEdit);
    m_pathEdit->setReadOnly(true);
    m_pathEdit->setMinimumWidth(360);
    m_fileOpen = named(new QPushButton(ko ? koreanMnemonic("파일 열기", 'F') : QString("&File Open")), fwupdate::FileOpen);

    auto* areaBox = m_areaBox = new QGroupBox(tr8("AREA", "영역"));
    auto* areaLayout = new QVBoxLayout(areaBox);
    m_areas = new QButtonGroup(this);
    for (int i = 0; i < 5; ++i) {
        const auto a = static_cast<FirmwareArea>(i);
        m_radio[i] = named(new QRadioButton(QString::fromUtf8(std::string(firmwareAreaCaption(a, ko)).c_str())), kRadioIds[i]);
        m_areas->addButton(m_radio[i], i);
        areaLayout->addWidget(m_radio[i]);
    }
    m_radio[0]->setChecked(true);

    auto* deviceBox = named(new QGroupBox(tr8("DEVICE", "프린터 종류")), fwupdate::DeviceBox);
    auto* deviceLayout = new QVBoxLayout(deviceBox);
    auto* summary = named(new QLabel(QString::fromStdString(m_deps.summary).replace("\r\n", "\n")), fwupdate::Summary);
    deviceLayout->addWidget(summary);

    m_checksum = named(new QLineEdit, fwupdate::Checksum);
    m_checksum->setReadOnly(true);
    m_fileSize = named(new QLineEdit, fwupdate::FileSize);
    m_fileSize->setReadOnly(true);
    auto* info = new QGroupBox(tr8("Information", "정보"));
    auto* infoLayout = new QGridLayout(info);
    infoLayout->addWidget(named(new QLabel(tr8("CHECKSUM :", "체크섬")), fwupdate::ChecksumLabel), 0, 0);
    infoLayout->addWidget(m_checksum, 0, 1);
    infoLayout->addWidget(named(new QLabel(tr8("FileSize :", "파일크기")), fwupdate::FileSizeLabel), 1, 0);
    infoLayout->addWidget(m_fileSize, 1, 1);
    infoLayout->addWidget(named(new QLabel(tr8("bytes", "바이트")), fwupdate::BytesLabel), 1, 2);
    infoLayout->addWidget(new QLabel("(* Header[4] + FileSize[4] + data[n] + CS[2] )"), 2, 0, 1, 3);

    m_progress = named(new QProgressBar, fwupdate::Progress);
    m_progress->setTextVisible(false);
    m_status = named(new QLabel, fwupdate::StatusLine);
    m_status->setWordWrap(true);
    m_readyDriver = new QtStepDriver(this, "fwReadyDriver");
    // Access keys: Alt+F, Alt+U, Alt+E. The Korean caption keeps its text; its key is Alt+U.
    m_update = named(new QPushButton(tr8("&UPDATE", "다운로드")), fwupdate::Update);
    if (ko)
        m_update->setShortcut(QKeySequence(Qt::ALT | Qt::Key_U));
    m_exit = named(new QPushButton(ko ? koreanMnemonic("닫기", 'E') : QString("&EXIT")), fwupdate::Exit);
    for (QPushButton* b : {m_fileOpen, m_update, m_exit})
        b->setAutoDefault(false);

    auto* top = new QHBoxLayout;
    top->addWidget(m_pathEdit, 1);
    top->addWidget(m_fileOpen);
    auto* middle = new QHBoxLayout;
    middle->addWidget(areaBox);
    auto* right = new QVBoxLayout;
    right->addWidget(deviceBox);
    right->addWidget(info);
    middle->addLayout(right, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_update);
    buttons->addWidget(m_exit);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(middle);
    layout->addWidget(m_progress);
    layout->addWidget(m_status);
    layout->addLayout(buttons);

    connect(m_fileOpen, &QPushButton::clicked, this, &CFwUpdateDlg::onFileOpen);
    connect(m_update, &QPushButton::clicked, this, &CFwUpdateDlg::onUpdate);
    connect(m_exit, &QPushButton::clicked, this, &CFwUpdateDlg::onExit);
    connect(m_areas, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            showArea();
    });

    // The opening sequence.
    setWindowTitle(kTitle);
    setPath(m_deps.profile.getString(kSection, "FOLDER"));
    m_fileName = m_deps.profile.getString(kSection, "FILE");
    m_update->setEnabled(false);
    m_radio[4]->setEnabled(false);
    m_radio[3]->setEnabled(false);
    m_radio[4]->setVisible(false);
    if (m_deps.serviceMode) {
        m_radio[4]->setVisible(true);
        m_radio[3]->setEnabled(true);
        m_service = true;
    }
    if (!m_path.empty()) {
        // A remembered file that no longer opens is passed over without a message.
        auto trailer = FirmwareImage::readTrailer(m_path);
        if (trailer) {
            if (trailer->signature) {
                setImage(loadImage(m_path), true);
            } else {
                refuseFile(m_path, *trailer);
                m_service = false;
            }
            if (m_service)
                applyBootRule(trailer->bootAllowed());
        }
    }
    if (m_deps.settings.modelFamily != kFamilyTavro46)
        m_radio[2]->setEnabled(false);
}

CFwUpdateDlg::~CFwUpdateDlg()
{
    // A download stopped here was not reported: its note stays for the next start.
    (void)stopWorker();
}

QString CFwUpdateDlg::statusText() const
{
    return m_status->text();
}

bool CFwUpdateDlg::readyWaitRunning() const
{
    return m_readyDriver->running();
}

void CFwUpdateDlg::message(const std::string& text, const char* caption)
{
    m_deps.prompter.show(text, PromptButtons::Ok, PromptIcon::Exclamation, caption ? caption : kAppDisplayName);
}

void CFwUpdateDlg::setPath(const std::string& path)
{
    m_path = path;
    m_pathEdit->setText(QString::fromStdString(path));
}

void CFwUpdateDlg::setImage(std::optional<FirmwareImage> image, bool ready)
{
    m_image = std::move(image);
    m_fileReady = ready;
    showArea();
}

void CFwUpdateDlg::showArea()
{
    // A running download keeps its area's figures; the radios are disabled meanwhile.
    if (m_worker)
        return;
    m_update->setEnabled(m_fileReady);
    if (!m_image) {
        m_checksum->clear();
        m_fileSize->clear();
        return;
    }
    // Before UPDATE the boxes show what the chosen area's block will be; after a download,
    // the count that left.
    const auto block = buildTransferBlock(*m_image, area(), m_deps.settings.modelFamily);
    m_checksum->setText(QString::asprintf("%X", transferBlockChecksum(block)));
    m_fileSize->setText(QString::number(block.size()));
}

void CFwUpdateDlg::refuseFile(const std::string& path, const FirmwareImage::Trailer& trailer)
{
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    message("ERROR : Please check the firmware file.\n" + imageFileProblem(ec ? 0 : size, trailer, m_deps.korean));
}

FirmwareArea CFwUpdateDlg::area() const
{
    const int id = m_areas->checkedId();
    return static_cast<FirmwareArea>(id < 0 ? 0 : id);
}

void CFwUpdateDlg::applyBootRule(bool bootAllowed)
{
    if (bootAllowed) {
        m_radio[4]->setEnabled(true);
        return;
    }
    if (m_radio[4]->isChecked())
        m_radio[0]->setChecked(true);
    m_radio[4]->setEnabled(false);
}

void CFwUpdateDlg::onFileOpen()
{
    m_update->setEnabled(false);
    m_fileReady = false;
    std::string chosen;
    if (m_deps.chooseFile) {
        chosen = m_deps.chooseFile(this, kFilter);
    } else {
        chosen = QFileDialog::getOpenFileName(this, QString(), QString::fromStdString(m_path), qtFilter(kFilter), nullptr,
                                              QFileDialog::ReadOnly)
                     .toStdString();
    }
    if (chosen.empty())
        return;
    setImage(std::nullopt, false);
    setPath(chosen);
    m_fileName = std::filesystem::path(chosen).filename().string();
    auto trailer = FirmwareImage::readTrailer(chosen);
    if (!trailer) {
        m_deps.errorLog.WriteLog("firmware: %s", (trailer.message()).c_str());
        message("ERROR : File Open");
        return;
    }
    if (!trailer->signature) {
        refuseFile(chosen, *trailer);
        return;
    }
    // A file of the wrong size passes here and is refused at UPDATE: it has no figures.
    setImage(loadImage(chosen), true);
    if (m_service)
        applyBootRule(trailer->bootAllowed());
}

void CFwUpdateDlg::onUpdate()
{
    if (m_worker)
        return;
    const FirmwareArea chosen = area();
    if (Status s = m_deps.profile.writeString(kSection, "FOLDER", m_path); !s)
        m_deps.errorLog.WriteLog("firmware: %s", (s.message()).c_str());
    if (Status s = m_deps.profile.writeString(kSection, "FILE", m_fileName); !s)
        m_deps.errorLog.WriteLog("firmware: %s", (s.message()).c_str());

    FirmwareImage::Fault fault{};
    std::uint64_t size = 0;
    auto image = FirmwareImage::load(m_path, &fault, &size);
    if (image)
        m_image = *image;
    if (fault == FirmwareImage::Fault::CannotOpen) {
        message("ERROR : File Open");
        m_update->setEnabled(true);
        return;
    }
    m_update->setEnabled(false);
    if (fault == FirmwareImage::Fault::WrongSize) {
        setImage(std::nullopt, false);
        message(fileSizeErrorText(size) + "\n" + imageSizeExpected(m_deps.korean), "Error");
        return;
    }
    // Boot and the downloader can leave a printer that takes no further download: their
    // questions default to No. A No leaves the dialog ready for another choice.
    const std::string question = firmwareAreaQuestion(chosen, m_deps.korean);
    if (!question.empty()) {
        const bool yes = isDangerousArea(chosen) ? m_deps.prompter.askDefaultNo(question) : m_deps.prompter.ask(question);
        if (!yes) {
            m_update->setEnabled(true);
            return;
        }
    }
    if (!image) {
        message(fault == FirmwareImage::Fault::ShortRead ? "ERROR : File Size Error" : "Wrong File!",
                fault == FirmwareImage::Fault::ShortRead ? nullptr : "Error");
        m_update->setEnabled(true);
        return;
    }
    const ImageRange areaRange = imageRangeOf(chosen, m_deps.settings.modelFamily, m_deps.korean);
    if (auto fill = blankFill(image->bytes(), areaRange);
        fill && !m_deps.prompter.askDefaultNo(blankAreaQuestion(areaRange, *fill, m_deps.korean))) {
        m_update->setEnabled(true);
        return;
    }
    // A family that lacks the area never reaches here through the radios; the core's table
    // is still the one that decides what is cut out.
    auto block = buildTransferBlock(*image, chosen, m_deps.settings.modelFamily);
    m_checksum->setText(QString::asprintf("%X", transferBlockChecksum(block)));
    m_fileSize->clear();
    const std::uint64_t range = block.size() + kFinalWaitUnits;
    m_progress->setRange(0, static_cast<int>(range));
    m_progress->setValue(0);
    m_fileOpen->setEnabled(false);
    m_areaBox->setEnabled(false);

    m_connection = m_deps.connect ? m_deps.connect() : nullptr;
    if (!m_connection) {
        message(catalogText(Msg::InitFail));
        m_update->setEnabled(true);
        m_fileOpen->setEnabled(true);
        m_areaBox->setEnabled(true);
        return;
    }
    m_sink = std::make_unique<Sink>(this);
    m_status->clear();
    m_place = DownloadPlace{areaRange.areaName, m_path, m_deps.settings.describe()};
    m_note = std::make_unique<DownloadNoteKeeper>(m_deps.noteFolder, m_place);
    FirmwareTransferOptions options = m_deps.transferOptions;
    options.imageOffset = firmwareAreaSpec(chosen, m_deps.settings.modelFamily).offset;
    options.stateChanged = [note = m_note.get(), also = options.stateChanged](const AreaWriteState& s) {
        note->stateChanged(s);
        if (also)
            also(s);
    };
    auto transfer = std::make_unique<FirmwareTransfer>(*m_connection, std::move(block), m_deps.clock, *m_sink,
                                                       std::move(options));
    QPointer<CFwUpdateDlg> self(this);
    m_worker = std::make_unique<FirmwareTransferWorker>(std::move(transfer), [self](const FirmwareTransferOutcome& o) {
        QMetaObject::invokeMethod(
            self.data(),
            [self, o] {
                if (self)
                    self->onTransferEnded(o);
            },
            Qt::QueuedConnection);
    });
}

void CFwUpdateDlg::onProgress(std::uint64_t position, std::uint64_t range)
{
    m_progress->setValue(static_cast<int>(position));
    setWindowTitle(QString::fromStdString(firmwareProgressTitle(kTitle, position, range)));
}

void CFwUpdateDlg::onTransferEnded(FirmwareTransferOutcome outcome)
{
    // EXIT stopped the transfer and reported it already.
    if (!m_worker)
        return;
    m_worker->join();
    m_worker.reset();
    m_connection.reset();
    m_outcome = outcome;
    m_fileSize->setText(QString::number(outcome.sent));
    if (!outcome.completed() && !outcome.detail.empty())
        m_deps.errorLog.WriteLog("firmware: %s", (outcome.detail).c_str());
    m_areaBox->setEnabled(true);
    if (m_note)
        m_note->ended(outcome.state);
    if (outcome.completed()) {
        // The title says 100 % while the user reads that it is done, whichever progress
        // report was shown last; the status line follows "Update Complete.": its wait runs
        // while the box is open.
        const std::uint64_t range = std::uint64_t(outcome.total) + kFinalWaitUnits;
        setWindowTitle(QString::fromStdString(firmwareProgressTitle(kTitle, range, range)));
        startReadyWait();
        m_deps.prompter.show(outcome.message, PromptButtons::Ok, PromptIcon::Information, kAppDisplayName);
    } else {
        message(outcome.message);
        message(earlyEndMessage(outcome.state, m_place, "", m_deps.korean));
    }
    m_progress->setValue(0);
    // After a failure both buttons come back too, so that the user can try again without
    // closing the dialog (the printer may be left without a working area otherwise).
    m_update->setEnabled(true);
    m_fileOpen->setEnabled(true);
}

std::optional<FirmwareTransferOutcome> CFwUpdateDlg::stopWorker()
{
    if (m_readyDriver->running()) {
        m_readyDriver->cancel();
        m_readyDriver->stop();
    }
    if (!m_worker)
        return std::nullopt;
    m_worker->cancel();
    m_worker->join();
    FirmwareTransferOutcome outcome = m_worker->outcome();
    m_worker.reset();
    m_connection.reset();
    return outcome;
}

void CFwUpdateDlg::startReadyWait()
{
    if (m_deps.readyTimeout.count() <= 0 || !m_deps.connect)
        return;
    std::unique_ptr<PrinterConnection> connection = m_deps.connect();
    if (!connection || !printerCanBeAsked(connection->traits()))
        return;
    PrinterReadyOptions options;
    options.timeout = m_deps.readyTimeout;
    m_status->setText(QString::fromStdString(printerReadyWaitingText(options.timeout, m_deps.korean)));
    auto result = std::make_shared<std::atomic<int>>(static_cast<int>(PrinterReady::NotAsked));
    QPointer<CFwUpdateDlg> self(this);
    m_readyDriver->start(std::make_unique<ReadyWithConnection>(std::move(connection), SystemClock::instance(), options, result),
                         [self, result, timeout = options.timeout](const StepResult&) {
                             if (self)
                                 self->m_status->setText(QString::fromStdString(printerReadyText(
                                     static_cast<PrinterReady>(result->load()), timeout, self->m_deps.korean)));
                         });
}

void CFwUpdateDlg::onExit()
{
    reject();
}

void CFwUpdateDlg::reject()
{
    if (m_worker) {
        // Stopping half-way leaves the area unusable: say so before the dialog goes.
        if (!m_deps.prompter.ask("The download is not finished. Stop it and close?"))
            return;
    }
    if (std::optional<FirmwareTransferOutcome> out = stopWorker()) {
        if (m_note)
            m_note->ended(out->state);
        m_outcome = *out;
        // What the printer holds now and what to do, before the window goes.
        message(out->completed() ? out->message : earlyEndMessage(out->state, m_place, out->message, m_deps.korean));
    }
    QDialog::reject();
}

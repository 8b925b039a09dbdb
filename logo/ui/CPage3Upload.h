#pragma once
// "Upload Bitmap" (resource 131): Upload stores the list's pictures in the printer's NV memory
// through logo_tool::uploadLogos, with the Uploading window over the job; an empty list clears
// the printer instead. GUI thread only.
#include "logo/ui/LogoSheetState.h"

class LogoListPanel;
class QLineEdit;

class CPage3Upload final : public LogoPage {
    Q_OBJECT
public:
    explicit CPage3Upload(LogoSheetState& state, QWidget* parent = nullptr);
    void onSetActive() override;
    void onUpload();
    LogoListPanel* panel() const { return m_panel; }

private:
    void clearPrinter();
    LogoListPanel* m_panel;
    QLineEdit* m_printerName; // logo_ctl::kUploadPrinterName
    QLineEdit* m_portName;    // logo_ctl::kUploadPortName
};

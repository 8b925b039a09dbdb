#pragma once
// "Preview Bitmap" (resource 130): the selected picture in one of the four print modes, or as
// the printer will print it with the Advanced page's options: by the Print button (at the
// margin, in the chosen mode) or as the top or bottom logo (in Normal mode, aligned as the
// Print && Setup page says). GUI thread only.
#include "logo/LogoPreview.h"
#include "logo/ui/LogoSheetState.h"

class LogoListPanel;
class LogoPreviewFrame;
class QButtonGroup;
class QCheckBox;
class QComboBox;

class CPage2Preview final : public LogoPage {
    Q_OBJECT
public:
    explicit CPage2Preview(LogoSheetState& state, QWidget* parent = nullptr);
    void onSetActive() override;
    LogoPrintMode mode() const;
    LogoPreviewFrame* frame() const { return m_frame; }
    LogoListPanel* panel() const { return m_panel; }
    QCheckBox* asPrintedSwitch() const { return m_asPrinted; }
    // How the printer prints it: 0 the Print button, 1 as the top logo, 2 as the bottom logo.
    enum PrintedBy { kByPrint = 0, kAsTopLogo = 1, kAsBottomLogo = 2 };
    QComboBox* printedBy() const { return m_printedBy; }
    void refresh();

private:
    LogoListPanel* m_panel;
    LogoPreviewFrame* m_frame;
    QButtonGroup* m_quality;
    QCheckBox* m_asPrinted;
    QComboBox* m_printedBy;
    void fillPrintedBy();
};

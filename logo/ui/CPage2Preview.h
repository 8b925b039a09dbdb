#pragma once
// "Preview Bitmap" (resource 130): the selected picture in one of the four print modes, or as
// the printer will print it with the Advanced page's options. GUI thread only.
#include "logo/LogoPreview.h"
#include "logo/ui/LogoSheetState.h"

class LogoListPanel;
class LogoPreviewFrame;
class QButtonGroup;
class QCheckBox;

class CPage2Preview final : public LogoPage {
    Q_OBJECT
public:
    explicit CPage2Preview(LogoSheetState& state, QWidget* parent = nullptr);
    void onSetActive() override;
    LogoPrintMode mode() const;
    LogoPreviewFrame* frame() const { return m_frame; }
    LogoListPanel* panel() const { return m_panel; }
    QCheckBox* asPrintedSwitch() const { return m_asPrinted; }
    void refresh();

private:
    LogoListPanel* m_panel;
    LogoPreviewFrame* m_frame;
    QButtonGroup* m_quality;
    QCheckBox* m_asPrinted;
};

#pragma once
// "Select Bitmap" (resource 129): the bitmap list with Open File, Remove and Reset, and the
// rows' auto-centre checks. GUI thread only.
#include "logo/ui/LogoSheetState.h"

class LogoListPanel;

class CPage1Selection final : public LogoPage {
    Q_OBJECT
public:
    explicit CPage1Selection(LogoSheetState& state, QWidget* parent = nullptr);
    void onSetActive() override;
    void onOpenFile();
    void onRemove();
    void onReset();
    LogoListPanel* panel() const { return m_panel; }

private:
    void smallMemoryNotice();
    LogoListPanel* m_panel;
};

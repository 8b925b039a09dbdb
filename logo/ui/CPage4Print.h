#pragma once
// "Print && Setup" (resource 137): printing stored pictures (All or a selection, a print mode,
// an optional header line) with the Printing window, the top/bottom logo settings and the
// sample receipt, each through logo_tool. GUI thread only.
#include "logo/LogoFrames.h"
#include "logo/ui/LogoSheetState.h"

#include <optional>

class QButtonGroup;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

class CPage4Print final : public LogoPage {
    Q_OBJECT
public:
    explicit CPage4Print(LogoSheetState& state, QWidget* parent = nullptr);
    void onSetActive() override;
    // The two logo numbers must be 1..255 before the page is left.
    bool onKillActive() override;
    void onPrint();
    void onSetLogoValues();
    void onTest();
    // The logo settings as the controls give them; empty (and the refusal shown) when a
    // number is outside 1..255.
    std::optional<logo_frames::LogoSettingsValues> readSettings();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QRadioButton* m_all;
    QRadioButton* m_selection;
    QLineEdit* m_selectionText;
    QButtonGroup* m_quality; // print mode 0..3
    QButtonGroup* m_header;
    QLineEdit* m_printerName;
    QLineEdit* m_portName;
    QButtonGroup* m_top;
    QLineEdit* m_topNumber;
    QComboBox* m_topJustify;
    QButtonGroup* m_powerOn;
    QButtonGroup* m_bottom;
    QLineEdit* m_bottomNumber;
    QComboBox* m_bottomJustify;
    QPushButton* m_print;
    QPushButton* m_setValues;
    QPushButton* m_test;
};

#pragma once
// "Advanced" (resource 138): Print To File, gray printing, star emulation, the printable area
// and the black/white diverging point, the device text; becoming active it looks at the
// printer (logo_tool::checkPrinter). GUI thread only.
#include "logo/ui/LogoSheetState.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QSlider;

class CPage5Setup final : public LogoPage {
    Q_OBJECT
public:
    explicit CPage5Setup(LogoSheetState& state, QWidget* parent = nullptr);
    void onSetActive() override;
    bool onKillActive() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onPrintToFile(bool on);
    void onGray(bool on);
    void checkPrinter();

    QCheckBox* m_printToFile;
    QCheckBox* m_gray;
    QCheckBox* m_star;
    QLineEdit* m_maxArea;
    QSlider* m_slider;
    QLineEdit* m_diverging;
    QLabel* m_device;
    int m_areaLimit; // the model's widest printable area, dots
};

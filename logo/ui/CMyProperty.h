#pragma once
// The logo tool: a modal sheet "TAVROSet(203dpi) : Zavon Image Logo Setup" with the tabs
// Select Bitmap, Preview Bitmap, Upload Bitmap, Print && Setup and Advanced over one bitmap
// list. Opening resets the options to the model's defaults and rebuilds the list from the
// logo log; closing empties the list (the log keeps what the printer holds). A status line
// under the tabs says what the last action did.
//
// GUI thread only.
#include "logo/ui/CPage1Selection.h"
#include "logo/ui/CPage2Preview.h"
#include "logo/ui/CPage3Upload.h"
#include "logo/ui/CPage4Print.h"
#include "logo/ui/CPage5Setup.h"
#include "logo/ui/LogoSheetState.h"

#include <memory>

#include <QDialog>

class QTabWidget;

class CMyProperty final : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "TAVROSet(203dpi) : Zavon Image Logo Setup";
    enum Page { kSelection = 0, kPreview, kUpload, kPrint, kSetup };

    explicit CMyProperty(LogoSheetDeps deps, QWidget* parent = nullptr);
    ~CMyProperty() override;

    LogoSheetState& state() { return *m_state; }
    QTabWidget* tabs() const { return m_tabs; }
    // Shows a page as a tab click does (the page left may refuse).
    void showPage(Page page);
    QtStatusLine* statusLine() const { return m_status; }

    // OK keeps the sheet open while the page shown refuses its values.
    void accept() override;
    void done(int result) override;

protected:
    // Enter in a text field ends the entry there; it does not press OK.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void onTabChanged(int index);

    std::unique_ptr<LogoSheetState> m_state;
    QTabWidget* m_tabs;
    QtStatusLine* m_status;
    LogoPage* m_pages[5];
    int m_current = 0;
    bool m_switching = false;
};

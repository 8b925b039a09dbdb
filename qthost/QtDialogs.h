#pragma once
// What every dialog of the desktop tool does the same way: the language of its standard
// buttons, mnemonics on Korean labels, message boxes wide enough for their caption, and a
// size that fits small and scaled screens.
//
// Small screens: a dialog must fit a 1280×720 screen at 100 % and a 1366×768 laptop at
// 150 % (910×512 device-independent pixels). Put a long form into scrollArea() and keep
// the buttons outside it, then call fitToScreen() before the dialog is shown:
//
//     auto* layout = new QVBoxLayout(this);
//     layout->addWidget(scrollArea(form), 1);
//     layout->addLayout(buttons);             // always visible
//     fitToScreen(*this);
//
// GUI thread only.
#include <QSize>
#include <QString>

class QDialogButtonBox;
class QMessageBox;
class QScrollArea;
class QWidget;

// The screens every dialog must fit, in device-independent pixels, with room left for the
// window frame and a panel (kScreenReserve).
inline constexpr QSize kScreen720p{1280, 720};
inline constexpr QSize kScreenLaptop150{910, 512}; // 1366×768 at 150 %
inline constexpr QSize kScreenReserve{16, 72};
// The largest outer size a dialog may ask for: the smaller screen less the reserve.
QSize largestDialogSize();

// True when the message catalog is Korean (the system's default language is).
bool koreanUi();

// Qt's own texts (the file dialog, standard buttons, context menus) in the language: for
// Korean, Qt's Korean translations from its translations folder are installed into the
// application (once) and Korean becomes the default locale; English takes them out again (or
// leaves Qt as it is).
// False when Korean was asked for and Qt's Korean translations are not installed.
bool useQtTranslations(bool korean);

// "프린터종류" with key 'D' gives "프린터종류(&D)": Korean Windows puts the mnemonic
// letter in brackets after the text.
QString koreanMnemonic(const char* utf8Text, char key);

// The standard buttons of the box in the active language: Korean "예", "아니요", "확인",
// "취소" (with Y, N as keys for Yes and No). English keeps Qt's own texts.
void localizeButtons(QMessageBox& box, bool korean);
void localizeButtons(QDialogButtonBox& box, bool korean);

// Widens the box so that the window manager can show its whole caption (a message box is
// sized by its text, and a short text cut "TAVROSet(203dpi)" down to "TAV…").
void fitCaption(QMessageBox& box);
// The width fitCaption() gives a box with that caption at least.
int captionWidth(const QString& caption, const QWidget& box);

// The content in a scroll area without a frame, scrolling only when the window is smaller
// than the content.
QScrollArea* scrollArea(QWidget* content);

// Sizes the top-level widget to its size hint, cut to the available screen area (never
// below its minimum size), and keeps it on the screen.
void fitToScreen(QWidget& window);

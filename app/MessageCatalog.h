#pragma once
// The message catalog of the tool: 63 numbered texts in English and Korean. Every message
// box of the tool takes entry N of the active table.
#include "app/PortName.h"

#include <array>
#include <filesystem>
#include <optional>
#include <string>

inline constexpr int kCatalogSize = 63;
using MessageTable = std::array<const char*, kCatalogSize>;

// The entries by name (the number is the entry's place in both tables).
enum class Msg : int {
    OutputFileName = 0,
    Completed = 1,
    InitFail = 2,
    FileOpenError = 3,
    NoExtFontData = 4,
    BaudrateNotSelected = 5,
    DataLengthNotSelected = 6,
    ParityNotSelected = 7,
    FlowControlNotSelected = 8,
    InvalidDevice = 9,
    TurnOnUsbPrinter = 10,
    TooManyUsbDevices = 11,
    NoLptPort = 12,
    NoComPort = 13,
    NoBitmapSelected = 14,
    ResetList = 15,
    OutOfMemory = 16,
    AllImagesWritten = 17,
    PortOpenError = 18,
    OpenPortOrFileError = 19,
    PrinterCheckError = 20,
    NvDefinitionComplete = 21,
    WriteToPortError = 22,
    DeleteAllImages = 23,
    PrinterCheckFailed = 24,
    NvImageNumberIncorrect = 25,
    OverlappedWriteFailed = 26,
    ReceiveDataError = 27,
    CommError = 28,
    PortNotOpened = 29,
    CreateReadEventError = 30,
    CreateWriteEventError = 31,
    PrinterNotReady = 32,
    LptWriteError = 33,
    UpdateComplete = 34,
    ConfirmBootArea = 35,
    ConfirmDownloaderArea = 36,
    ConfirmExtFontArea = 37,
    NotFirmwareFile = 38,
    NoExtFontInFile = 39,
    WatchThreadError = 40,
    ReceiveQueueFull = 41,
    CommunicationError = 42,
    CannotReadMoreFiles = 43,
    LogBitmapsIncorrect = 44,
    BitmapFormatNotSupported = 45,
    NvAreaTooSmall = 46,
    LogBitmapsMismatch = 47,
    WriteFail = 48,
    ConfirmDefaults = 49,
    NvMemoryExceeded = 50,
    GrayNeedsEightBit = 51,
    ReceiveThreadError = 52,
    StopBitNotSelected = 53,
    StopBitWarning = 54,
    PortNumberRange = 55,
    SystemError = 56,
    SearchFinished = 57,
    ConfirmNetworkChange = 58,
    NetworkUpdateComplete = 59,
    ReadFail = 60,
    MarginRange = 61,
    IpAddressRange = 62,
};


const MessageTable& englishCatalog();
const MessageTable& koreanCatalog();

// The active table: English until selectCatalog() picks Korean.
extern const MessageTable* g_pMsg;

// An entry of the active table; an empty text for a value outside the table.
const char* catalogText(Msg entry);
// An entry used as a printf format with one int or one string argument.
std::string catalogFormat(Msg entry, int value);
std::string catalogFormat(Msg entry, const std::string& value);

// The text of a firmware download's chunk that could not be written (the system's error
// number in `error`): on the parallel port and into an output file, entry 33 "LPT Write
// Error[%d]" with that number; a serial line or a USB printer that went away or refused the
// bytes asks to check the printer's power and cable (entry 48), since "LPT" names a port the
// user does not have there.
std::string downloadWriteFailureText(PortKind kind, int error);

// Where the system's default language is read from. The defaults read the real system;
// tests point them at a folder of their own.
struct LocaleSources {
    // Files tried in order; the first that exists decides.
    std::filesystem::path etcRoot = "/etc";
    // Used only when none of the files names a language (the user's LC_ALL, else LANG, is
    // not the system default).
    std::optional<std::string> langEnv;
    static LocaleSources fromEnvironment();
};

// True when the system's default locale is Korean ("ko", "ko_KR.UTF-8", ...): LANG in
// /etc/locale.conf, else in /etc/default/locale, and only when neither file names one (missing,
// or without a LANG line), LC_ALL or LANG.
bool systemDefaultIsKorean(const LocaleSources& sources = LocaleSources::fromEnvironment());

// Sets g_pMsg: English, or Korean when the system default language is Korean.
// Returns true when Korean was chosen.
bool selectCatalog(const LocaleSources& sources = LocaleSources::fromEnvironment());
void selectCatalog(bool korean);

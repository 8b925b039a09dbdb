#include "firmware/FirmwareArea.h"

#include "app/MessageCatalog.h"

FirmwareAreaSpec firmwareAreaSpec(FirmwareArea area, ModelFamily family)
{
    switch (area) {
    case FirmwareArea::Program:
        if (family == kFamilyTavro36)
            return {area, 0x300000, 0xA0000, {0x01, 0x11, 0x52, 0x32}};
        return {area, family == kFamilyTavro46 ? 0x400000u : 0x500000u, 0xD0000, {0x01, 0x11, 0x51, 0x32}};
    case FirmwareArea::ExtFont:
        return {area, 0x600000, 0x100000, {0x01, 0x11, 0x46, 0x32}};
    case FirmwareArea::LcdFont:
        return {area, 0x000000, 0x200000, {0x01, 0x11, 0xBB, 0x32}};
    case FirmwareArea::Downloader:
        return {area, family == kFamilyTavro36 ? 0x3D0000u : family == kFamilyTavro46 ? 0x4D0000u : 0x5D0000u, 0x18000,
                {0x01, 0x11, 0x44, 0x32}};
    case FirmwareArea::Boot:
        break;
    }
    return {FirmwareArea::Boot, 0x2E0000, 0x15000, {0x01, 0x11, 0x42, 0x32}};
}

std::string_view firmwareAreaName(FirmwareArea area)
{
    switch (area) {
    case FirmwareArea::Program: return "program";
    case FirmwareArea::ExtFont: return "ext-font";
    case FirmwareArea::LcdFont: return "lcd-font";
    case FirmwareArea::Downloader: return "downloader";
    case FirmwareArea::Boot: break;
    }
    return "boot";
}

std::optional<FirmwareArea> firmwareAreaFromName(std::string_view name)
{
    for (FirmwareArea a : kFirmwareAreas)
        if (firmwareAreaName(a) == name)
            return a;
    return std::nullopt;
}

std::string_view firmwareAreaCaption(FirmwareArea area, bool korean)
{
    switch (area) {
    case FirmwareArea::Program: return korean ? "프로그램 영역" : "Program Area";
    case FirmwareArea::ExtFont: return korean ? "확장 폰트 영역" : "Ext. Font";
    case FirmwareArea::LcdFont: return korean ? "LCD 폰트 영역" : "LCD font";
    case FirmwareArea::Downloader: return korean ? "다운로드 영역" : "DOWNLOAD Area";
    case FirmwareArea::Boot: break;
    }
    return korean ? "부트 영역" : "Boot Area";
}

std::string firmwareAreaQuestion(FirmwareArea area, bool korean)
{
    switch (area) {
    case FirmwareArea::Program: return {};
    case FirmwareArea::ExtFont: return catalogText(Msg::ConfirmExtFontArea);
    // Not a catalog entry: the dialog picks this one by the language itself.
    case FirmwareArea::LcdFont:
        return korean ? "LCD 폰트를 다운로드 하시겠습니까?" : "Are you sure the LCD Font area download?";
    case FirmwareArea::Downloader: return catalogText(Msg::ConfirmDownloaderArea);
    case FirmwareArea::Boot: break;
    }
    return catalogText(Msg::ConfirmBootArea);
}

bool firmwareAreaAllowed(FirmwareArea area, ModelFamily family, bool serviceMode, bool bootAllowed)
{
    switch (area) {
    case FirmwareArea::Program:
    case FirmwareArea::ExtFont: return true;
    case FirmwareArea::LcdFont: return family == kFamilyTavro46;
    case FirmwareArea::Downloader: return serviceMode;
    case FirmwareArea::Boot: break;
    }
    return serviceMode && bootAllowed;
}

#include "setup/ui/UserSetupTexts.h"
#include "setup/ui/UserSetupControls.h"

using namespace UserSetupControls;

const std::vector<std::pair<int, const char*>>& userSetupKoreanCaptions()
{
    static const std::vector<std::pair<int, const char*>> captions = {
        {kUserSetupGroup, "사용자 설정"},
        {kPaperWidthLabel, "용지 폭"},
        {kPaperTypeLabel, "용지 종류"},
        {kPaperBlack, "검정"},
        {kPaperTwoColor, "2 색"},
        {kWaterMarkLabel, "워터마크 기능"},
        {kWaterMarkDisable, "사용안함"},
        {kCutAdjustOff, "사용안함"},
        {kDrawerOnCutDisable, "사용안함"},
        {kDrawerSelfTestDisable, "사용안함"},
        {kKitchenBellOff, "사용안함"},
        {kAutoCutOff, "사용안함"},
        {kWaterMarkEnable, "사용"},
        {kCutAdjustOn, "사용"},
        {kDrawerOnCutEnable, "사용"},
        {kDrawerSelfTestEnable, "사용"},
        {kKitchenBellOn, "사용"},
        {kAutoCutOn, "사용"},
        {kImageNumberLabel, "이미지#"},
        {kCutAdjustLabel, "용지 절단 위치 조정"},
        {kDrawerOnCutLabel, "용지 절단시 돈통 열기"},
        {kBellTypeLabel, "주방벨 종류 / 횟수"},
        {kTimesLabel, "회"},
        {kCodePageLabel, "기본 문자"},
        {kNvGraphicLabel, "내장 그래픽 메모리 크기"},
        {kNvUserLabel, "내장 사용자 메모리 크기"},
        {kCutModeLabel, "절단 모드"},
        {kCutPartial, "일부"},
        {kCutFull, "전체"},
        {kSpeedLabel, "인쇄 최고 속도"},
        {kMarginLabel, "용지 좌측 여백"},
        {kDrawerSelfTestLabel, "Self-Test시 돈통 열기"},
        {kRxBufferLabel, "수신 버퍼 크기"},
        {kStopBitLabel, "스톱 비트 (COM)"},
        {kGetValueButton, "설정 읽기"},
        {kSetValueButton, "설정 쓰기"},
        {kExitButton, "취소"},
        {kTestButton, "테스트"},
        {kDefaultButton, "기본값"},
        {kEmulationLabel, "동작모드"},
        {kEmulationEpson, "엡손"},
        {kEmulationStar, "스타"},
        {kDensityLabel, "인쇄농도"},
        {kKitchenBellLabel, "주방벨"},
        {kAutoCutLabel, "자동절단기"},
        {kSelfTestPrint, "셀프테스트"},
        {kSelfTestHexDump, "16진수인쇄"},
        {kUsbModeLabel, "USB동작"},
        {kUsbModeUsb, "USB통신"},
        {kUsbModeCom, "가상시리얼"},
        {kSleepModeLabel, "절전모드"},
        {kPaperSaveLabel, "용지절약모드"},
    };
    return captions;
}

const std::vector<std::pair<const char*, const char*>>& codePageProfileKeys()
{
    static const std::vector<std::pair<const char*, const char*>> keys = {
        {"CodePage0", "0|PC437 (USA, Std Europe)"}, {"CodePage1", "1|Katakana"},
        {"CodePage2", "2|PC 850 (Multilingual)"}, {"CodePage3", "3|PC 860 (Portuguese)"},
        {"CodePage4", "4|PC 863 (Canadian-French)"}, {"CodePage5", "5|PC 865 (Nordic)"},
        {"CodePage14", "14|PC 737 (Greek)"}, {"CodePage16", "16|WPC1252 (Windows CP)"},
        {"CodePage17", "17|PC 866 (Cyrillic #2)"}, {"CodePage18", "18|PC 852 (Latin 2)"},
        {"CodePage19", "19|PC 858 (West Euro)"}, {"CodePage21", "21|Thai 11"}, {"CodePage26", "26|Thai 18"},
        {"CodePage27", "27|FARSI"}, {"CodePage33", "33|PC 775 (Baltic)"}, {"CodePage34", "34|PC 855 (Cyrillic)"},
        {"CodePage36", "36|PC 862 (Hebrew)"}, {"CodePage37", "37|PC 864 (Arabic)"}, {"CodePage45", "45|WPC 1250"},
        {"CodePage46", "46|WPC 1251 (Cyrillic)"}, {"CodePage47", "47|WPC 1253"}, {"CodePage49", "49|WPC 1255"},
        {"CodePage50", "50|WPC 1256"}, {"CodePage51", "51|WPC 1257 (Baltic)"}, {"CodePage95", "95|TIS 620 (Thai)"},
        {"CodePage96", "96|Thai 42"}, {"CodePage97", "97|Thai 14"}, {"CodePage98", "98|Thai 16"},
        {"CodePage52", "52|WPC1258 (Vietnamese)"}, {"CodePage53", "53|KZ1048  (Kazakhstan)"},
        {"CodePage99", "99|IRAN SYSTEM (Arabic)"}, {"CodePage255", "254|SPACE PAGE"},
    };
    return keys;
}

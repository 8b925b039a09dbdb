#include "setup/ui/UserSetupTexts.h"

const std::vector<std::pair<int, const char*>>& userSetupKoreanCaptions()
{
    static const std::vector<std::pair<int, const char*>> captions = {
        {1075, "사용자 설정"}, {1076, "용지 폭"}, {1077, "용지 종류"}, {1004, "검정"}, {1006, "2 색"},
        {1078, "워터마크 기능"}, {1009, "사용안함"}, {1014, "사용안함"}, {1020, "사용안함"},
        {1066, "사용안함"}, {1015, "사용안함"}, {1031, "사용안함"}, {1011, "사용"}, {1016, "사용"},
        {1024, "사용"}, {1065, "사용"}, {1017, "사용"}, {1030, "사용"}, {1080, "이미지#"},
        {1079, "용지 절단 위치 조정"}, {1081, "용지 절단시 돈통 열기"}, {1082, "주방벨 종류 / 횟수"},
        {1021, "회"}, {1083, "기본 문자"}, {1084, "내장 그래픽 메모리 크기"},
        {1085, "내장 사용자 메모리 크기"}, {1086, "절단 모드"}, {1051, "일부"}, {1061, "전체"},
        {1060, "인쇄 최고 속도"}, {1064, "용지 좌측 여백"}, {1087, "Self-Test시 돈통 열기"},
        {1088, "수신 버퍼 크기"}, {1089, "스톱 비트 (COM)"}, {1032, "설정 읽기"}, {1052, "설정 쓰기"},
        {1070, "취소"}, {1035, "테스트"}, {1059, "기본값"}, {1093, "동작모드"}, {1094, "엡손"},
        {1095, "스타"}, {1096, "인쇄농도"}, {1097, "주방벨"}, {1098, "자동절단기"},
        {1022, "셀프테스트"}, {1023, "16진수인쇄"}, {1101, "USB동작"}, {1033, "USB통신"},
        {1036, "가상시리얼"}, {1102, "절전모드"}, {1103, "용지절약모드"},
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

// The texts the windows show, as the program holds all its text: code page 936 bytes.
#pragma once

#include <string_view>

namespace korvanel {

// "Korvanel物流-批量查询物流信息"
inline constexpr std::string_view kMainWindowCaption =
    "Korvanel\xCE\xEF\xC1\xF7-\xC5\xFA\xC1\xBF\xB2\xE9\xD1\xAF\xCE\xEF\xC1\xF7\xD0\xC5\xCF\xA2";
// "导入"
inline constexpr std::string_view kImportCaption = "\xB5\xBC\xC8\xEB";
// "查询"
inline constexpr std::string_view kQueryCaption = "\xB2\xE9\xD1\xAF";
// "单号"
inline constexpr std::string_view kNumberTitle = "\xB5\xA5\xBA\xC5";
// "运输时间"
inline constexpr std::string_view kTimeTitle = "\xD4\xCB\xCA\xE4\xCA\xB1\xBC\xE4";
// "最新运输信息"
inline constexpr std::string_view kEventTitle = "\xD7\xEE\xD0\xC2\xD4\xCB\xCA\xE4\xD0\xC5\xCF\xA2";

}  // namespace korvanel

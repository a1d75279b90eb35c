#include "app/gui/qt_text.h"

#include "text/code_page.h"

namespace korvanel {

QString ToQString(std::string_view text) {
  const std::u16string units = AnsiToUtf16(text);
  if (units.empty()) return {};
  return QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size()));
}

Text FromQString(const QString& string) {
  return Utf16ToAnsi(std::u16string_view(reinterpret_cast<const char16_t*>(string.utf16()),
                                         static_cast<std::size_t>(string.size())));
}

QUrl ToQUrl(std::string_view address) { return QUrl(ToQString(address), QUrl::TolerantMode); }

}  // namespace korvanel

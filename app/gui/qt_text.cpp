#include "app/gui/qt_text.h"

#include "text/code_page.h"

namespace korvanel {

QString ToQString(std::string_view text) {
  const ByteSet units = AnsiToUnicode(text);
  if (units.size() < 2) return {};
  // The conversion ends in a zero unit, which the QString does not keep.
  return QString::fromUtf16(reinterpret_cast<const char16_t*>(units.data()),
                            static_cast<qsizetype>(units.size() / 2 - 1));
}

Text FromQString(const QString& string) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(string.utf16());
  ByteSet units(bytes, bytes + string.size() * 2);
  units.push_back(0);
  units.push_back(0);
  return UnicodeToAnsi(units);
}

QUrl ToQUrl(std::string_view address) { return QUrl(ToQString(address), QUrl::TolerantMode); }

}  // namespace korvanel

// Code page 936 text to and from the QString that Qt shows, through the program's own
// code-page conversion.
#pragma once

#include <QString>
#include <QUrl>

#include "text/text.h"

namespace korvanel {

QString ToQString(std::string_view text);
Text FromQString(const QString& string);
// An address built as code page 936 text; spaces and other unsafe characters get escaped.
QUrl ToQUrl(std::string_view address);

}  // namespace korvanel

// The character set names a page may declare that the program knows how to read, with the
// converter name and the Windows code page each stands for. Both charset decoding backends
// use this one table, so a page reads the same everywhere.
//
// Names follow what the Windows stream object accepts: the IANA names and the aliases
// browsers use, matched without regard to ASCII letter case. Where Windows reads a name as a
// wider code page than the name says (gb2312 as 936, iso-8859-1 as windows-1252, shift_jis
// as 932), so does the table. Code pages 1200, 1201, 12000 and 12001 are the UTF-16 and
// UTF-32 forms; MultiByteToWideChar does not take them, so a backend copies or swaps the
// units itself.
#pragma once

#include <cstddef>
#include <string_view>

namespace korvanel {

struct CharsetName {
  std::string_view name;  // lower case
  const char* iconvName;
  int codePage;
};

inline constexpr CharsetName kCharsetNames[] = {
    {"utf-8", "UTF-8", 65001},
    {"unicode-1-1-utf-8", "UTF-8", 65001},
    {"unicode-2-0-utf-8", "UTF-8", 65001},
    {"x-unicode20utf8", "UTF-8", 65001},
    {"utf-7", "UTF-7", 65000},
    {"unicode-1-1-utf-7", "UTF-7", 65000},
    {"csunicode11utf7", "UTF-7", 65000},
    {"unicode", "UTF-16LE", 1200},
    {"utf-16", "UTF-16LE", 1200},
    {"utf-16le", "UTF-16LE", 1200},
    {"unicodefffe", "UTF-16BE", 1201},
    {"utf-16be", "UTF-16BE", 1201},
    {"utf-32", "UTF-32LE", 12000},
    {"utf-32le", "UTF-32LE", 12000},
    {"utf-32be", "UTF-32BE", 12001},

    {"gbk", "CP936", 936},
    {"gb2312", "CP936", 936},
    {"cp936", "CP936", 936},
    {"x-gbk", "CP936", 936},
    {"csgb2312", "CP936", 936},
    {"chinese", "CP936", 936},
    {"gb_2312-80", "CP936", 936},
    {"iso-ir-58", "CP936", 936},
    {"euc-cn", "CP936", 936},
    {"x-euc-cn", "CP936", 936},
    {"gb18030", "GB18030", 54936},
    {"big5", "CP950", 950},
    {"cn-big5", "CP950", 950},
    {"csbig5", "CP950", 950},
    {"x-x-big5", "CP950", 950},

    {"shift_jis", "CP932", 932},
    {"shift-jis", "CP932", 932},
    {"sjis", "CP932", 932},
    {"x-sjis", "CP932", 932},
    {"ms_kanji", "CP932", 932},
    {"csshiftjis", "CP932", 932},
    {"windows-31j", "CP932", 932},
    {"euc-jp", "EUC-JP", 20932},
    {"x-euc-jp", "EUC-JP", 20932},
    {"cseucpkdfmtjapanese", "EUC-JP", 20932},
    {"iso-2022-jp", "ISO-2022-JP", 50220},
    {"csiso2022jp", "ISO-2022-JP", 50220},

    {"euc-kr", "CP949", 949},
    {"cseuckr", "CP949", 949},
    {"ks_c_5601-1987", "CP949", 949},
    {"ks_c_5601-1989", "CP949", 949},
    {"ks_c_5601", "CP949", 949},
    {"ksc_5601", "CP949", 949},
    {"ksc5601", "CP949", 949},
    {"korean", "CP949", 949},
    {"csksc56011987", "CP949", 949},
    {"iso-ir-149", "CP949", 949},
    {"iso-2022-kr", "ISO-2022-KR", 50225},
    {"csiso2022kr", "ISO-2022-KR", 50225},

    {"us-ascii", "ASCII", 20127},
    {"ascii", "ASCII", 20127},
    {"us", "ASCII", 20127},
    {"iso646-us", "ASCII", 20127},
    {"ansi_x3.4-1968", "ASCII", 20127},
    {"csascii", "ASCII", 20127},
    {"iso-8859-1", "CP1252", 1252},
    {"iso8859-1", "CP1252", 1252},
    {"iso_8859-1", "CP1252", 1252},
    {"latin1", "CP1252", 1252},
    {"l1", "CP1252", 1252},
    {"cp819", "CP1252", 1252},
    {"ibm819", "CP1252", 1252},
    {"csisolatin1", "CP1252", 1252},
    {"iso-ir-100", "CP1252", 1252},
    {"iso-8859-2", "ISO-8859-2", 28592},
    {"latin2", "ISO-8859-2", 28592},
    {"iso-8859-3", "ISO-8859-3", 28593},
    {"iso-8859-4", "ISO-8859-4", 28594},
    {"iso-8859-5", "ISO-8859-5", 28595},
    {"iso-8859-6", "ISO-8859-6", 28596},
    {"iso-8859-7", "ISO-8859-7", 28597},
    {"iso-8859-8", "ISO-8859-8", 28598},
    {"iso-8859-8-i", "ISO-8859-8", 38598},
    {"iso-8859-9", "ISO-8859-9", 28599},
    {"latin5", "ISO-8859-9", 28599},
    {"iso-8859-13", "ISO-8859-13", 28603},
    {"iso-8859-15", "ISO-8859-15", 28605},
    {"latin-9", "ISO-8859-15", 28605},

    {"windows-1250", "CP1250", 1250},
    {"x-cp1250", "CP1250", 1250},
    {"cp1250", "CP1250", 1250},
    {"windows-1251", "CP1251", 1251},
    {"x-cp1251", "CP1251", 1251},
    {"cp1251", "CP1251", 1251},
    {"windows-1252", "CP1252", 1252},
    {"cp1252", "CP1252", 1252},
    {"windows-1253", "CP1253", 1253},
    {"windows-1254", "CP1254", 1254},
    {"windows-1255", "CP1255", 1255},
    {"windows-1256", "CP1256", 1256},
    {"windows-1257", "CP1257", 1257},
    {"windows-1258", "CP1258", 1258},
    {"windows-874", "CP874", 874},
    {"tis-620", "CP874", 874},
    {"koi8-r", "KOI8-R", 20866},
    {"cskoi8r", "KOI8-R", 20866},
    {"koi8-u", "KOI8-U", 21866},
    {"ibm866", "CP866", 866},
    {"cp866", "CP866", 866},
    {"macintosh", "MACINTOSH", 10000},
    {"x-mac-roman", "MACINTOSH", 10000},
};

// The table's entry for name, compared without regard to ASCII letter case; nullptr when
// the name is not in the table.
inline const CharsetName* FindCharsetName(std::string_view name) {
  for (const CharsetName& entry : kCharsetNames) {
    if (entry.name.size() != name.size()) continue;
    bool equal = true;
    for (std::size_t i = 0; i < name.size() && equal; ++i) {
      char c = name[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      equal = c == entry.name[i];
    }
    if (equal) return &entry;
  }
  return nullptr;
}

}  // namespace korvanel

// Strict conversion between UTF-8 (how the database keeps text) and code page 936 (how the
// pages and the desktop tool carry it).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvanel::endpoint {

bool IsValidUtf8(std::string_view bytes);
// nullopt when the bytes are not valid code page 936.
std::optional<std::string> GbkToUtf8(std::string_view gbk);
// nullopt when the bytes are not valid UTF-8 or a character has no code page 936 form.
std::optional<std::string> Utf8ToGbk(std::string_view utf8);
// For text that was checked when it was stored: anything that still fails becomes "?".
std::string Utf8ToGbkLossy(std::string_view utf8);

}  // namespace korvanel::endpoint

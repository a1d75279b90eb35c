// Just enough of the zip format to look inside a workbook: the members by name, inflated.
#pragma once

#include <map>
#include <string>

namespace korvanel::test_support {

// Every member of the archive; empty when the bytes are not a zip archive.
std::map<std::string, std::string> ReadZip(const std::string& archive);

}  // namespace korvanel::test_support

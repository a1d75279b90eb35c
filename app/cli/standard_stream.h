// The program's command line and standard streams as the system gives them: on Windows the
// arguments are read wide and the console is written with characters, not bytes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvanel::cli {

inline constexpr int kStandardInput = 0;
inline constexpr int kStandardOutput = 1;
inline constexpr int kStandardError = 2;

// The arguments, program name first; on Windows as UTF-8, so that a file name with any
// character comes through whatever the system's code page.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Readies the standard streams once, before anything is written.
void PrepareStandardStreams();

bool IsTerminal(int fd);

// True where a terminal shows characters whatever bytes a file would get (Windows' console):
// the records then go to it as UTF-8 and the chosen encoding is that of files and pipes.
bool TerminalTakesCharacters();

// Writes every byte to fd; a terminal that takes characters is given the UTF-8 bytes as
// text. False with *error (when not null) set to the reason when they could not be written.
bool WriteAll(int fd, std::string_view bytes, std::string* error);

}  // namespace korvanel::cli

// Diagnostics for whoever supports the learner: one line on stderr for every end
// the learner sees as silent and every failure behind a message box. Nothing is
// written while all goes well.
#pragma once

#include <string>
#include <string_view>

// The name the program was started by (the last part of argv[0]).
std::string ProgramName();

// Writes "<program>: <what>", or "<program>: <what>: <detail>" when a detail is
// given, as one line: line breaks and other control bytes become spaces. A closed
// or broken stderr is ignored.
void Diagnose(std::string_view what, std::string_view detail = {});

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

// Opens each of the standard descriptors 0, 1 and 2 that is closed on /dev/null.
// Started with one of them closed, the program would hand its number to the next
// file or socket it opens (the display connection, say), and the first diagnostic
// would be written into that. Call first thing in main.
void OpenClosedStandardFiles();

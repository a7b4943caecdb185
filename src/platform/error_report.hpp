#pragma once

#include <string>
#include <string_view>

// The one place where errors are shown to the person running the relay: a line on stderr with
// the caption and the text. Stands in for a modal message box, so it returns only once the
// report has been written.
void ReportError(std::string_view caption, std::string_view text);

// The system's description of an errno value, such as "Address already in use".
std::string ErrnoText(int error);

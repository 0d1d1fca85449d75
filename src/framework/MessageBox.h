#pragma once

#include <string>
#include <string_view>

namespace fw {

// Shows a warning message box over the window the person is working in (the modal sheet),
// once control has gone back to the event loop: the caller finishes what it is doing first.
// The box does not block the thread; the person closes it. Without a widget application (a
// test of the settings alone) nothing is shown. The text is UTF-8, as the system's own
// lines about files are (a path is bytes).
void PostMessageBox(const std::string& text, std::u16string_view caption);

} // namespace fw

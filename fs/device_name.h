// The names that Windows maps to devices instead of files. Opening "nul.txt" or
// "aux.dat" on Windows reaches the null device or a serial port, whatever folder
// the path points into, so the Windows file layer refuses such paths before any
// system call. The rule only computes and is the same on every platform; on POSIX
// these are ordinary names and nothing there asks it.
#pragma once

#include <string_view>

namespace ZT {

// True when the final component of the native path names a Windows device.
// The final component is what follows the last "\" or "/" once trailing
// separators are dropped (or what follows "X:" in a drive-relative "X:name");
// no other component is looked at. Its device part ends at the first "." or ":"
// and loses its trailing spaces; that part, with ASCII case ignored, is one of
// CON, PRN, AUX, NUL, CLOCK$, CONIN$, CONOUT$, or COM or LPT followed by one
// digit 0-9 or one of the superscripts ¹ ² ³ (UTF-8). The dotless i (U+0131)
// counts as an I. Any other byte above 127 makes it no device.
bool names_windows_device(std::string_view path);

// True when any component of the native path is made only of full stops and
// spaces ("...", ". .", ".. "). Windows trims trailing dots and spaces from
// names, so such a component may be taken as "." or "..", which the virtual
// path rules refuse in their exact form only; the Windows file layer refuses
// these too, so no spelling of ".." can climb out of a home. A leading "\\?\"
// or "\\.\" prefix is not a component.
bool has_dots_only_component(std::string_view path);

}  // namespace ZT

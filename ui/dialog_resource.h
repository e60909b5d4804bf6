// Turns a DialogTemplate into what the Windows build and the tests need: the binary extended
// dialog template (DLGTEMPLATEEX and its items, as a resource compiler stores it) and the
// resource script that produces exactly those bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/about_template.h"

namespace pyrix {

// The template's resource data, little-endian, strings in UTF-16. Every item starts on a 4-byte
// boundary; the data ends right after the last item.
std::vector<uint8_t> EncodeDialogTemplate(const DialogTemplate& dialog);

// A DIALOGEX script for the template. Statics become LTEXT and buttons PUSHBUTTON statements,
// which store the class as an ordinal with every resource compiler; a control whose style lacks
// its statement's default bits cannot be written and throws std::invalid_argument, as does text
// that is not printable ASCII.
std::string WriteDialogResourceScript(const DialogTemplate& dialog, const char* symbolicName);

}  // namespace pyrix

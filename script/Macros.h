// The macro list: named text substitutions applied to each line as it is
// read (internal to the script layer).
#pragma once

// Defines name as value, or changes its value; a value equal to the name
// removes the macro. Raises -2 when memory is exhausted.
void MacroSet(const char* name, const char* value);
// Frees every macro.
void MacroFreeAll();
bool MacroListEmpty();
// Applies every macro, in definition order, to the current line. Returns
// the new length, or ERR_LINE_TOO_LONG.
int MacroSubstitute();

// Connects every hook between the layers (the table is in wiring.cpp).
#pragma once

#include <functional>

// endProgram is what the record layer calls to end the program after a
// fatal file error: give the screen back and exit.
void WireHooks(const std::function<void()>& endProgram);

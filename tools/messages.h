// The texts the pop-up tools show, in the four languages side by side (code
// page 850), and the language of the session they speak.
#pragma once

#include "base/language.h"

enum class ToolMessage {
  NoHelpPage,      // a help page that is missing
  WeekdayHeading,  // the calendar's seven day columns, Monday first, 20 characters
  CalendarKeys,    // the calendar's keys, on the screen's last row: 78 characters at most
  CalculatorKeys,  // the calculator's keys besides the operations, in its bottom line: 20 at most
};

inline constexpr MessageTable<ToolMessage, 4> kToolTexts{{{
    {ToolMessage::NoHelpPage,
     {"No hi ha cap p\x85gina d'ajuda", "No hay ninguna p\xA0gina de ayuda",
      "Non hai ningunha p\xA0xina de axuda", "I a pas cap de pagina d'ajuda"}},
    {ToolMessage::WeekdayHeading,
     {"DL DT DC DJ DV DS DG", " L  M  X  J  V  S  D", " L  M  X  J  V  S  D",
      "DL DT DC DJ DD DS DG"}},
    // The arrows are the code page's glyphs of bytes 0x18, 0x19, 0x1B, 0x1A.
    {ToolMessage::CalendarKeys,
     {"\x18\x19\x1B\x1A Dia  ReP\x85g/AvP\x85g Trimestre  Intro/F Triar  Esc Sortir",
      "\x18\x19\x1B\x1A D\xA1" "a  ReP\xA0g/AvP\xA0g Trimestre  Intro/F Elegir  Esc Salir",
      "\x18\x19\x1B\x1A D\xA1" "a  ReP\xA0x/AvP\xA0x Trimestre  Intro/F Escoller  Esc Sa\xA1r",
      "\x18\x19\x1B\x1A Dia  ReP\x85g/AvP\x85g Trim\x8Astre  Intro/F Causir  Esc Sortir"}},
    {ToolMessage::CalculatorKeys,
     {"F Triar  Esc Sortir", "F Elegir  Esc Salir", "F Escoller  Esc Sa\xA1r", "F Causir  Esc Sortir"}},
}}};

// The language of the session (Session.Language).
[[nodiscard]] Language SessionLanguage();

// The text of id in the session's language.
[[nodiscard]] const char* ToolText(ToolMessage id);

// The texts the pop-up tools show, in the four languages side by side (code
// page 850), and the language of the session they speak.
#pragma once

#include "base/language.h"

enum class ToolMessage {
  NoHelpPage,      // a help page that is missing
  WeekdayHeading,  // the calendar's seven day columns, Monday first, 20 characters
};

inline constexpr MessageTable<ToolMessage, 2> kToolTexts{{{
    {ToolMessage::NoHelpPage,
     {"No hi ha cap p\x85gina d'ajuda", "No hay ninguna p\xA0gina de ayuda",
      "Non hai ningunha p\xA0xina de axuda", "I a pas cap de pagina d'ajuda"}},
    {ToolMessage::WeekdayHeading,
     {"DL DT DC DJ DV DS DG", " L  M  X  J  V  S  D", " L  M  X  J  V  S  D",
      "DL DT DC DJ DD DS DG"}},
}}};

// The language of the session (Session.Language).
[[nodiscard]] Language SessionLanguage();

// The text of id in the session's language.
[[nodiscard]] const char* ToolText(ToolMessage id);

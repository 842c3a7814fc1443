// What the screens say to the user, in the four languages side by side
// (Catalan, Spanish, Galician, Occitan), code page 850.
#pragma once

#include "base/language.h"

enum class ScreenMessage {
  FormFileUnreadable,  // followed by the form file's name
  ListKeys,            // a pick list's keys, in its bottom line
  ListKeysWithChain,   // the same for a list that opens another with F4
  // A form of the form file the user could not leave: Form + its number +
  // the reason + the form file's name.
  Form,
  FormWithoutExit,     // no exit key leaves it
  FormOffScreen,       // its window or an editable field lies outside the screen
  FormInACircle,       // its follow-on forms lead back to it
  BadDate,             // + the date as typed, then DateForms + the forms (DateFormsText)
  DateForms,
};

inline constexpr MessageTable<ScreenMessage, 9> kScreenTexts{{{
    {ScreenMessage::FormFileUnreadable,
     {"NO ES POT LLEGIR EL FITXER DE PANTALLES ", "NO SE PUEDE LEER EL FICHERO DE PANTALLAS ",
      "NOM SE PODE LER O FICHEIRO DE PANTALLAS ", "NON SE P\xE3T L\x90GER ETH FICH\xD4R DE FORMULARIS "}},
    {ScreenMessage::ListKeys,
     {"Intro Triar  Esc Sortir", "Intro Elegir  Esc Salir", "Intro Escoller  Esc Sa\xA1r", "Intro Causir  Esc Sortir"}},
    {ScreenMessage::ListKeysWithChain,
     {"Intro Triar  F4 Llista  Esc Sortir", "Intro Elegir  F4 Lista  Esc Salir",
      "Intro Escoller  F4 Lista  Esc Sa\xA1r", "Intro Causir  F4 Lista  Esc Sortir"}},
    {ScreenMessage::Form, {"FORMULARI ", "FORMULARIO ", "FORMULARIO ", "FORMULARI "}},
    {ScreenMessage::FormWithoutExit,
     {" SENSE TECLA DE SORTIDA: ", " SIN TECLA DE SALIDA: ", " SEN TECLA DE SA\xd6" "DA: ", " SENS TOCA DE SORTIDA: "}},
    {ScreenMessage::FormOffScreen,
     {" FORA DE LA PANTALLA: ", " FUERA DE LA PANTALLA: ", " F\xe0RA DA PANTALLA: ", " F\xe3RA DE L'ECRAN: "}},
    {ScreenMessage::FormInACircle,
     {" ENCADENAT EN CERCLE: ", " ENCADENADO EN C\xd6RCULO: ", " ENCADEADO EN C\xd6RCULO: ", " ENCADENAT EN CERCLE: "}},
    {ScreenMessage::BadDate,
     {"DATA NO V\xb7LIDA: ", "FECHA NO V\xb5LIDA: ", "DATA NON V\xb5LIDA: ", "DATA PAS VALIDA: "}},
    {ScreenMessage::DateForms,
     {". S'ESCRIU ", ". SE ESCRIBE ", ". ESCR\xd6" "BESE ", ". S'ESCRIU "}},
}}};

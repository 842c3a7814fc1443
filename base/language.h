// The four languages the suite speaks, and message tables that give a text
// by message id and language. Each layer that speaks to the user keeps one
// table, the four languages side by side:
//
//   constexpr MessageTable<ScreenMessage, 2> kScreenTexts{{{
//       {ScreenMessage::PressAKey, {"Premeu una tecla", "Pulse una tecla", ...}},
//       ...
//   }}};
//   ... = kScreenTexts.Text(ScreenMessage::PressAKey, language);
//
// Texts are code page 850. Which language is in force is a session value; it
// reaches the layers as an argument or through their settings value.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

enum class Language { Catalan = 0, Spanish = 1, Galician = 2, Occitan = 3 };

inline constexpr size_t kLanguageCount = 4;

// The language of a session code: "SPA", "GLG", "OCI" (the first three
// characters count, exactly as written); anything else is Catalan.
[[nodiscard]] constexpr Language LanguageFromCode(std::string_view code) {
  const std::string_view three = code.substr(0, 3);
  if (three == "SPA") return Language::Spanish;
  if (three == "GLG") return Language::Galician;
  if (three == "OCI") return Language::Occitan;
  return Language::Catalan;
}

// The session code of a language: "CAT", "SPA", "GLG" or "OCI".
[[nodiscard]] constexpr std::string_view LanguageCode(Language language) {
  constexpr std::array<std::string_view, kLanguageCount> kCodes{"CAT", "SPA", "GLG", "OCI"};
  return kCodes[static_cast<size_t>(language)];
}

template <typename Id>
struct MessageRow {
  Id id;
  std::array<const char*, kLanguageCount> texts;  // Catalan, Spanish, Galician, Occitan
};

// A fixed table of messages; Text finds the row of an id (every id has one
// row: a missing id gives the empty text).
template <typename Id, size_t N>
struct MessageTable {
  std::array<MessageRow<Id>, N> rows;

  [[nodiscard]] constexpr const char* Text(Id id, Language language) const {
    for (const MessageRow<Id>& row : rows) {
      if (row.id == id) return row.texts[static_cast<size_t>(language)];
    }
    return "";
  }
};

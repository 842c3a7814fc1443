// The form-file failure message in the four languages.
#include "screens/formfile.h"

#include "base/codepage.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "session/session.h"

std::string FormFileFailureText(const std::string& language, const std::string& file) {
  const std::string code = language.substr(0, 3);
  std::string text;
  if (code == "SPA")
    text = "NO SE PUEDE LEER EL FICHERO DE PANTALLAS ";
  else if (code == "GLG")
    text = "NOM SE PODE LER O FICHEIRO DE PANTALLAS ";
  else if (code == "OCI")
    text = "NON SE P\xE3T L\x90GER ETH FICH\xD4R DE FORMULARIS ";
  else
    text = "NO ES POT LLEGIR EL FITXER DE PANTALLES ";
  return text + file;
}

void ReportFormFileFailure(const std::string& file) {
  // The file name holds the host's root (UTF-8); the message is in the code page.
  std::string text = FormFileFailureText(Session.Language, Cp858ForDisplay(file));
  const bool shown = ShowMessageWindow(12, text) == 0;
  Beep();
  DiscardPendingKeys();
  WaitForKey();
  if (shown) PopWindow();
}

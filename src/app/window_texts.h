// The French texts of the window's port commands, in Windows-1252 like every text of the
// program.
#pragma once

namespace veldar::texts {

inline constexpr char StatusNotConnected[] = "Non-connet\xE9 au port COM.";
inline constexpr char StatusRetryHint[] =
    "\r\n(Double cliquer sur la LED de connexion pour retenter)";
inline constexpr char PortNotOpened[] = "Impossible d'ouvrir ce port";
inline constexpr char FileNotViewed[] = "Impossible d'afficher le fichier: aucun programme n'a pu "
                                        "l'ouvrir";

} // namespace veldar::texts

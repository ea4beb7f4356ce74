// The French texts of the dump, in Windows-1252 like every text of the program.
#pragma once

namespace veldar::texts {

inline constexpr char StatusRecording[] = "D\xE9vidage en cours...\r\nEnregistrement ";
inline constexpr char StatusPutInDump[] = "Mettre l'appareil en d\xE9vidage.";
inline constexpr char StatusAborted[] = "Une erreur est survenue !\r\nD\xE9vidage annul\xE9";
inline constexpr char StatusNotSaved[] = "Le fichier n'a pas pu \xEAtre cr\xE9\xE9";
inline constexpr char StatusRecordsSuffix[] = " enregistrements\r\nD\xE9vidage termin\xE9 en: ";
inline constexpr char StatusFinishedAt[] = "\r\nD\xE9vidage termin\xE9 \xE0: ";
inline constexpr char LogNoAck[] = "ACK non arriv\xE9";
inline constexpr char LogHeader[] = "Ent\xEAte trouv\xE9: ";
inline constexpr char LogRequest[] = "Requete: ";
inline constexpr char LogPath[] = "Chemin: ";
inline constexpr char LogFile[] = "\r\nFichier: ";
inline constexpr char LogRescued[] = "Copie de secours: ";
inline constexpr char LogRescueFailed[] =
    "Copie de secours impossible: aucun dossier n'accepte le fichier";
inline constexpr char PartialSuffix[] = "_partiel";

} // namespace veldar::texts

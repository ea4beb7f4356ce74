// The program's French texts, each once, in Windows-1252 like every text of the program. The
// dump engine uses them as they are; the window converts them where they meet Qt.
#pragma once

namespace veldar::texts {

inline constexpr char ProgramName[] = "VELDAR";

// --- status of the dump ---
inline constexpr char StatusRecording[] = "D\xE9vidage en cours...\r\nEnregistrement ";
inline constexpr char StatusPutInDump[] = "Mettre l'appareil en d\xE9vidage.";
inline constexpr char StatusAborted[] = "Une erreur est survenue !\r\nD\xE9vidage annul\xE9";
inline constexpr char StatusNotSaved[] = "Le fichier n'a pas pu \xEAtre cr\xE9\xE9";
inline constexpr char StatusRecordsSuffix[] = " enregistrements\r\nD\xE9vidage termin\xE9 en: ";
inline constexpr char StatusFinishedAt[] = "\r\nD\xE9vidage termin\xE9 \xE0: ";

// --- log of the dump ---
inline constexpr char LogNoAck[] = "ACK non arriv\xE9";
inline constexpr char LogHeader[] = "Ent\xEAte trouv\xE9: ";
inline constexpr char LogRequest[] = "Requete: ";
inline constexpr char LogPath[] = "Chemin: ";
inline constexpr char LogFile[] = "\r\nFichier: ";
inline constexpr char LogRescued[] = "Copie de secours: ";
inline constexpr char LogRescueFailed[] =
    "Copie de secours impossible: aucun dossier n'accepte le fichier";
// Every place full: "N enregistrements NON sauvegardés" in the status, the log and a box.
inline constexpr char StatusUnsaved[] =
    " enregistrements NON sauvegard\xE9s !\r\nLib\xE9rer de la place puis \"Enregistrer sous...\"";
inline constexpr char LogUnsaved[] = " enregistrements NON sauvegard\xE9s, gard\xE9s en m\xE9moire";
inline constexpr char MessageUnsaved[] =
    " enregistrements NON sauvegard\xE9s : aucun dossier n'a accept\xE9 le fichier (disque "
    "plein ?).\r\nIls restent en m\xE9moire. Lib\xE9rez de la place, puis choisissez un dossier "
    "qui en a par \"Enregistrer sous...\" : ils y seront \xE9\x63rits. Ils seront aussi "
    "r\xE9\x65ssay\xE9s au prochain d\xE9vidage et \xE0 la sortie du programme.";
// Written later: "N enregistrements sauvegardés:" and the file's name on the second line.
inline constexpr char StatusUnsavedWritten[] = " enregistrements sauvegard\xE9s:\r\n";
// The quit could write them nowhere either.
inline constexpr char MessageUnsavedLost[] =
    " enregistrements NON sauvegard\xE9s sont perdus : ni la destination, ni le dossier du "
    "programme, ni le dossier personnel n'ont accept\xE9 le fichier.";
inline constexpr char LogOlderLinesDropped[] = "(Lignes plus anciennes retir\xE9\x65s du journal)";
inline constexpr char PartialSuffix[] = "_partiel";
// --- the journal of a dump, and what a start recovers from one left by a dead run ---
// The journal's first line: "<program> - dévidage commencé le dd/MM/yyyy hh:mm:ss sur <port>".
inline constexpr char JournalBegan[] = " - d\xE9vidage commenc\xE9 le ";
inline constexpr char JournalOnPort[] = " sur ";
inline constexpr char LogJournalFailed[] = "Journal du d\xE9vidage impossible \xE0 tenir: ";
// "Arrêt brutal d'un dévidage précédent: N enregistrements récupérés dans <file>".
inline constexpr char LogRecovered[] =
    "Arr\xEAt brutal d'un d\xE9vidage pr\xE9\x63\xE9\x64\x65nt: ";
inline constexpr char LogRecoveredIn[] = " enregistrements r\xE9\x63up\xE9r\xE9s dans ";
inline constexpr char LogRecoveredTorn[] = " (dernier enregistrement incomplet, gard\xE9 tel quel)";
inline constexpr char LogJournalUnreadable[] = "Journal illisible, laiss\xE9 en place: ";
inline constexpr char LogJournalNotCopied[] =
    "Journal laiss\xE9 en place, aucun dossier n'accepte sa copie: ";
// "N enregistrements récupérés:" and the file's name on the second line.
inline constexpr char StatusRecovered[] = " enregistrements r\xE9\x63up\xE9r\xE9s:\r\n";
// Added to the name of a settings file that could not be read, kept aside at quit.
inline constexpr char UnreadableSettingsSuffix[] = ".illisible";

// --- the window's status and port commands ---
// The label's text before the port opens: "vidage", not the dump's "dévidage".
inline constexpr char StatusAtStart[] = "Mettre l'appareil en vidage.";
inline constexpr char StatusNotConnected[] = "Non-connet\xE9 au port COM.";
inline constexpr char StatusRetryHint[] =
    "\r\n(Double cliquer sur la LED de connexion pour retenter)";
inline constexpr char PortNotOpened[] = "Impossible d'ouvrir ce port";
inline constexpr char FileNotViewed[] = "Impossible d'afficher le fichier: aucun programme n'a pu "
                                        "l'ouvrir";
inline constexpr char WindowCaption[] = "VELDAR - Version 1.02 - Lecture sur le port COM";
inline constexpr char PortChangeTitle[] = "Changement de port (";
inline constexpr char PortChangePrompt[] = "Entrez le num\xE9ro du port: (entre 1 et 255)";
inline constexpr char PortChangeDefault[] = "0";
inline constexpr char InvalidEntry[] = "La saisie est invalide";
inline constexpr char SettingsNotWritten[] = "Impossible d'\xE9\x63rire dans le fichier de "
                                             "param\xE8tres";
// A later start while the first holds the folder's lock and does not answer.
inline constexpr char AlreadyRunning[] = "VELDAR est d\xE9j\xE0 lanc\xE9";
// %1: the lock file that is in the way (a folder, a FIFO, a link, a file without rights).
inline constexpr char LockNotTaken[] =
    "Le fichier %1 ne peut pas servir de verrou : un second VELDAR lanc\xE9 dans ce dossier "
    "ne serait pas d\xE9tect\xE9.\nSupprimez-le. VELDAR d\xE9marre quand m\xEAme.";
inline constexpr char StatusNoNotificationArea[] = "(Pas de zone de notification.)";
inline constexpr char NoNotificationArea[] =
    "aucune zone de notification trouv\xE9\x65 ; la fen\xEAtre reste affich\xE9\x65 et se "
    "r\xE9\x64uit dans la barre des t\xE2\x63hes.";

// --- why a port did not open, and a port that went away ---
inline constexpr char PortAbsent[] = "Ce port n'existe pas sur cet ordinateur.";
inline constexpr char PortOccupied[] = "Ce port est d\xE9j\xE0 utilis\xE9 par un autre programme.";
inline constexpr char PortNotAnswering[] =
    "Le p\xE9riph\xE9rique de ce port ne r\xE9pond pas (adaptateur d\xE9"
    "branch\xE9 ?).";
inline constexpr char PortNotSerial[] = "Ce nom ne d\xE9signe pas un port s\xE9rie.";
inline constexpr char PortSettingsRefused[] = "Le port refuse les r\xE9glages de la ligne.";
inline constexpr char PortSystemError[] = "Erreur syst\xE8me ";
inline constexpr char PortJoinGroup[] = "Acc\xE8s refus\xE9: ajoutez votre compte au groupe ";
inline constexpr char PortJoinGroupEnd[] =
    ", propri\xE9taire du port, puis ouvrez une nouvelle session.";
inline constexpr char PortAccessRefused[] =
    "Acc\xE8s refus\xE9: votre compte n'a pas le droit d'ouvrir ce port.";
// The device's port went away (an unplugged adapter): said in the status, the log and the
// tray icon's tooltip; the port is reopened by itself when it comes back.
inline constexpr char StatusPortLost[] = "Appareil d\xE9\x63onnect\xE9 du port COM.\r\n"
                                         "Le port sera rouvert \xE0 son retour.";
inline constexpr char LogPortLost[] = "Port perdu (appareil d\xE9\x63onnect\xE9): ";
inline constexpr char LogPortWaited[] = " sera rouvert d\xE8s son retour";
inline constexpr char TrayPortLost[] = "VELDAR - appareil d\xE9\x63onnect\xE9, en attente du port ";
inline constexpr char StatusPortBack[] = "Port COM de retour.\r\nMettre l'appareil en d\xE9vidage.";
inline constexpr char LogPortBack[] = "Port rouvert: ";
// A failure of the open port, for the status and the boxes: what happened, what to do.
inline constexpr char FailureGone[] = "L'appareil du port ";
inline constexpr char FailureGoneEnd[] =
    " est d\xE9\x63onnect\xE9.\r\nRebranchez-le: le port sera rouvert \xE0 son retour.";
inline constexpr char FailurePort[] = "Le port ";
inline constexpr char FailureNotOpenEnd[] =
    " n'est pas ouvert.\r\nDouble cliquer sur la LED de connexion pour l'ouvrir.";
inline constexpr char FailureTimeOutEnd[] =
    " ne r\xE9pond pas \xE0 temps.\r\nV\xE9rifiez le c\xE2\x62le et l'appareil.";
inline constexpr char FailureOther[] = "Erreur du port ";
inline constexpr char FailureSystemCode[] = " (erreur syst\xE8me ";
inline constexpr char FailureOtherEnd[] =
    ".\r\nV\xE9rifiez le c\xE2\x62le et l'appareil, puis double cliquer sur la LED de "
    "connexion.";

// --- the window's controls ---
inline constexpr char HintConnection[] = "Connexion";
inline constexpr char HintCts[] = "Entr\xE9\x65 CTS";
inline constexpr char HintReceive[] = "R\xE9\x63\x65ption";
inline constexpr char HintTransmit[] = "Transmission";
inline constexpr char NamePrompt[] = "Saisir le nom du fichier: ";
inline constexpr char NameAtStart[] = "Recup";
inline constexpr char NameButton[] = "Ok";

// --- the tray menu ---
inline constexpr char MenuPortPrefix[] = "COM";
inline constexpr char MenuPortSuffix[] = ", changer";
inline constexpr char MenuPresentPorts[] = "Ports pr\xE9sents";
inline constexpr char MenuNoPortFound[] = "(aucun port s\xE9rie trouv\xE9)";
inline constexpr char PortNotNamed[] = "Impossible de donner un nom COM \xE0 ce port: ";
inline constexpr char MenuAutoName[] = "Nom du fichier auto";
inline constexpr char MenuOverwrite[] = "Ecraser le fichier";
inline constexpr char MenuViewFile[] = "Voir le fichier";
inline constexpr char MenuSaveAs[] = "Enregistrer sous...";
inline constexpr char MenuSaveAsHint[] = "Chemin de destination";
inline constexpr char MenuShow[] = "Montrer";
inline constexpr char MenuQuit[] = "Quitter";

// --- boxes and errors ---
inline constexpr char ButtonOk[] = "OK";
inline constexpr char ButtonCancel[] = "Annuler";
inline constexpr char ButtonYes[] = "&Oui";
inline constexpr char ButtonNo[] = "&Non";
inline constexpr char UnknownError[] = "Erreur inconnue";
inline constexpr char NetworkButton[] = "&R\xE9seau...";
inline constexpr char HelpButton[] = "&Aide";
inline constexpr char FolderIoError[] = "Erreur E/S %1";
inline constexpr char ConfirmTitle[] = "Confirmation";
inline constexpr char SelectDirTitle[] = "S\xE9lection du r\xE9pertoire";
inline constexpr char SelectDirNameLabel[] = "&Nom de r\xE9pertoire :";
inline constexpr char SelectDirDirsLabel[] = "&R\xE9pertoires :";
inline constexpr char SelectDirFilesLabel[] = "&Fichiers : (*.*)";
inline constexpr char SelectDirDrivesLabel[] = "&Lecteurs :";
inline constexpr char SelectDirNotCreated[] = "Impossible de cr\xE9\x65r le r\xE9pertoire";
inline constexpr char SettingsUnreadable[] = "Impossible de lire le fichier de param\xE8tres";
inline constexpr char ConfirmCreateFolder[] =
    "Le r\xE9pertoire sp\xE9\x63ifi\xE9 n'existe pas. Le cr\xE9\x65r ?";
inline constexpr char TrayUnknownError[] = "Erreur inconnue dans l'ic\xF4ne de notification.";

// --- veldar-dump's lines on the terminal ---
// "Port COMn ouvert, recherche de l'appareil..."
inline constexpr char TerminalPortOpened[] = " ouvert, recherche de l'appareil...";
inline constexpr char TerminalRescueCopy[] = "Copie de secours : ";
// "Capture : <file> (N enregistrements)"
inline constexpr char TerminalCapture[] = "Capture : ";
inline constexpr char TerminalRecords[] = " enregistrements)";
inline constexpr char TerminalStoppedBeforeDump[] = "Interrompu avant tout d\xE9vidage.";
inline constexpr char TerminalNoDump[] = "Aucun d\xE9vidage n'a commenc\xE9.";
inline constexpr char TerminalNoCapture[] = "Pas de capture compl\xE8te enregistr\xE9\x65.";

} // namespace veldar::texts

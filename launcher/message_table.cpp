#include "launcher/message_table.h"

#include "platform/win32.h"

namespace kv {
namespace {

constexpr uint16_t kPrimaryLanguageMask = 0x3FF;
constexpr uint16_t kGerman = 0x07;
constexpr uint16_t kFrench = 0x0C;
constexpr uint16_t kItalian = 0x10;

uint16_t PlatformUserLanguage() { return ::GetUserDefaultLangID(); }
uint16_t PlatformSystemLanguage() { return ::GetSystemDefaultLangID(); }

}  // namespace

const LanguageSource kPlatformLanguage = {&PlatformUserLanguage, &PlatformSystemLanguage};

const char kUnknownMsgText[] = "unknown msg text";

// Texts are Windows-1252 bytes; a line break is one LF. Leading and
// trailing blanks belong to the texts.
const MsgTextRow MsgTextTable[38] = {
    {0,
     "Kalvora Setup",
     "Installazione Kalvora",
     "Installation de Kalvora",
     "Kalvora Setup"},
    {1,
     "You are about to interrupt the Kalvora download.\nTo continue downloading, you just need to restart the setup program.\nFiles already downloaded won't be downloaded again.\nDo you really want to interrupt the download?",
     "Sta per interrompere il download di Kalvora.\nPer continuare il download, basta rilanciare il programma d'installazione.\nI file gi\xE0 scaricati non verranno scaricati nuovamente.\nDesidera veramente interrompere il download?",
     "Vous allez interrompre le t\xE9l\xE9" "chargement de Kalvora.\nPour continuer le t\xE9l\xE9" "chargement, vous devez juste relancer le setup.\nLes fichiers d\xE9j\xE1 t\xE9l\xE9" "charg\xE9s n'auront pas besoin de l'\xEAtre \xE0 nouveau.\nVoulez-vous r\xE9" "ellement interrompre le t\xE9l\xE9" "chargement ?",
     "Sie sind dabei, den Kalvora-Download zu unterbrechen.\nUm den Download fortzusetzen, m\xFCssen Sie nur das Setup-Program erneut starten.\nDie bereits herunter geladenen Datein werden nicht erneut heruntergeladen.\nWollen Sie den Download wirklich unterbrechen?"},
    {2,
     "Download %d%% done (%d/%d KB)",
     "Download completato al %d%% (%d/%d KB)",
     "T\xE9l\xE9" "chargement effectu\xE9 \xE0 %d%% (%d/%d Ko)",
     "Download zu %d%% abgeschlossen (%d/%d KB)"},
    {3,
     " %d KB/s, %d min remaining",
     " %d KB/s, %d min rimanenti",
     " %d Ko/s, %d min restantes",
     " %d KB/s, noch %d min"},
    {4,
     " %d KB/s, %d s remaining",
     " %d KB/s, %d s rimanenti",
     " %d Ko/s, %d s restantes",
     " %d KB/s, noch %d s"},
    {5,
     "Insufficient space on drive %s to run setup!\n(%.1f MB required, only %.1f MB available)",
     "Spazio insufficiente sul disco %s per lanciare l'installazione!\n(richiesti %.1f MB, disponibili solo %.1f MB)",
     "Espace insuffisant pour lancer l'installation sur le disque %s !\n(%.1f Mo n\xE9" "cessaires, seulement %.1f Mo de disponible)",
     "Nicht gen\xFCgend freier Platz auf Laufwerk %s, um Setup laufen zu lassen!\n(%.1f MB ben\xF6tigt, nur %.1f MB vorhanden)"},
    {6,
     "All necessary installation files are available. \nWould you like to check for more recent ones?",
     "Tutti i file d'installazione necessari sono disponibili. \nDesidera cercare versioni pi\xF9 recenti?",
     "Tous les fichiers d'installation n\xE9" "cessaires sont disponibles. \nVoulez-vous rechercher des versions plus r\xE9" "centes ?",
     "Alle ben\xF6tigten Installationsdateien sind vorhanden. \nM\xF6" "chten Sie nach neueren Dateien suchen?"},
    {7,
     "Internet Explorer (version 4.0 or higher) is required but not installed.\nThe Kalvora website features links to download the current Internet Explorer version. Do you want to visit the Kalvora Website?",
     "\xC8 necessario Internet Explorer (versione 4.0 o superiore), ma non \xE8 installato.\nIl sito web di Kalvora contiene i link per scaricare la versione attuale di Internet Explorer. Desidera visitare il sito web di Kalvora?",
     "Internet Explorer (version 4.0 ou sup\xE9rieure) est n\xE9" "cessaire mais n'est pas install\xE9.\nLe site web de Kalvora propose des liens pour t\xE9l\xE9" "charger la version actuelle d'Internet Explorer. Voulez-vous visiter le site web de Kalvora ?",
     "Internet Explorer (Version 4.0 oder h\xF6her) wird ben\xF6tigt, ist aber nicht installiert.\nAuf der Kalvora-Website finden Sie Links zum Herunterladen der aktuellen Internet-Explorer-Version. M\xF6" "chten Sie die Kalvora-Website besuchen?"},
    {8,
     "Kalvora Setup requires an active Internet connection to access the download site.\nPlease check your Internet connection, firewall and proxy settings. \n",
     "L'installazione di Kalvora richiede una connessione Internet attiva per accedere al sito di download.\nControlli la connessione Internet e le impostazioni di firewall e proxy. \n",
     "L'installation de Kalvora n\xE9" "cessite une connexion Internet active pour acc\xE9" "der au site de t\xE9l\xE9" "chargement.\nVeuillez v\xE9rifier votre connexion Internet ainsi que les param\xE8tres du pare-feu et du proxy. \n",
     "Kalvora Setup ben\xF6tigt eine aktive Internetverbindung, um die Download-Seite zu erreichen.\nBitte pr\xFC" "fen Sie Ihre Internetverbindung sowie die Firewall- und Proxy-Einstellungen. \n"},
    {9,
     "Kalvora received an error message while trying to access the download site. \nDo you want to see this message?",
     "Kalvora ha ricevuto un messaggio d'errore durante l'accesso al sito di download. \nDesidera visualizzare il messaggio?",
     "Kalvora a re\xE7u un message d'erreur en acc\xE9" "dant au site de t\xE9l\xE9" "chargement. \nVoulez-vous afficher ce message ?",
     "Kalvora hat beim Zugriff auf die Download-Seite eine Fehlermeldung erhalten. \nM\xF6" "chten Sie diese Meldung sehen?"},
    {10,
     "It is possible to download Kalvora as a single file from our website. \nDo you want to visit the Kalvora website?",
     "\xC8 possibile scaricare Kalvora come file unico dal nostro sito web. \nDesidera visitare il sito web di Kalvora?",
     "Il est possible de t\xE9l\xE9" "charger Kalvora en un seul fichier depuis notre site web. \nVoulez-vous visiter le site web de Kalvora ?",
     "Kalvora kann auch als einzelne Datei von unserer Website heruntergeladen werden. \nM\xF6" "chten Sie die Kalvora-Website besuchen?"},
    {11,
     "MAPI error\nOne or more unspecified errors occurred. No message was sent.",
     "Errore MAPI\nSi sono verificati uno o pi\xF9 errori non specificati. Nessun messaggio \xE8 stato inviato.",
     "Erreur MAPI\nUne ou plusieurs erreurs non sp\xE9" "cifi\xE9" "es se sont produites. Aucun message n'a \xE9t\xE9 envoy\xE9.",
     "MAPI-Fehler\nEin oder mehrere nicht n\xE4her bezeichnete Fehler sind aufgetreten. Es wurde keine Nachricht gesendet."},
    {12,
     "MAPI error\nThere was no default logon and the user failed to log on successfully when the logon dialog box was displayed. No message was sent.",
     "Errore MAPI\nNon esiste un accesso predefinito e l'utente non \xE8 riuscito ad accedere nella finestra di accesso. Nessun messaggio \xE8 stato inviato.",
     "Erreur MAPI\nIl n'existe pas de connexion par d\xE9" "faut et l'utilisateur n'a pas pu se connecter dans la bo\xEEte de dialogue de connexion. Aucun message n'a \xE9t\xE9 envoy\xE9.",
     "MAPI-Fehler\nEs gibt keine Standardanmeldung, und die Anmeldung im Anmeldedialog ist fehlgeschlagen. Es wurde keine Nachricht gesendet."},
    {13,
     "MAPI error\nYour disk is full. No message was sent.",
     "Errore MAPI\nIl disco \xE8 pieno. Nessun messaggio \xE8 stato inviato.",
     "Erreur MAPI\nVotre disque est plein. Aucun message n'a \xE9t\xE9 envoy\xE9.",
     "MAPI-Fehler\nIhr Datentr\xE4ger ist voll. Es wurde keine Nachricht gesendet."},
    {14,
     "MAPI error\nOut of memory. No message was sent.",
     "Errore MAPI\nMemoria insufficiente. Nessun messaggio \xE8 stato inviato.",
     "Erreur MAPI\nM\xE9moire insuffisante. Aucun message n'a \xE9t\xE9 envoy\xE9.",
     "MAPI-Fehler\nNicht gen\xFCgend Arbeitsspeicher. Es wurde keine Nachricht gesendet."},
    {15,
     "MAPI error\nAccess denied. No message was sent.",
     "Errore MAPI\nAccesso negato. Nessun messaggio \xE8 stato inviato.",
     "Erreur MAPI\nAcc\xE8s refus\xE9. Aucun message n'a \xE9t\xE9 envoy\xE9.",
     "MAPI-Fehler\nZugriff verweigert. Es wurde keine Nachricht gesendet."},
    {16,
     "MAPI error\nToo many sessions. No message was sent.",
     "Errore MAPI\nTroppe sessioni. Nessun messaggio \xE8 stato inviato.",
     "Erreur MAPI\nTrop de sessions. Aucun message n'a \xE9t\xE9 envoy\xE9.",
     "MAPI-Fehler\nZu viele Sitzungen. Es wurde keine Nachricht gesendet."},
    {17,
     "MAPI error\nThere were too many images. Try to split up the images into several emails. No message was sent.",
     "Errore MAPI\nTroppe immagini. Provi a suddividere le immagini in pi\xF9 e-mail. Nessun messaggio \xE8 stato inviato.",
     "Erreur MAPI\nIl y avait trop d'images. Essayez de r\xE9partir les images sur plusieurs e-mails. Aucun message n'a \xE9t\xE9 envoy\xE9.",
     "MAPI-Fehler\nEs waren zu viele Bilder. Verteilen Sie die Bilder auf mehrere E-Mails. Es wurde keine Nachricht gesendet."},
    {18,
     "MAPI error\nThere were too many recipients. No message was sent.",
     "Errore MAPI\nTroppi destinatari. Nessun messaggio \xE8 stato inviato.",
     "Erreur MAPI\nIl y avait trop de destinataires. Aucun message n'a \xE9t\xE9 envoy\xE9.",
     "MAPI-Fehler\nEs waren zu viele Empf\xE4nger. Es wurde keine Nachricht gesendet."},
    {19,
     "MAPI error\nAttachment not found. No message was sent.",
     "Errore MAPI\nAllegato non trovato. Nessun messaggio \xE8 stato inviato.",
     "Erreur MAPI\nPi\xE8" "ce jointe introuvable. Aucun message n'a \xE9t\xE9 envoy\xE9.",
     "MAPI-Fehler\nAnlage nicht gefunden. Es wurde keine Nachricht gesendet."},
    {20,
     "MAPI error\nThe specified attachment could not be opened. No message was sent.",
     "Errore MAPI\nImpossibile aprire l'allegato indicato. Nessun messaggio \xE8 stato inviato.",
     "Erreur MAPI\nImpossible d'ouvrir la pi\xE8" "ce jointe indiqu\xE9" "e. Aucun message n'a \xE9t\xE9 envoy\xE9.",
     "MAPI-Fehler\nDie angegebene Anlage konnte nicht ge\xF6" "ffnet werden. Es wurde keine Nachricht gesendet."},
    {21,
     "MAPI error\nThe specified attachment could not be written to. No message was sent.",
     "Errore MAPI\nImpossibile scrivere nell'allegato indicato. Nessun messaggio \xE8 stato inviato.",
     "Erreur MAPI\nImpossible d'\xE9" "crire dans la pi\xE8" "ce jointe indiqu\xE9" "e. Aucun message n'a \xE9t\xE9 envoy\xE9.",
     "MAPI-Fehler\nDie angegebene Anlage konnte nicht geschrieben werden. Es wurde keine Nachricht gesendet."},
    {22,
     "MAPI error\nA recipient did not appear in the address list. No message was sent.",
     "Errore MAPI\nUn destinatario non compare nella rubrica. Nessun messaggio \xE8 stato inviato.",
     "Erreur MAPI\nUn destinataire ne figure pas dans la liste d'adresses. Aucun message n'a \xE9t\xE9 envoy\xE9.",
     "MAPI-Fehler\nEin Empf\xE4nger ist nicht in der Adressliste enthalten. Es wurde keine Nachricht gesendet."},
    {23,
     "MAPI error\nThe type of a recipient was not To:, Cc:, or Bcc:. No message was sent.",
     "Errore MAPI\nIl tipo di un destinatario non era A:, Cc: o Ccn:. Nessun messaggio \xE8 stato inviato.",
     "Erreur MAPI\nLe type d'un destinataire n'\xE9tait pas \xC0 :, Cc : ou Cci :. Aucun message n'a \xE9t\xE9 envoy\xE9.",
     "MAPI-Fehler\nDer Typ eines Empf\xE4ngers war nicht An:, Cc: oder Bcc:. Es wurde keine Nachricht gesendet."},
    {24,
     "MAPI error\nNo messages. No message was sent.",
     "Errore MAPI\nNessun messaggio. Nessun messaggio \xE8 stato inviato.",
     "Erreur MAPI\nAucun message. Aucun message n'a \xE9t\xE9 envoy\xE9.",
     "MAPI-Fehler\nKeine Nachrichten. Es wurde keine Nachricht gesendet."},
    {25,
     "MAPI error\nInvalid message. No message was sent.",
     "Errore MAPI\nMessaggio non valido. Nessun messaggio \xE8 stato inviato.",
     "Erreur MAPI\nMessage non valide. Aucun message n'a \xE9t\xE9 envoy\xE9.",
     "MAPI-Fehler\nUng\xFCltige Nachricht. Es wurde keine Nachricht gesendet."},
    {26,
     "MAPI error\nThe text in the message was too large. No message was sent.",
     "Errore MAPI\nIl testo del messaggio era troppo lungo. Nessun messaggio \xE8 stato inviato.",
     "Erreur MAPI\nLe texte du message \xE9tait trop long. Aucun message n'a \xE9t\xE9 envoy\xE9.",
     "MAPI-Fehler\nDer Text der Nachricht war zu lang. Es wurde keine Nachricht gesendet."},
    {27,
     "MAPI error\nInvalid session. No message was sent.",
     "Errore MAPI\nSessione non valida. Nessun messaggio \xE8 stato inviato.",
     "Erreur MAPI\nSession non valide. Aucun message n'a \xE9t\xE9 envoy\xE9.",
     "MAPI-Fehler\nUng\xFCltige Sitzung. Es wurde keine Nachricht gesendet."},
    {28,
     "MAPI error\nType not supported. No message was sent.",
     "Errore MAPI\nTipo non supportato. Nessun messaggio \xE8 stato inviato.",
     "Erreur MAPI\nType non pris en charge. Aucun message n'a \xE9t\xE9 envoy\xE9.",
     "MAPI-Fehler\nTyp nicht unterst\xFCtzt. Es wurde keine Nachricht gesendet."},
    {29,
     "MAPI error\nA recipient matched more than one of the recipient descriptor structures and no dialog was to be displayed. No message was sent.",
     "Errore MAPI\nUn destinatario corrisponde a pi\xF9 di una voce di destinatario e non era prevista la visualizzazione di una finestra di dialogo. Nessun messaggio \xE8 stato inviato.",
     "Erreur MAPI\nUn destinataire correspond \xE0 plusieurs descripteurs de destinataire et aucune bo\xEEte de dialogue ne devait \xEAtre affich\xE9" "e. Aucun message n'a \xE9t\xE9 envoy\xE9.",
     "MAPI-Fehler\nEin Empf\xE4nger passte auf mehrere Empf\xE4ngerbeschreibungen, und es sollte kein Dialog angezeigt werden. Es wurde keine Nachricht gesendet."},
    {30,
     "MAPI error\nMessage in use. No message was sent.",
     "Errore MAPI\nMessaggio in uso. Nessun messaggio \xE8 stato inviato.",
     "Erreur MAPI\nMessage en cours d'utilisation. Aucun message n'a \xE9t\xE9 envoy\xE9.",
     "MAPI-Fehler\nNachricht wird verwendet. Es wurde keine Nachricht gesendet."},
    {31,
     "MAPI error\nNetwork failure. No message was sent.",
     "Errore MAPI\nErrore di rete. Nessun messaggio \xE8 stato inviato.",
     "Erreur MAPI\nErreur r\xE9seau. Aucun message n'a \xE9t\xE9 envoy\xE9.",
     "MAPI-Fehler\nNetzwerkfehler. Es wurde keine Nachricht gesendet."},
    {32,
     "MAPI error\nInvalid edit fields. No message was sent.",
     "Errore MAPI\nCampi di modifica non validi. Nessun messaggio \xE8 stato inviato.",
     "Erreur MAPI\nChamps d'\xE9" "dition non valides. Aucun message n'a \xE9t\xE9 envoy\xE9.",
     "MAPI-Fehler\nUng\xFCltige Bearbeitungsfelder. Es wurde keine Nachricht gesendet."},
    {33,
     "MAPI error\nOne or more recipients were invalid or did not resolve to any address.",
     "Errore MAPI\nUno o pi\xF9 destinatari non sono validi o non corrispondono ad alcun indirizzo.",
     "Erreur MAPI\nUn ou plusieurs destinataires ne sont pas valides ou ne correspondent \xE0 aucune adresse.",
     "MAPI-Fehler\nEin oder mehrere Empf\xE4nger sind ung\xFCltig oder konnten keiner Adresse zugeordnet werden."},
    {34,
     "MAPI error\nNot supported. No message was sent.",
     "Errore MAPI\nNon supportato. Nessun messaggio \xE8 stato inviato.",
     "Erreur MAPI\nNon pris en charge. Aucun message n'a \xE9t\xE9 envoy\xE9.",
     "MAPI-Fehler\nNicht unterst\xFCtzt. Es wurde keine Nachricht gesendet."},
    {35,
     "MAPI Error:%x\n%s",
     "Errore MAPI:%x\n%s",
     "Erreur MAPI :%x\n%s",
     "MAPI-Fehler:%x\n%s"},
    {36,
     "Kalvora could not generate an email because MAPI is not configured or installed on your system.\nPlease send us the file %s by other means.",
     "Kalvora non ha potuto creare un'e-mail perch\xE9 MAPI non \xE8 configurato o installato nel sistema.\nCi invii il file %s in altro modo.",
     "Kalvora n'a pas pu cr\xE9" "er d'e-mail car MAPI n'est pas configur\xE9 ou install\xE9 sur votre syst\xE8me.\nVeuillez nous envoyer le fichier %s par un autre moyen.",
     "Kalvora konnte keine E-Mail erstellen, weil MAPI auf Ihrem System nicht eingerichtet oder installiert ist.\nBitte senden Sie uns die Datei %s auf anderem Weg."},
    {kMsgTableEndId, nullptr, nullptr, nullptr, nullptr},
};

const char* LookupMsgText(int id, const LanguageSource& source) {
  for (const MsgTextRow* row = MsgTextTable;; ++row) {
    // The end test comes first: identifier 37 itself has no text.
    if (row->id == kMsgTableEndId) return kUnknownMsgText;
    if (row->id == id) return SelectLanguageText(*row, source);
  }
}

const char* SelectLanguageText(const MsgTextRow& row, const LanguageSource& source) {
  uint16_t language = source.userLanguage();
  if (language == 0) language = source.systemLanguage();
  switch (language & kPrimaryLanguageMask) {
    case kGerman: return row.german;
    case kFrench: return row.french;
    case kItalian: return row.italian;
    default: return row.english;
  }
}

const char* GetMsgText(int id) { return LookupMsgText(id, kPlatformLanguage); }

}  // namespace kv

#include "launcher/failure_messages.h"

namespace kv {

// Windows-1252 texts; the first %s is the file, folder or archive concerned,
// the second (where a text has one) the system's or the reader's own words.
const MsgTextRow kFailureTextTable[kFailureTextCount] = {
    {kFailNoFreeName,
     "Setup found no unused name for its files in the temporary folder\n%s\nPlease delete the files in the temporary folder, then start setup again.",
     "Il programma d'installazione non ha trovato un nome libero per i suoi file nella cartella temporanea\n%s\nElimini i file della cartella temporanea, poi riavvii l'installazione.",
     "Le programme d'installation n'a trouv\xE9 aucun nom libre pour ses fichiers dans le dossier temporaire\n%s\nVeuillez supprimer les fichiers du dossier temporaire, puis relancer l'installation.",
     "Setup hat im tempor\xE4ren Ordner\n%s\nkeinen freien Namen f\xFCr seine Dateien gefunden.\nBitte l\xF6schen Sie die Dateien im tempor\xE4ren Ordner und starten Sie Setup erneut."},
    {kFailCannotCreate,
     "Setup could not create the file\n%s\n%s\nPlease make sure that no other program is using the file and that the temporary folder may be written to, then start setup again.",
     "Il programma d'installazione non ha potuto creare il file\n%s\n%s\nVerifichi che nessun altro programma stia usando il file e che la cartella temporanea sia scrivibile, poi riavvii l'installazione.",
     "Le programme d'installation n'a pas pu cr\xE9" "er le fichier\n%s\n%s\nVeuillez v\xE9rifier qu'aucun autre programme n'utilise ce fichier et que le dossier temporaire est accessible en \xE9" "criture, puis relancer l'installation.",
     "Setup konnte die Datei\n%s\nnicht anlegen.\n%s\nBitte stellen Sie sicher, dass kein anderes Programm die Datei verwendet und der tempor\xE4re Ordner beschreibbar ist, und starten Sie Setup erneut."},
    {kFailCannotWrite,
     "Setup could not write the file\n%s\n%s\nPlease make sure that the drive has enough free space, then start setup again.",
     "Il programma d'installazione non ha potuto scrivere il file\n%s\n%s\nVerifichi che sul disco ci sia spazio sufficiente, poi riavvii l'installazione.",
     "Le programme d'installation n'a pas pu \xE9" "crire le fichier\n%s\n%s\nVeuillez v\xE9rifier que le disque dispose d'assez d'espace libre, puis relancer l'installation.",
     "Setup konnte die Datei\n%s\nnicht schreiben.\n%s\nBitte stellen Sie sicher, dass auf dem Laufwerk gen\xFCgend Platz frei ist, und starten Sie Setup erneut."},
    {kFailDamagedArchive,
     "The setup program is damaged: its archive %s cannot be read.\n(%s)\nPlease download the setup program again.",
     "Il programma d'installazione \xE8 danneggiato: il suo archivio %s non \xE8 leggibile.\n(%s)\nScarichi di nuovo il programma d'installazione.",
     "Le programme d'installation est endommag\xE9 : son archive %s est illisible.\n(%s)\nVeuillez t\xE9l\xE9" "charger \xE0 nouveau le programme d'installation.",
     "Das Setup-Programm ist besch\xE4" "digt: sein Archiv %s kann nicht gelesen werden.\n(%s)\nBitte laden Sie das Setup-Programm erneut herunter."},
    {kFailDamagedEntry,
     "The setup program is damaged: the file\n%s\ncannot be unpacked.\n(%s)\nPlease download the setup program again.",
     "Il programma d'installazione \xE8 danneggiato: il file\n%s\nnon pu\xF2 essere estratto.\n(%s)\nScarichi di nuovo il programma d'installazione.",
     "Le programme d'installation est endommag\xE9 : le fichier\n%s\nne peut pas \xEAtre d\xE9" "compress\xE9.\n(%s)\nVeuillez t\xE9l\xE9" "charger \xE0 nouveau le programme d'installation.",
     "Das Setup-Programm ist besch\xE4" "digt: die Datei\n%s\nkann nicht entpackt werden.\n(%s)\nBitte laden Sie das Setup-Programm erneut herunter."},
    {kFailPathTooLong,
     "The path of the file\n%s\nis too long.\nPlease set the TEMP variable to a shorter folder, then start setup again.",
     "Il percorso del file\n%s\n\xE8 troppo lungo.\nImposti la variabile TEMP su una cartella con un percorso pi\xF9 breve, poi riavvii l'installazione.",
     "Le chemin du fichier\n%s\nest trop long.\nVeuillez faire pointer la variable TEMP vers un dossier au chemin plus court, puis relancer l'installation.",
     "Der Pfad der Datei\n%s\nist zu lang.\nBitte setzen Sie die Variable TEMP auf einen Ordner mit k\xFCrzerem Pfad und starten Sie Setup erneut."},
    {kFailFileSystem,
     "Setup failed while working on the file\n%s\n%s\nPlease start setup again.",
     "Il programma d'installazione ha avuto un errore con il file\n%s\n%s\nRiavvii l'installazione.",
     "Le programme d'installation a \xE9" "chou\xE9 en traitant le fichier\n%s\n%s\nVeuillez relancer l'installation.",
     "Setup ist bei der Bearbeitung der Datei\n%s\nfehlgeschlagen.\n%s\nBitte starten Sie Setup erneut."},
    {kFailOutOfMemory,
     "Setup ran out of memory while unpacking its files.\nPlease close other programs, then start setup again.",
     "Memoria insufficiente durante l'estrazione dei file d'installazione.\nChiuda gli altri programmi, poi riavvii l'installazione.",
     "M\xE9moire insuffisante pendant la d\xE9" "compression des fichiers d'installation.\nVeuillez fermer les autres programmes, puis relancer l'installation.",
     "Beim Entpacken der Setup-Dateien reichte der Arbeitsspeicher nicht aus.\nBitte schlie\xDF" "en Sie andere Programme und starten Sie Setup erneut."},
    {kFailLeftBehind,
     "\n\nSetup could not remove:\n%s",
     "\n\nIl programma d'installazione non ha potuto eliminare:\n%s",
     "\n\nLe programme d'installation n'a pas pu supprimer :\n%s",
     "\n\nSetup konnte Folgendes nicht entfernen:\n%s"},
    {kFailTempFolderName,
     "Setup cannot use the temporary folder\n%s\nbecause its name holds characters that setup cannot pass on to its files, and the folder has no short name to stand in for it.\nPlease set the TEMP and TMP variables to a folder whose name holds only Latin letters and digits (for example C:\\Temp), then start setup again.",
     "Il programma d'installazione non pu\xF2 usare la cartella temporanea\n%s\nperch\xE9 il suo nome contiene caratteri che il programma d'installazione non pu\xF2 trasmettere ai suoi file, e la cartella non ha un nome breve che possa sostituirlo.\nImposti le variabili TEMP e TMP su una cartella il cui nome contenga solo lettere latine e cifre (ad esempio C:\\Temp), poi riavvii l'installazione.",
     "Le programme d'installation ne peut pas utiliser le dossier temporaire\n%s\ncar son nom contient des caract\xE8res que le programme d'installation ne peut pas transmettre \xE0 ses fichiers, et ce dossier n'a pas de nom court qui puisse le remplacer.\nVeuillez faire pointer les variables TEMP et TMP vers un dossier dont le nom ne contient que des lettres latines et des chiffres (par exemple C:\\Temp), puis relancer l'installation.",
     "Setup kann den tempor\xE4ren Ordner\n%s\nnicht verwenden, weil sein Name Zeichen enth\xE4lt, die Setup nicht an seine Dateien weitergeben kann, und der Ordner keinen kurzen Namen hat, der an seine Stelle treten k\xF6nnte.\nBitte setzen Sie die Variablen TEMP und TMP auf einen Ordner, dessen Name nur lateinische Buchstaben und Ziffern enth\xE4lt (zum Beispiel C:\\Temp), und starten Sie Setup erneut."},
    {kFailProgramName,
     "Setup cannot run from the place it was started from:\n%s\nThe name holds characters that setup cannot pass on, and there is no short name to stand in for it.\nPlease copy the setup program into a folder whose name holds only Latin letters and digits (for example C:\\Setup) and start it from there.",
     "Il programma d'installazione non pu\xF2 essere eseguito dalla posizione da cui \xE8 stato avviato:\n%s\nIl nome contiene caratteri che il programma d'installazione non pu\xF2 trasmettere, e non esiste un nome breve che possa sostituirlo.\nCopi il programma d'installazione in una cartella il cui nome contenga solo lettere latine e cifre (ad esempio C:\\Setup) e lo avvii da l\xEC.",
     "Le programme d'installation ne peut pas \xEAtre ex\xE9" "cut\xE9 depuis l'emplacement d'o\xF9 il a \xE9t\xE9 lanc\xE9 :\n%s\nCe nom contient des caract\xE8res que le programme d'installation ne peut pas transmettre, et il n'existe pas de nom court qui puisse le remplacer.\nVeuillez copier le programme d'installation dans un dossier dont le nom ne contient que des lettres latines et des chiffres (par exemple C:\\Setup), puis le lancer depuis ce dossier.",
     "Setup kann nicht von dem Ort aus laufen, von dem es gestartet wurde:\n%s\nDer Name enth\xE4lt Zeichen, die Setup nicht weitergeben kann, und es gibt keinen kurzen Namen, der an seine Stelle treten k\xF6nnte.\nBitte kopieren Sie das Setup-Programm in einen Ordner, dessen Name nur lateinische Buchstaben und Ziffern enth\xE4lt (zum Beispiel C:\\Setup), und starten Sie es von dort."},
};

const char* GetFailureText(FailureTextId id) {
  return SelectLanguageText(kFailureTextTable[id], kPlatformLanguage);
}

}  // namespace kv

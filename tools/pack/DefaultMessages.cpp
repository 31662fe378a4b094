#include "pack/DefaultMessages.h"

#include <algorithm>

namespace shipkit::pack {

namespace {

// Placeholders as the launcher fills them in: "{0}" (the error display's argument), "%S"
// (the bitness in the selection text) and the printf fields of the download progress.
const std::map<int32_t, std::u16string> kEnglish = {
    {1000, u"Error"},
    {1005,
     u"The JVM could not be started. The maximum heap size (-Xmx) might be too large or an antivirus or "
     u"firewall tool could block the execution."},
    {1006, u"File or directory {0} not found or empty\n"},
    {1008, u"The environment variable {0} has to be defined"},
    {1009, u"An internal error occurred (error code: {0})"},
    {1010, u"Couldn't load main class."},
    {1011, u"Main method not found."},
    {1015, u"You must be at least Poweruser to run this program."},
    {1016, u"No suitable {0}-bit Java(TM) Runtime Environment was found on this computer."},
    {1018, u"The environment variable {0} does not point to a working 64-bit Java(TM) Runtime Environment."},
    {1020, u"The 64-bit Java(TM) Runtime Environment at {0} is damaged. Please reinstall it."},
    {20001, u"Downloading the Java(TM) Runtime Environment ..."},
    {20002, u"Cannot initialize wininet.dll. Please install\nInternet Explorer 3.0 or higher."},
    {20003,
     u"Error downloading the Java(TM) Runtime Environment.\nPlease check your internet connection and start "
     u"setup again."},
    {20004, u"Choose java.exe"},
    {20005,
     u"This program needs a %S-bit Java(TM) Runtime Environment, which was not found on this computer. "
     u"Download one now, or locate an installed java.exe."},
    {20006,
     u"This program needs a %S-bit Java(TM) Runtime Environment, which was not found on this computer. "
     u"Please locate an installed java.exe."},
    {20007, u"Preparing the installation ..."},
    {20008, u"%.2f MB of %.2f MB (%.1f%%) at %.1f kb/s"},
    {20009, u"Initializing connection ..."},
    {20010, u"Download"},
    {20011, u"Locate"},
    {20012, u"Cancel"},
    {20013, u"Setup"},
    {20014,
     u"The installation did not start in time. Please start it again. If this happens again, start the "
     u"installer with the /manual switch and choose the Java(TM) runtime yourself."},
    {20016, u"The installation file is corrupted. If it is a download please try it again."},
    {20018, u"Not Enough Disk Space"},
    {20019, u"minimum version:"},
    {20020, u"maximum version:"},
};

const std::map<int32_t, std::u16string> kGerman = {
    {1000, u"Fehler"},
    {1005,
     u"Die JVM konnte nicht gestartet werden. Die maximale Heap-Größe (-Xmx) ist möglicherweise zu groß, "
     u"oder ein Antiviren- oder Firewall-Programm blockiert die Ausführung."},
    {1006, u"Datei oder Verzeichnis {0} nicht gefunden oder leer\n"},
    {1008, u"Die Umgebungsvariable {0} muss definiert sein"},
    {1009, u"Ein interner Fehler ist aufgetreten (Fehlercode: {0})"},
    {1010, u"Die Hauptklasse konnte nicht geladen werden."},
    {1011, u"Die Main-Methode wurde nicht gefunden."},
    {1015, u"Sie benötigen mindestens Hauptbenutzerrechte, um dieses Programm auszuführen."},
    {1016, u"Auf diesem Computer wurde keine passende {0}-Bit-Java(TM)-Laufzeitumgebung gefunden."},
    {1018, u"Die Umgebungsvariable {0} verweist auf keine funktionierende 64-Bit-Java(TM)-Laufzeitumgebung."},
    {1020, u"Die 64-Bit-Java(TM)-Laufzeitumgebung in {0} ist beschädigt. Bitte installieren Sie sie neu."},
    {20001, u"Die Java(TM)-Laufzeitumgebung wird heruntergeladen ..."},
    {20002, u"wininet.dll kann nicht initialisiert werden. Bitte installieren Sie\nInternet Explorer 3.0 oder höher."},
    {20003,
     u"Fehler beim Herunterladen der Java(TM)-Laufzeitumgebung.\nBitte prüfen Sie Ihre Internetverbindung und "
     u"starten Sie das Setup erneut."},
    {20004, u"java.exe auswählen"},
    {20005,
     u"Dieses Programm benötigt eine %S-Bit-Java(TM)-Laufzeitumgebung, die auf diesem Computer nicht gefunden "
     u"wurde. Laden Sie jetzt eine herunter, oder wählen Sie eine installierte java.exe aus."},
    {20006,
     u"Dieses Programm benötigt eine %S-Bit-Java(TM)-Laufzeitumgebung, die auf diesem Computer nicht gefunden "
     u"wurde. Bitte wählen Sie eine installierte java.exe aus."},
    {20007, u"Die Installation wird vorbereitet ..."},
    {20008, u"%.2f MB von %.2f MB (%.1f%%) mit %.1f kb/s"},
    {20009, u"Verbindung wird hergestellt ..."},
    {20010, u"Herunterladen"},
    {20011, u"Auswählen"},
    {20012, u"Abbrechen"},
    {20013, u"Setup"},
    {20014,
     u"Die Installation wurde nicht rechtzeitig gestartet. Bitte starten Sie sie erneut. Geschieht das "
     u"wieder, starten Sie das Installationsprogramm mit dem Schalter /manual und wählen Sie die "
     u"Java(TM)-Laufzeitumgebung selbst aus."},
    {20016,
     u"Die Installationsdatei ist beschädigt. Wurde sie heruntergeladen, laden Sie sie bitte erneut herunter."},
    {20018, u"Nicht genügend Speicherplatz"},
    {20019, u"Mindestversion:"},
    {20020, u"Höchstversion:"},
};

const std::map<int32_t, std::u16string> kNone;

}  // namespace

const std::map<int32_t, std::u16string>& defaultMessages(std::string_view language) {
  return language.empty() ? kEnglish : language == "de" ? kGerman : kNone;
}

const std::u16string* defaultMessage(std::string_view key, int32_t id) {
  const auto& table = defaultMessages(key);
  auto it = table.find(id);
  return it == table.end() ? nullptr : &it->second;
}

FilledMessages fillDefaultMessages(ContainerContent& content) {
  FilledMessages filled;
  LocalizedMessages german{"de", {}};
  for (const auto& [id, text] : kEnglish) {
    if (content.messages.count(id)) continue;
    content.messages[id] = text;
    ++filled.english;
    german.messages[id] = kGerman.at(id);
  }
  bool hasGerman = std::any_of(content.localized.begin(), content.localized.end(),
                               [](const LocalizedMessages& set) { return set.key == "de"; });
  if (!hasGerman && !german.messages.empty()) {
    filled.german = static_cast<int>(german.messages.size());
    // First, so that every set of the vendor's own (a later set wins) overrides it.
    content.localized.insert(content.localized.begin(), std::move(german));
  }
  return filled;
}

}  // namespace shipkit::pack

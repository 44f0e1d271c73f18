#include "serial/ComStateHint.h"

#include "tty/PosixSerialDevice.h"

std::string LineSettingsHint(const std::string &port, const std::vector<TRefusedSetting> &refused, TWording wording) {
  if (refused.empty())
    return {};
  const bool de = wording == TWording::German;
  std::string text =
      ResolveSerialDeviceName(port) + (de ? " hat nicht jede Leitungseinstellung übernommen: " : " did not take every line setting: ");
  for (size_t i = 0; i < refused.size(); ++i) {
    const TRefusedSetting &r = refused[i];
    text += (i ? "; " : "") + r.Setting + " " + r.Asked + (de ? " verlangt, " : " asked for, ") + r.Actual +
            (de ? " eingestellt" : " in effect");
  }
  return text + (de ? ". Einstellungen wählen, die dieses Gerät unterstützt." : ". Choose settings this device supports.");
}

std::string HangupHint(const std::string &port, bool waiting, TWording wording) {
  const std::string path = ResolveSerialDeviceName(port);
  if (wording == TWording::German)
    return "Das Gerät an " + path +
           " ist weg (ausgesteckt, zurückgesetzt, oder das Programm am anderen Ende hat die Leitung geschlossen); "
           "die Schnittstelle ist geschlossen." +
           (waiting ? " Telmora wartet auf das Gerät und öffnet die Schnittstelle wieder, sobald es zurück ist." : "");
  return "The device on " + path +
         " went away (unplugged, reset, or the program at its other end closed the line); the port is closed." +
         (waiting ? " Telmora waits for it and opens the port again when it is back." : "");
}

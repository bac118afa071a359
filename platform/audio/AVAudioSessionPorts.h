#pragma once
// How the audio server's sources become the audio session's input ports.
//
// - A monitor (the sound an output plays) is not an input: it gives no port.
// - The port's UID is "pulse:" and the source name; its name is the source's description.
// - Its type comes from the source's properties and its active port, the first rule that applies:
//   a Bluetooth source is a Bluetooth hands-free microphone; a source on the USB bus is USB audio;
//   a source whose form factor is headset or headphone, or whose active port is a headset or
//   headphone microphone, is a headset microphone; an active line-in port is line in; anything
//   else (the machine's internal or analogue microphone, virtual sources) is the built-in
//   microphone.
// - A source with several ports (internal microphone, headset jack, ...) has one data source per
//   port, in the server's order, identified by its index and named by the port's description; the
//   active port is the selected one. A built-in microphone with one port or none has one data
//   source (index 0), named by its port's description, else the port's name, else the source's
//   description: the application tells built-in microphones by their data sources. Other sources
//   with one port or none have no data sources. The server reports no orientation, so data
//   sources have none.
// - Names are well-formed UTF-8 of at most kAVAudioSessionMaxPortNameBytes, cut at a character; a
//   source whose name is longer than a UID may hold, or is not UTF-8, gives no port.
#include <string>

#include "platform/audio/AVAudioSession.h"
#include "platform/audio/PulseAudioConnection.h"

std::string AVAudioSessionPortTypeForSource(const PulseSourceInfo& source);
// The port of a file played as if it were the microphone (UID "file:<path>"): a built-in
// microphone named "File" whose one data source is the file's name.
AVAudioSessionPortDescriptionRef AVAudioSessionPortForFileInput(const std::string& uid);
// The port of a source; none for a monitor.
AVAudioSessionPortDescriptionRef AVAudioSessionPortForSource(const PulseSourceInfo& source);

namespace pulse {
// Asks the server to make `port` the active port of the source (both by their server names), and
// returns without waiting: false with the reason when no connection is ready. A refusal of the
// server is logged when it answers.
bool setSourceActivePort(const std::string& source, const std::string& port, std::string* error = nullptr);
}  // namespace pulse

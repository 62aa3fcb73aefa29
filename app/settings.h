#pragma once
// Settings: the one record of everything the user chooses in the main window (source, input, outputs,
// generator), with its defaults and the JSON form it is persisted in. The store holds the current value,
// applies every change and saves it; this type holds no references and no derived data.
// Threads: a plain value, copied freely and safe anywhere. Only the JSON functions allocate.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/frame_rate.h"
#include "core/source_kind.h"

namespace quillmark {

// Field order is the order of equality and of the JSON keys; each JSON key is the field's name.
struct Settings {
  SourceKind source = SourceKind::ltc;
  std::optional<FrameRate> inputRate;      // forced on both inputs; absent means detected ("Auto")
  std::optional<std::string> ltcInputUID;  // AudioDevice uid of the LTC input device
  std::int64_t ltcInputChannel = 0;        // counted from 0
  std::string mtcInputName;                // MIDI source to follow; empty follows all sources
  double freewheel = 2.0;                  // seconds the clock runs on after the input stops
  bool mtcOutEnabled = false;
  std::string mtcOutName = "Virtual port";  // MIDI destination; the default is our own virtual source
  double mtcLeadMilliseconds = 0.0;         // MTC sent this much earlier (negative: later)
  bool ltcOutEnabled = false;
  std::optional<std::string> ltcOutUID;  // AudioDevice uid of the LTC output device
  std::int64_t ltcOutChannel = 0;        // first output channel, counted from 0
  bool ltcOutPair = false;               // also write the next channel
  double ltcOutLevel = -6.0;             // dBFS; linear amplitude is 10^(level / 20)
  std::int64_t offsetFrames = 0;         // added to the time on every output
  FrameRate generatorRate = FrameRate::fps25;
  std::string generatorStart = "01:00:00:00";  // always "HH:MM:SS:FF", ":" before the frames too
  bool timeOfDay = false;                      // the generator follows the wall clock
  // Art-Net timecode. These came after the fields above, so a record without them is still read, with
  // these defaults. Ports are whole numbers from 0 to 65535.
  bool artnetOutEnabled = false;
  std::string artnetOutAddress =
      "255.255.255.255";  // IPv4 destination; the default reaches the local network
  std::int64_t artnetOutPort = 6454;
  double artnetLeadMilliseconds = 0.0;      // Art-Net sent this much earlier (negative: later)
  std::string artnetInAddress = "0.0.0.0";  // local IPv4 address to listen on; 0.0.0.0 for all
  std::int64_t artnetInPort = 6454;

  bool operator==(const Settings&) const = default;

  // The compact JSON object, UTF-8; the three optional fields are left out when absent. No value when a
  // real is not a finite number (JSON has no form for it), in which case nothing should be written.
  std::optional<std::string> toJSON() const;

  // All fields but the three optional ones and the Art-Net ones are required. A missing required key, a
  // wrong type, a port outside 0...65535 or an unknown raw text for the source or a rate gives no value at
  // all: no field survives on its own. A missing key or an explicit null leaves an optional field absent;
  // a missing Art-Net key keeps its default. Unknown keys are ignored.
  static std::optional<Settings> fromJSON(std::string_view bytes);
};

}  // namespace quillmark
